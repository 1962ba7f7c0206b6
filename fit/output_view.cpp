// The computing part of the Output view refresh: model, composed view, energy and status line.
//
// The composition is kept between refreshes. Between two refreshes that share the photograph, the
// "Show input" level and the outline, the overlay differs only where the halves were drawn: it is
// the dimmed photograph under the same yellow outline everywhere else. So a refresh dims afresh
// only the boxes of the last halves, which erases them, draws the new halves, and draws the
// outline again on top (the same pixels in the same colour where it already was). The pixels are
// those of a composition from scratch: dimming works pixel by pixel, and a thickness-1 polyline
// sets no pixel outside the box of its points.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <opencv2/imgproc.hpp>

#include "fit/fit_internal.h"
#include "fit/top_end.h"

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

// Sub-pixel coordinates of the view's drawing calls: 4 fractional bits.
constexpr int kShift = 4;
constexpr double kUnit = 1 << kShift;

// Where an image point lies in the view: pixel centres map onto pixel centres.
struct ViewScale {
  double x = 1.0;
  double y = 1.0;
  cv::Point2d origin;  // the image point at the view's corner
  cv::Point2d operator()(cv::Point2d p) const {
    return {(p.x - origin.x + 0.5) * x - 0.5, (p.y - origin.y + 0.5) * y - 0.5};
  }
};

// The view of a zoomed part: the part itself when it fits 800 x 600, else its display size.
cv::Size zoomed_view_size(cv::Size part) {
  if (part.width <= 800 && part.height <= 600) return part;
  bool fit_width = false;
  return display_size(part.width, part.height, &fit_width);
}

cv::Point fixed_point(cv::Point2d p) {
  return cv::Point(cvRound(p.x * kUnit), cvRound(p.y * kUnit));
}

void draw_scaled(cv::Mat& view, const std::vector<cv::Point>& points, bool closed,
                 const cv::Scalar& colour, int thickness, const ViewScale& scale) {
  if (points.empty()) return;
  std::vector<cv::Point> scaled;
  scaled.reserve(points.size());
  for (const cv::Point& p : points) {
    const cv::Point q = fixed_point(scale(cv::Point2d(p)));
    // Many image pixels fall on one view pixel: only the changes are drawn.
    if (scaled.empty() || std::abs(q.x - scaled.back().x) + std::abs(q.y - scaled.back().y) >=
                              static_cast<int>(kUnit) / 2) {
      scaled.push_back(q);
    }
  }
  const cv::Point* data = scaled.data();
  const int count = static_cast<int>(scaled.size());
  cv::polylines(view, &data, &count, 1, closed, colour, thickness, cv::LINE_8, kShift);
}

}  // namespace

void draw_screen_overlays(FitState& state, const std::vector<cv::Point>& left,
                          const std::vector<cv::Point>& right) {
  cv::Mat& view = state.output_display;
  if (view.empty() || state.overlay_image.empty()) return;
  const cv::Rect shown = state.zoom_region.empty()
                             ? cv::Rect(cv::Point(0, 0), state.overlay_image.size())
                             : state.zoom_region;
  ViewScale scale;
  scale.x = static_cast<double>(view.cols) / shown.width;
  scale.y = static_cast<double>(view.rows) / shown.height;
  scale.origin = cv::Point2d(shown.tl());
  const bool reduced = scale.x < 1.0 || scale.y < 1.0;
  const cv::Scalar red(0, 0, 255);
  const cv::Scalar yellow(0, 255, 255);
  const cv::Scalar green(0, 255, 0);
  if (reduced) {
    draw_scaled(view, state.outline_contour, true, yellow, 4, scale);
    draw_scaled(view, left, false, red, 2, scale);
    draw_scaled(view, right, false, red, 2, scale);
  }
  if (left.empty()) return;  // an unscorable model has no ends to show

  const cv::Point2d top = scale(model_top_end(state.model()));
  const cv::Point2d bottom = scale(model_bottom_end(state.model()));
  const cv::Point2d along = top - bottom;
  const double length = std::hypot(along.x, along.y);
  if (length < 1.0) return;
  const int thickness = reduced ? 2 : 1;
  cv::line(view, fixed_point(bottom), fixed_point(top), green, thickness, cv::LINE_8, kShift);
  // The triangle stands beyond the top end, so the model's own pixels stay visible there.
  const cv::Point2d u = along / length;
  const cv::Point2d across(-u.y, u.x);
  const double size = std::clamp(0.12 * length, 8.0, 24.0);
  const cv::Point corners[] = {fixed_point(top + u * size),
                               fixed_point(top + u * 2.0 + across * (size / 2)),
                               fixed_point(top + u * 2.0 - across * (size / 2))};
  cv::fillConvexPoly(view, corners, 3, green, cv::LINE_8, kShift);
}

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
    const cv::Rect zoom = state.zoom_region & cv::Rect(cv::Point(0, 0), state.overlay_image.size());
    if (state.screen_overlays && !zoom.empty()) {
      cv::resize(state.overlay_image(zoom), state.output_display, zoomed_view_size(zoom.size()), 0,
                 0, cv::INTER_LINEAR);
    } else {
      cv::resize(state.overlay_image, state.output_display, display, 0, 0, cv::INTER_LINEAR);
    }
    if (state.screen_overlays) draw_screen_overlays(state, left, right);
  }

  status << ", lambda=" << state.lambda_milli / 1000.0 << ", "
         << "w=" << (state.lambda_milli / 1000.0) * state.width << " (pixel-w=" << state.pixel_width
         << "), "
         << "h=" << state.height << std::endl;
  return views_drawn;
}
