// The fit state and the session's steps over it: each one hands the state's parts to the core's
// operations and keeps what they return.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <opencv2/imgproc.hpp>

#include "fit/fit_internal.h"

namespace meravel {

cv::Size display_size(int image_width, int image_height, bool* fit_width) {
  // Integer arithmetic throughout; an extreme aspect ratio must still leave a showable view.
  int display_width = 800;
  int display_height = 600;
  *fit_width = !(image_height > (6 * image_width) / 8);
  if (*fit_width) {
    display_height = (800 * image_height) / std::max(image_width, 1);
  } else {
    display_width = (600 * image_width) / std::max(image_height, 1);
  }
  return cv::Size(std::max(display_width, 1), std::max(display_height, 1));
}

void FitState::keep_extent(const WCurveExtent& extent) {
  if (extent.widened) peak_abscissa = extent.peak_abscissa;
  if (extent.produced) pixel_width = extent.pixel_width;
}

void find_state_outline(FitState& state) {
  const Outline outline =
      find_outline(state.source_image, state.threshold, &state.outline_storage,
                   state.show_binary ? &state.binary_display : nullptr, state.polarity);
  if (!outline.contour.empty()) {
    state.outline_width = outline.box.width;
    state.outline_height = outline.box.height;
    state.outline_center_x = outline.box.center_x;
    state.outline_center_y = outline.box.center_y;
  }
  state.target.outline_contour = outline.contour;
}

void rebuild_outline(FitState& state) {
  finish_outline_distance(state);
  find_state_outline(state);
  compute_outline_distance(state);
}

void compute_outline_distance(FitState& state) {
  finish_outline_distance(state);
  rebuild_fit_target(state.target, state.target.outline_contour, state.source_image.size(),
                     state.mask_image);
  state.distance_view.release();
}

namespace {

// The view shows the map scaled by 0.01 (a float image shows 1 as white, so 100 pixels and more
// appear white). The scaling works on a copy: the map the energy reads stays exact.
void update_distance_display(FitState& state) {
  cv::Size display = state.distance_display.size();
  if (state.distance_display.empty()) {
    bool fit_width = false;
    display = display_size(state.target.distance_image.cols, state.target.distance_image.rows,
                           &fit_width);
  }
  if (state.distance_view.size() != display) {
    cv::Mat scaled;
    state.target.distance_image.convertTo(scaled, CV_32F, 0.01);
    cv::resize(scaled, state.distance_view, display, 0, 0, cv::INTER_LINEAR);
  }
  state.distance_view.copyTo(state.distance_display);
}

}  // namespace

double deviation_energy(FitState& state, const std::vector<cv::Point>& contour_w_left,
                        const std::vector<cv::Point>& contour_w_right, bool draw_views,
                        bool* views_drawn) {
  bool traced = false;
  double energy = 0;
  // While the map is still being made (the first view of a photograph), the distances along the
  // halves are computed from the outline, unless the Distance view wants the map itself.
  const bool map_pending =
      state.distance_in_progress.valid() &&
      state.distance_in_progress.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
  if (map_pending && !(draw_views && state.show_distance)) {
    energy = deviation_energy_before_map(state.target.outline_contour, state.target.image_size,
                                         contour_w_left, contour_w_right, state.work, state.profile,
                                         &traced, [&state]() -> const cv::Mat& {
                                           finish_outline_distance(state);
                                           return state.target.distance_image;
                                         });
  } else {
    finish_outline_distance(state);
    energy = deviation_energy(state.target, contour_w_left, contour_w_right, state.work,
                              state.profile, &traced);
  }
  const bool drawn = draw_views && traced;
  if (drawn) {
    if (state.show_distance) update_distance_display(state);
    draw_deviation_view(state.profile, state.deviation_width, state.deviation_height,
                        state.deviation_image);
  }
  if (views_drawn) *views_drawn = drawn;
  return energy;
}

double evaluate_parameters(FitState& state, const ParameterVector& p) {
  finish_outline_distance(state);
  WCurveExtent extent;
  const double energy =
      evaluate_model(state.target, state.cut_offs(), p, state.work, std::cerr, &extent);
  state.keep_extent(extent);
  return energy;
}

}  // namespace meravel
