#include "windows/view_keys.h"

#include <iostream>
#include <opencv2/highgui.hpp>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/fit_warnings.h"
#include "fit/segmented_fit.h"
#include "fit/top_end.h"
#include "windows/fit_windows.h"
#include "windows/measuring_window.h"
#include "windows/output_title.h"

namespace meravel {

void switch_polarity(MeasuringWindow& window) {
  FitState& state = window.state;
  const bool dark = state.polarity != ObjectPolarity::kDarkOnLight;
  state.polarity = dark ? ObjectPolarity::kDarkOnLight : ObjectPolarity::kLightOnDark;
  std::cout << (dark ? "Binarisation: dark object on a light ground."
                     : "Binarisation: light object on a dark ground.")
            << std::endl;
  on_threshold_change(window);
}

void find_egg(MeasuringWindow& window) {
  FitState& state = window.state;
  std::cout << "Finding the egg..." << std::endl;
  finish_outline_distance(state);
  // Every candidate traced, as the batch does for a clutch: the chosen one is traced alike.
  const Segmentation segmentation =
      segment_photograph(state.source_image, 640, {}, /*trace_all=*/true);
  remember_found_eggs(window, segmentation);
  const FoundEggs& found = window.view_keys.eggs;
  if (!segmentation.found() && found.current < 0) {
    std::cout << "No egg found: no object stands out from the ground with an egg's shape."
              << std::endl;
    return;
  }
  // Touching eggs cut apart, none of them found whole: the most egg-like of them.
  if (segmentation.found()) {
    use_found_egg(window, segmentation);
  } else {
    take_egg(window, found.eggs[found.current]);
  }
  tell_found_eggs(window);
}

void use_found_egg(MeasuringWindow& window, const Segmentation& segmentation) {
  FitState& state = window.state;
  // The trackbar's move finds the threshold's outline first; the egg's replaces it.
  state.polarity = segmentation.polarity;
  set_trackbar(window, kThresholdTrackbar, segmentation.threshold);
  take_segmented_outline(state, segmentation);
  compute_outline_distance(state);
  window.view_keys.found_egg = {state.source_image, state.target.outline_contour,
                                segmentation.chosen_score(), segmentation.runner_up_score()};
  note_egg_in_title(window);
  refresh_output_view(window);
  std::cout << "Egg found: threshold " << segmentation.threshold << ", "
            << (segmentation.polarity == ObjectPolarity::kDarkOnLight ? "dark on light"
                                                                      : "light on dark")
            << ", score " << segmentation.chosen_score() << " (next best "
            << segmentation.runner_up_score() << ")." << std::endl;
}

bool outline_is_found_egg(const ViewKeysMemory& memory, const FitState& state, double* score,
                          double* runner_up) {
  const ViewKeysMemory::FoundEgg& found_egg = memory.found_egg;
  if (found_egg.source.empty() || found_egg.source.data != state.source_image.data ||
      found_egg.source.size() != state.source_image.size() ||
      found_egg.outline != state.target.outline_contour)
    return false;
  *score = found_egg.score;
  *runner_up = found_egg.runner_up;
  return true;
}

void flip_top(MeasuringWindow& window) {
  FitState& state = window.state;
  ViewKeysMemory::Flip& last_flip = window.view_keys.last_flip;
  const bool undo = !last_flip.source.empty() && last_flip.source.data == state.source_image.data &&
                    last_flip.source.size() == state.source_image.size() &&
                    last_flip.after == state.model;
  std::cout << "Optimising..." << std::endl;
  if (undo) {
    state.model = last_flip.before;
    last_flip = ViewKeysMemory::Flip();
  } else {
    const ModelParameters before = state.model;
    const AutoFitResult refined =
        refine_fit(state.target, state.cut_offs(), flipped_model(before), state.work, std::cerr);
    state.model = refined.model;
    last_flip = ViewKeysMemory::Flip{state.source_image, before, state.model};
  }
  set_model_trackbars(window);
  refresh_output_view(window);
  std::cout << "...optimisation done!" << std::endl;
}

void keep_model_in_new_view(MeasuringWindow& window, const ModelParameters& before,
                            cv::Point shift) {
  FitState& state = window.state;
  ModelParameters moved = before;
  moved.translation_x += shift.x;
  moved.translation_y += shift.y;
  if (before.height <= 0 || before.lambda_milli <= 0 ||
      model_reaches_border(moved, state.cut_offs(), state.source_image.size())) {
    return;
  }
  state.model = moved;
  set_model_trackbars(window);
  refresh_output_view(window);
}

namespace {

void on_zoom_click(int event, int x, int y, int, void* user_data) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  MeasuringWindow& window = *static_cast<MeasuringWindow*>(user_data);
  FitState& state = window.state;
  const cv::Point p =
      image_point_of_click(cv::Point(x, y), state.source_image.size(), state.display_fit_width);
  const auto corners = state.clicks.click(p);
  if (!corners) return;
  const cv::Rect part = region_between_corners(corners->first, corners->second) &
                        cv::Rect(cv::Point(0, 0), state.source_image.size());
  if (part.width >= 2 && part.height >= 2) state.zoom_region = part;
  refresh_output_view(window);
}

}  // namespace

cv::Point zoomed_image_point(const FitState& state, cv::Point click) {
  const cv::Rect& part = state.zoom_region;
  const cv::Size view = state.output_display.size();
  return {part.x + click.x * part.width / std::max(view.width, 1),
          part.y + click.y * part.height / std::max(view.height, 1)};
}

void zoom_key(MeasuringWindow& window) {
  FitState& state = window.state;
  if (!state.zoom_region.empty()) {
    state.zoom_region = cv::Rect();
    bool fit_width = false;
    state.output_display = cv::Mat::zeros(
        display_size(state.source_image.cols, state.source_image.rows, &fit_width), CV_8UC3);
    refresh_output_view(window);
    return;
  }
  state.clicks.arm();
  cv::setMouseCallback(kOutputWindow, on_zoom_click, &window);
  window.callbacks_set = true;
  window.title.prompt = "click two corners of the part to show";
  show_output_title(state, window.title);
}

}  // namespace meravel
