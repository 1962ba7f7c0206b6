#include "windows/scale_mode.h"

#include <iostream>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "fit/click_geometry.h"
#include "fit/fit_W.h"
#include "windows/fit_windows.h"

namespace {

struct ScaleMode {
  TwoClicks ends_in_view;
  cv::Point first_in_photo;
  std::optional<ScaleClicks> clicks;
};

ScaleMode mode;

cv::Point photo_point(int x, int y) {
  const FitState& state = fit_state();
  return photo_point_of_click(cv::Point(x, y), state.source_image.size(), state.display_fit_width,
                              state.source_origin_in_photo);
}

// "Output" as it is, with the scale segment from the first end to `end` in view pixels over it.
void show_segment(cv::Point end) {
  const FitState& state = fit_state();
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

void start_scale_mode() {
  fit_state().clicks.disarm();
  mode = ScaleMode();
  mode.ends_in_view.arm();
  cv::setMouseCallback(kOutputWindow, on_scale_click);
  std::cout << "You can click the two ends of a known length (a ruler or scale bar) for the scale. "
               "First one end, then the other."
            << std::endl;
}

void on_scale_click(int event, int x, int y, int, void*) {
  if (event == cv::EVENT_MOUSEMOVE) {
    if (mode.ends_in_view.awaiting_second()) show_segment(cv::Point(x, y));
    return;
  }
  if (event != cv::EVENT_LBUTTONDOWN) return;
  const cv::Point p = photo_point(x, y);
  const bool first = mode.ends_in_view.awaiting_first();
  const bool second = mode.ends_in_view.click(cv::Point(x, y)).has_value();
  if (first) {
    std::cout << "First end is at: (" << p.x << "," << p.y << ")" << std::endl;
    mode.first_in_photo = p;
    show_segment(cv::Point(x, y));
    return;
  }
  if (!second) return;
  std::cout << "Second end is at: (" << p.x << "," << p.y << ")" << std::endl;
  show_segment(cv::Point(x, y));
  mode.clicks = ScaleClicks{cv::Point2d(mode.first_in_photo), cv::Point2d(p)};
}

bool scale_mode_armed() { return mode.ends_in_view.armed(); }

bool scale_clicks_ready() { return mode.clicks.has_value(); }

std::optional<ScaleClicks> take_scale_clicks() {
  std::optional<ScaleClicks> clicks = mode.clicks;
  mode.clicks.reset();
  return clicks;
}

void finish_scale_mode(const ScaleClicks& clicks,
                       const std::function<void(const ScaleClicks&)>& set_scale) {
  if (set_scale) {
    set_scale(clicks);
  } else {
    std::cout << "No scale can be set here: the session has no series to keep it." << std::endl;
  }
  refresh_output_view(0);
}
