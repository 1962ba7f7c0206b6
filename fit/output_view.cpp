// The computing part of the Output view refresh: model, composed view, energy and status line.
//
// The composition is kept between refreshes. Between two refreshes that share the photograph, the
// "Show input" level and the outline, the overlay differs only where the halves were drawn: it is
// the dimmed photograph under the same yellow outline everywhere else. So a refresh dims afresh
// only the boxes of the last halves, which erases them, draws the new halves, and draws the
// outline again on top (the same pixels in the same colour where it already was). The pixels are
// those of a composition from scratch: dimming works pixel by pixel, and a thickness-1 polyline
// sets no pixel outside the box of its points.
//
// The first view of a photograph shrinks it by up to 7.5 times, and the bilinear resize then reads
// only two rows for each row of the view. So the first composition after the overlapped set-up dims
// only those rows, and the rest follows (complete_overlay) while the distance map is finished.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <opencv2/imgproc.hpp>

#include "fit/fit_internal.h"
#include "fit/top_end.h"

namespace meravel {

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
         state.composed_outline == state.target.outline_contour;
}

// The rows of an image of `rows` rows that a bilinear resize to `view_rows` rows reads, marked 1.
// The resize takes for view row dy the rows floor(f) and floor(f) + 1 (clamped to the image),
// f = (dy + 0.5) * rows / view_rows - 0.5 in single precision; near a whole f the rows beside
// are marked as well, so that no rounding of f can reach an unmarked row.
std::vector<unsigned char> rows_read_by_resize(int rows, int view_rows) {
  std::vector<unsigned char> read(static_cast<std::size_t>(rows), 0);
  const double scale = 1.0 / (static_cast<double>(view_rows) / rows);
  const auto mark = [&read, rows](int y) {
    read[static_cast<std::size_t>(std::clamp(y, 0, rows - 1))] = 1;
  };
  for (int dy = 0; dy < view_rows; ++dy) {
    const float f = static_cast<float>((dy + 0.5) * scale - 0.5);
    const int y = static_cast<int>(std::floor(f));
    mark(y);
    mark(y + 1);
    const float fraction = f - static_cast<float>(y);
    if (fraction < 1e-3f) mark(y - 1);
    if (fraction > 1 - 1e-3f) mark(y + 2);
  }
  return read;
}

// Dims the rows of `source` into `overlay` where `rows` holds `which`, run by run of such rows.
void dim_rows(const cv::Mat& source, cv::Mat& overlay, const std::vector<unsigned char>& rows,
              unsigned char which, double s) {
  const int count = static_cast<int>(rows.size());
  for (int y = 0; y < count;) {
    if (rows[static_cast<std::size_t>(y)] != which) {
      ++y;
      continue;
    }
    int end = y;
    while (end < count && rows[static_cast<std::size_t>(end)] == which) ++end;
    dim_source(source, overlay, cv::Rect(0, y, source.cols, end - y), s);
    y = end;
  }
}

// Both halves are open: closing them would add a segment the model does not have.
void draw_halves_and_outline(FitState& state, const std::vector<cv::Point>& left,
                             const std::vector<cv::Point>& right) {
  const cv::Scalar red(0, 0, 255);
  for (const std::vector<cv::Point>* half : {&left, &right}) {
    if (half->empty()) continue;
    const cv::Point* points = half->data();
    const int count = static_cast<int>(half->size());
    cv::polylines(state.overlay_image, &points, &count, 1, false, red, 1, cv::LINE_8, 0);
  }
  if (!state.target.outline_contour.empty()) {
    const std::vector<std::vector<cv::Point>> outline{state.target.outline_contour};
    cv::drawContours(state.overlay_image, outline, 0, cv::Scalar(0, 255, 255), 1, cv::LINE_8,
                     cv::noArray(), 0);
  }
}

void compose_overlay(FitState& state, const std::vector<cv::Point>& left,
                     const std::vector<cv::Point>& right, cv::Size view) {
  const cv::Mat& source = state.source_image;
  const double s = state.show_input;
  const bool rows_first = state.compose_view_rows_first;
  state.compose_view_rows_first = false;
  if (composition_current(state)) {
    complete_overlay(state);
    for (const cv::Rect& box : state.composed_halves_boxes) {
      dim_source(source, state.overlay_image, box, s);
    }
  } else {
    // The photograph dimmed to show_input per cent on black: for a first view that shrinks the
    // photograph from its whole, the rows the resize reads first.
    state.overlay_image.create(source.size(), source.type());
    state.overlay_rows_pending.clear();
    state.pending_halves[0].clear();
    state.pending_halves[1].clear();
    std::vector<unsigned char> read;
    if (rows_first && state.zoom_region.empty() && view.height < source.rows) {
      read = rows_read_by_resize(source.rows, view.height);
    }
    if (std::find(read.begin(), read.end(), 0) != read.end()) {
      dim_rows(source, state.overlay_image, read, 1, s);
      state.overlay_rows_pending = std::move(read);
      state.pending_halves[0] = left;
      state.pending_halves[1] = right;
    } else {
      dim_source(source, state.overlay_image, cv::Rect(cv::Point(0, 0), source.size()), s);
    }
    state.composed_source = source;
    state.composed_overlay = state.overlay_image;
    state.composed_show_input = state.show_input;
    state.composed_outline = state.target.outline_contour;
  }
  int box = 0;
  for (const std::vector<cv::Point>* half : {&left, &right}) {
    state.composed_halves_boxes[box++] = clipped_bounding_box(*half, source.size());
  }
  draw_halves_and_outline(state, left, right);
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
    draw_scaled(view, state.target.outline_contour, true, yellow, 4, scale);
    draw_scaled(view, left, false, red, 2, scale);
    draw_scaled(view, right, false, red, 2, scale);
  }
  if (left.empty()) return;  // an unscorable model has no ends to show

  const cv::Point2d top = scale(model_top_end(state.model));
  const cv::Point2d bottom = scale(model_bottom_end(state.model));
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

void complete_overlay(FitState& state) {
  if (state.overlay_rows_pending.empty()) return;
  if (composition_current(state)) {
    dim_rows(state.source_image, state.overlay_image, state.overlay_rows_pending, 0,
             state.composed_show_input);
    draw_halves_and_outline(state, state.pending_halves[0], state.pending_halves[1]);
  }
  state.overlay_rows_pending.clear();
  state.pending_halves[0].clear();
  state.pending_halves[1].clear();
}

bool compose_output_view(FitState& state, std::ostream& status) {
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  // A model without points is unscorable: nothing is drawn for it and its energy is +inf.
  state.keep_extent(
      generate_w_curve(parameter_vector(state.model), state.cut_offs(), left, right, std::cerr));

  bool views_drawn = false;
  if (!state.source_image.empty()) {
    bool fit_width = false;
    const cv::Size view =
        state.output_display.empty()
            ? display_size(state.source_image.cols, state.source_image.rows, &fit_width)
            : state.output_display.size();
    compose_overlay(state, left, right, view);
  }

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

  status << ", lambda=" << state.model.lambda_milli / 1000.0 << ", "
         << "w=" << (state.model.lambda_milli / 1000.0) * state.model.width
         << " (pixel-w=" << state.pixel_width << "), "
         << "h=" << state.model.height << std::endl;
  return views_drawn;
}

}  // namespace meravel
