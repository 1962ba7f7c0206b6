// The computing part of the Output view refresh: model, composed view, energy and status line.
//
// The composition is kept between refreshes. Between two refreshes that share the photograph, the
// "Show input" level and the outline, the overlay differs only where the halves were drawn: it is
// the dimmed photograph under the same yellow outline everywhere else. So a refresh dims afresh
// only the boxes of the last halves, which erases them, draws the new halves, and draws the
// outline again on top (the same pixels in the same colour where it already was). The pixels are
// those of a composition from scratch: dimming works pixel by pixel, and a thickness-1 polyline
// sets no pixel outside the box of its points.
#include <iostream>
#include <opencv2/imgproc.hpp>

#include "fit/fit_internal.h"

namespace {

// The photograph dimmed to s per cent on black, in `box` of the overlay.
void dim_source(const cv::Mat& source, cv::Mat& overlay, cv::Rect box, double s) {
  if (box.empty()) return;
  cv::Mat part = overlay(box);
  part.setTo(cv::Scalar::all(0));
  cv::addWeighted(part, 1 - s / 100, source(box), s / 100, 0, part);
}

// Whether the overlay holds the composition of the last refresh for the current photograph,
// "Show input" level and outline. The kept images pin the buffers it was made from and in, so a
// buffer made anew at a freed one's address is never taken for it.
bool composition_current(const FitState& state) {
  return !state.composed_overlay.empty() &&
         state.composed_overlay.data == state.overlay_image.data &&
         state.composed_overlay.size() == state.overlay_image.size() &&
         state.composed_overlay.type() == state.overlay_image.type() &&
         state.composed_source.data == state.source_image.data &&
         state.composed_source.size() == state.source_image.size() &&
         state.composed_source.type() == state.source_image.type() &&
         state.composed_source.step == state.source_image.step &&
         state.composed_overlay.step == state.overlay_image.step &&
         state.composed_show_input == state.show_input &&
         state.composed_outline == state.outline_contour;
}

void compose_overlay(FitState& state, const std::vector<cv::Point>& left,
                     const std::vector<cv::Point>& right) {
  const cv::Mat& source = state.source_image;
  const double s = state.show_input;
  if (composition_current(state)) {
    for (const cv::Rect& box : state.composed_halves_boxes) {
      dim_source(source, state.overlay_image, box, s);
    }
  } else {
    // The photograph dimmed to show_input per cent on black.
    state.overlay_image.create(source.size(), source.type());
    dim_source(source, state.overlay_image, cv::Rect(cv::Point(0, 0), source.size()), s);
    state.composed_source = source;
    state.composed_overlay = state.overlay_image;
    state.composed_show_input = state.show_input;
    state.composed_outline = state.outline_contour;
  }

  // Both halves are open: closing them would add a segment the model does not have.
  const cv::Scalar red(0, 0, 255);
  int box = 0;
  for (const std::vector<cv::Point>* half : {&left, &right}) {
    state.composed_halves_boxes[box++] = clipped_bounding_box(*half, source.size());
    if (half->empty()) continue;
    const cv::Point* points = half->data();
    const int count = static_cast<int>(half->size());
    cv::polylines(state.overlay_image, &points, &count, 1, false, red, 1, cv::LINE_8, 0);
  }
  if (!state.outline_contour.empty()) {
    const std::vector<std::vector<cv::Point>> outline{state.outline_contour};
    cv::drawContours(state.overlay_image, outline, 0, cv::Scalar(0, 255, 255), 1, cv::LINE_8,
                     cv::noArray(), 0);
  }
}

}  // namespace

bool compose_output_view(FitState& state, std::ostream& status) {
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  // A model without points is unscorable: nothing is drawn for it and its energy is +inf.
  state.keep_extent(
      generate_w_curve(parameter_vector(state), state.cut_offs(), left, right, std::cerr));

  bool views_drawn = false;
  if (!state.source_image.empty()) compose_overlay(state, left, right);

  // The halves are drawn above: the energy reuses the curve storages.
  state.energy = deviation_energy(state, left, right, true, &views_drawn);
  status << "energy=" << state.energy;

  if (!state.overlay_image.empty()) {
    cv::Size display = state.output_display.size();
    if (state.output_display.empty()) {
      bool fit_width = false;
      display = display_size(state.overlay_image.cols, state.overlay_image.rows, &fit_width);
    }
    cv::resize(state.overlay_image, state.output_display, display, 0, 0, cv::INTER_LINEAR);
  }

  status << ", lambda=" << state.lambda_milli / 1000.0 << ", "
         << "w=" << (state.lambda_milli / 1000.0) * state.width << " (pixel-w=" << state.pixel_width
         << "), "
         << "h=" << state.height << std::endl;
  return views_drawn;
}
