#include "windows/fit_windows.h"

#include <cstring>
#include <iostream>
#include <iterator>
#include <opencv2/highgui.hpp>

#include "fit/fit_W.h"
#include "fit/height_maximum.h"
#include "fit/optimiser.h"
#include "fit/parameter_table.h"
#include "windows/measuring_window.h"
#include "windows/output_title.h"
#include "windows/view_keys.h"

namespace meravel {

namespace {

struct TrackbarBinding {
  const char* label;
  int& (*field)(FitState& state);  // the value it holds
  FitParameter parameter;          // its range
  void (*callback)(MeasuringWindow& window);
};

const TrackbarBinding kTrackbars[] = {
    {kLambdaTrackbar, [](FitState& s) -> int& { return s.model.lambda_milli; },
     FitParameter::kLambdaMilli, refresh_output_view},
    {kWidthTrackbar, [](FitState& s) -> int& { return s.model.width; }, FitParameter::kWidth,
     refresh_output_view},
    {kHeightTrackbar, [](FitState& s) -> int& { return s.model.height; }, FitParameter::kHeight,
     refresh_output_view},
    {kRotationTrackbar, [](FitState& s) -> int& { return s.model.rotation; },
     FitParameter::kRotation, refresh_output_view},
    {kTranslationXTrackbar, [](FitState& s) -> int& { return s.model.translation_x; },
     FitParameter::kTranslationX, refresh_output_view},
    {kTranslationYTrackbar, [](FitState& s) -> int& { return s.model.translation_y; },
     FitParameter::kTranslationY, refresh_output_view},
    {kCutOffTopTrackbar, [](FitState& s) -> int& { return s.cut_off_top; },
     FitParameter::kCutOffTop, refresh_output_view},
    {kCutOffBottomTrackbar, [](FitState& s) -> int& { return s.cut_off_bottom; },
     FitParameter::kCutOffBottom, refresh_output_view},
    {kShowInputTrackbar, [](FitState& s) -> int& { return s.show_input; }, FitParameter::kShowInput,
     refresh_output_view},
    {kThresholdTrackbar, [](FitState& s) -> int& { return s.threshold; }, FitParameter::kThreshold,
     on_threshold_change},
};

static_assert(std::size(kTrackbars) == kTrackbarCount);

// The user data is the measuring window's entry for the trackbar (its trackbar_callbacks).
void on_trackbar_moved(int position, void* user_data) {
  const auto& callback = *static_cast<const MeasuringWindow::TrackbarCallback*>(user_data);
  MeasuringWindow& window = *callback.window;
  if (window.placing_trackbars) return;
  const TrackbarBinding& binding = kTrackbars[callback.index];
  binding.field(window.state) = position;
  binding.callback(window);
}

const TrackbarBinding* find_binding(const char* label) {
  for (const TrackbarBinding& binding : kTrackbars) {
    if (std::strcmp(binding.label, label) == 0) return &binding;
  }
  return nullptr;
}

void show_binary_view(const FitState& state) {
  if (!state.show_binary || state.binary_display.empty()) return;
  cv::namedWindow(kBinaryWindow, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
  cv::moveWindow(kBinaryWindow, 30, 30);
  cv::imshow(kBinaryWindow, state.binary_display);
}

// Binarises the source again; the distance map belongs to the outline, so it follows it.
void update_outline(FitState& state) {
  rebuild_outline(state);
  show_binary_view(state);
}

void place_trackbars(MeasuringWindow& window, int image_width, int image_height) {
  window.placing_trackbars = true;
  window.callbacks_set = true;
  for (int index = 0; index < kTrackbarCount; ++index) {
    const TrackbarBinding& binding = kTrackbars[index];
    // A second createTrackbar of the same name is ignored by the backend, so maximum and position
    // are placed explicitly every time.
    const int maximum = parameter_maximum(binding.parameter, image_width, image_height);
    cv::createTrackbar(binding.label, kTrackbarsWindow, nullptr, maximum, on_trackbar_moved,
                       &window.trackbar_callbacks[index]);
    cv::setTrackbarMax(binding.label, kTrackbarsWindow, maximum);
    cv::setTrackbarPos(binding.label, kTrackbarsWindow, binding.field(window.state));
  }
  window.placing_trackbars = false;
}

}  // namespace

void setup_fit_windows(MeasuringWindow& window) {
  set_up_fit(window.state);
  show_fit_windows(window);
}

void create_fit_windows(bool show_binary) {
  if (show_binary) {
    cv::namedWindow(kBinaryWindow, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
    cv::moveWindow(kBinaryWindow, 30, 30);
  }
  // The backend's toolbar and status bar would widen an autosize window to about 1900 pixels.
  cv::namedWindow(kOutputWindow, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
  cv::moveWindow(kOutputWindow, 0, 0);
  // Autosize windows cannot be resized, so the trackbar window is a normal one.
  cv::namedWindow(kTrackbarsWindow, cv::WINDOW_NORMAL | cv::WINDOW_GUI_NORMAL);
  cv::resizeWindow(kTrackbarsWindow, 400, 600);
  cv::moveWindow(kTrackbarsWindow, 808, 0);
  cv::namedWindow(kDeviationWindow, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
  cv::moveWindow(kDeviationWindow, 0, 625);
}

void close_window(const char* name) {
  try {
    cv::destroyWindow(name);
  } catch (const cv::Exception&) {
    // not open: nothing to close
  }
}

void close_fit_windows() {
  for (const char* name :
       {kBinaryWindow, kDistanceWindow, kOutputWindow, kTrackbarsWindow, kDeviationWindow}) {
    close_window(name);
  }
}

void show_fit_windows(MeasuringWindow& window) {
  const FitState& state = window.state;
  // Windows that exist already (made while the photograph was read) are only placed again.
  create_fit_windows(state.show_binary);
  show_binary_view(state);
  place_trackbars(window, state.source_image.cols, state.source_image.rows);
  refresh_output_view(window);
}

void refresh_output_view(MeasuringWindow& window) {
  FitState& state = window.state;
  const bool views_drawn = compose_output_view(state, std::cout);
  draw_found_eggs(state.output_display, window.view_keys.eggs, state);
  cv::imshow(kOutputWindow, state.output_display);
  show_output_title(state, window.title);
  if (!views_drawn) return;  // an unscorable model leaves both plots as they were
  if (!state.deviation_image.empty()) cv::imshow(kDeviationWindow, state.deviation_image);
  if (state.show_distance) {
    cv::namedWindow(kDistanceWindow, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
    cv::moveWindow(kDistanceWindow, 20, 20);
    cv::imshow(kDistanceWindow, state.distance_display);
  }
}

void on_threshold_change(MeasuringWindow& window) {
  update_outline(window.state);
  refresh_output_view(window);
}

void set_trackbar(MeasuringWindow& window, const char* label, int value) {
  const TrackbarBinding* binding = find_binding(label);
  if (!binding) return;
  int& field = binding->field(window.state);
  field = value;
  cv::setTrackbarPos(label, kTrackbarsWindow, value);
  const int position = cv::getTrackbarPos(label, kTrackbarsWindow);
  if (position >= 0) field = position;  // -1: no trackbar window, the field keeps the value
}

void reset_lambda(MeasuringWindow& window) {
  window.state.model.lambda_milli = 1000;
  set_trackbar(window, kLambdaTrackbar, 1000);
}

void reset_translation(MeasuringWindow& window) {
  FitState& state = window.state;
  state.model.translation_x = state.outline_center_x;
  state.model.translation_y = state.outline_center_y;
  set_trackbar(window, kTranslationXTrackbar, state.model.translation_x);
  set_trackbar(window, kTranslationYTrackbar, state.model.translation_y);
}

void reset_height(MeasuringWindow& window) {
  FitState& state = window.state;
  state.model.height = state.outline_height;
  set_trackbar(window, kHeightTrackbar, state.model.height);
}

void fit_width_to_outline(MeasuringWindow& window) {
  FitState& state = window.state;
  state.model.width = width_for_outline(state.model, state.peak_abscissa, state.outline_width);
  set_trackbar(window, kWidthTrackbar, state.model.width);
}

void reset_all(MeasuringWindow& window) {
  reset_translation(window);
  reset_height(window);
  reset_lambda(window);
  fit_width_to_outline(window);
}

void set_model_trackbars(MeasuringWindow& window) {
  // The values are taken first: each set runs a refresh, which leaves the fields alone.
  const FitState& state = window.state;
  const int values[] = {state.model.lambda_milli,  state.model.width,
                        state.model.height,        state.model.rotation,
                        state.model.translation_x, state.model.translation_y};
  const char* labels[] = {kLambdaTrackbar,   kWidthTrackbar,        kHeightTrackbar,
                          kRotationTrackbar, kTranslationXTrackbar, kTranslationYTrackbar};
  for (int k = 0; k < 6; ++k) set_trackbar(window, labels[k], values[k]);
}

void optimise(MeasuringWindow& window, double low0, double high0, double low1, double high1,
              double low2, double high2, double low3, double high3, double low4, double high4,
              double low5, double high5, int combination_depth) {
  OptimiserRanges ranges;
  ranges.low = {low0, low1, low2, low3, low4, low5};
  ranges.high = {high0, high1, high2, high3, high4, high5};
  optimise(window, ranges, combination_depth);
}

void optimise(MeasuringWindow& window, const OptimiserRanges& ranges, int combination_depth) {
  FitState& state = window.state;
  std::cout << "Optimising..." << std::endl;
  const ParameterVector result =
      pattern_search(parameter_vector(state.model), ranges.low, ranges.high, combination_depth,
                     [&state](const ParameterVector& p) { return evaluate_parameters(state, p); });

  state.model = truncated_model(result);
  set_model_trackbars(window);
  refresh_output_view(window);
  std::cout << "...optimisation done!" << std::endl;
}

}  // namespace meravel
