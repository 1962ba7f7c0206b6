// Shared by the benchmark programs: a synthetic photograph of one object whose outline is a
// W-curve, the fit state a session would hold on it right after set-up, and the literal
// (unoptimised) refresh that the project's refresh is compared with.
#pragma once

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <ostream>
#include <streambuf>
#include <vector>

#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "reference/literal_energy.h"
#include "tools/demo_photo.h"

using namespace meravel;

// The object: lambda 1.25, 60 % of the image height, about half as wide as high, a little off
// centre and turned by 4 degrees, so no parameter starts at its answer.
inline DemoObject bench_object(cv::Size size) {
  DemoObject object;
  object.lambda = 1.25;
  object.height = 0.6 * size.height;
  object.width = width_for_pixel_width(object.lambda, object.height, 0.5 * object.height);
  object.rotation_deg = 4;
  object.center_x = 0.53 * size.width;
  object.center_y = 0.48 * size.height;
  return object;
}

// A light object on a dark background. (On a light background the largest contour would be the
// background's border just inside the image frame, which the distance map leaves out.)
inline cv::Mat bench_photo(cv::Size size) {
  DemoLook look;
  look.background_level = 50;
  look.object_level = 200;
  return render_demo_photo(size, bench_object(size), look);
}

// The fit state after set-up on `photo` (prepare_fit): the outline at the default threshold 131
// with its distance map, the working images, and the set-up's starting values (width 6W, height
// 3H/4, the model centred) with the main window's default lambda 1.1, no cut-offs, rotation 0
// and the photograph half dimmed.
inline FitState bench_session(const cv::Mat& photo) {
  SessionStart start;
  start.threshold = 131;
  start.lambda = 1.1;
  start.cut_offs = {0, 0};
  FitState state = prepare_fit(photo, start);
  state.model.rotation = 0;
  state.show_input = 50;
  return state;
}

// The session after set-up on the 6000x4000 photograph (any size wider than 4000) or the
// 3000x2000 one, each rendered and set up once, when first needed; callers copy what they change.
inline const FitState& shared_bench_session(cv::Size size) {
  if (size.width > 4000) {
    static const FitState large = bench_session(bench_photo({6000, 4000}));
    return large;
  }
  static const FitState small = bench_session(bench_photo({3000, 2000}));
  return small;
}

// A stream that swallows the refresh's status lines.
struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c; }
};
inline std::ostream& null_stream() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

// One refresh done the literal way: the model, a black overlay blended with the photograph, the
// drawings, the energy with everything recomputed, the bilinear resize. Leaves the view in
// *display and returns the energy.
inline double literal_refresh(FitState& state, cv::Mat* display) {
  const double lambda = state.model.lambda_milli / 1000.0;
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  literal_generate_w_curve(state, lambda, lambda * state.model.width, state.model.height,
                           state.model.rotation, state.model.translation_x,
                           state.model.translation_y, left, right);
  cv::Mat overlay = literal_overlay(state, left, right);
  const double energy = literal_deviation_energy(state, left, right);
  cv::resize(overlay, *display, state.output_display.size(), 0, 0, cv::INTER_LINEAR);
  return energy;
}
