#include "windows/scale_mode.h"

#include <iostream>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "fit/click_geometry.h"
#include "fit/fit_W.h"
#include "windows/fit_windows.h"
#include "windows/measuring_window.h"

namespace meravel {

namespace {

cv::Point photo_point(const FitState& state, int x, int y) {
  return photo_point_of_click(cv::Point(x, y), state.source_image.size(), state.display_fit_width,
                              state.source_origin_in_photo);
}

// "Output" as it is, with the scale segment from the first end to `end` in view pixels over it.
void show_segment(const FitState& state, const KnownLengthClicks& mode, cv::Point end) {
  if (state.output_display.empty()) return;
  cv::Mat view = state.output_display.clone();
  const cv::Scalar green(0, 255, 0);
  cv::line(view, mode.ends_in_view.first(), end, green, 1, cv::LINE_AA);
  for (const cv::Point& p : {mode.ends_in_view.first(), end}) {
    cv::circle(view, p, 3, green, 1, cv::LINE_AA);
  }
  cv::imshow(kOutputWindow, view);
}

}  // namespace

void start_scale_mode(MeasuringWindow& window) {
  window.state.clicks.disarm();
  window.scale_mode = KnownLengthClicks();
  window.scale_mode.ends_in_view.arm();
  cv::setMouseCallback(kOutputWindow, on_scale_click, &window);
  window.callbacks_set = true;
  std::cout << "You can click the two ends of a known length (a ruler or scale bar) for the scale. "
               "First one end, then the other."
            << std::endl;
}

void on_scale_click(int event, int x, int y, int, void* user_data) {
  MeasuringWindow& window = *static_cast<MeasuringWindow*>(user_data);
  const FitState& state = window.state;
  KnownLengthClicks& mode = window.scale_mode;
  if (event == cv::EVENT_MOUSEMOVE) {
    if (mode.ends_in_view.awaiting_second()) show_segment(state, mode, cv::Point(x, y));
    return;
  }
  if (event != cv::EVENT_LBUTTONDOWN) return;
  const cv::Point p = photo_point(state, x, y);
  const bool first = mode.ends_in_view.awaiting_first();
  const bool second = mode.ends_in_view.click(cv::Point(x, y)).has_value();
  if (first) {
    std::cout << "First end is at: (" << p.x << "," << p.y << ")" << std::endl;
    mode.first_in_photo = p;
    show_segment(state, mode, cv::Point(x, y));
    return;
  }
  if (!second) return;
  std::cout << "Second end is at: (" << p.x << "," << p.y << ")" << std::endl;
  show_segment(state, mode, cv::Point(x, y));
  mode.clicks = ScaleClicks{cv::Point2d(mode.first_in_photo), cv::Point2d(p)};
}

std::optional<ScaleClicks> take_scale_clicks(KnownLengthClicks& mode) {
  std::optional<ScaleClicks> clicks = mode.clicks;
  mode.clicks.reset();
  return clicks;
}

void finish_scale_mode(MeasuringWindow& window, const ScaleClicks& clicks,
                       const std::function<void(const ScaleClicks&)>& set_scale) {
  if (set_scale) {
    set_scale(clicks);
  } else {
    std::cout << "No scale can be set here: the session has no series to keep it." << std::endl;
  }
  refresh_output_view(window);
}

}  // namespace meravel
