// The Output view after a run of refreshes must be exactly the view composed from scratch: the
// photograph dimmed on black, the red halves, the yellow outline, resized bilinearly. The refresh
// keeps its composition between calls and redraws only where the model was, so every kind of
// change a session makes is taken in turn, each followed by a comparison of both the full-size
// overlay and the shown view with a literal composition.
#include <gtest/gtest.h>

#include <functional>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>

#include "fit/fit_W.h"
#include "reference/literal_energy.h"

using namespace meravel;

namespace {

// A noisy photograph (every grey level occurs, in every channel) with a bright, egg-shaped object.
cv::Mat photograph(cv::Size size, unsigned seed, cv::Point centre) {
  cv::Mat image(size, CV_8UC3);
  cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0, 256);
  cv::ellipse(image, centre, cv::Size(size.width / 6, size.height / 4), 0, 0, 360,
              cv::Scalar(250, 245, 240), cv::FILLED);
  return image;
}

// The overlay composed step by step from its description.
cv::Mat literal_composition(FitState& scratch, const FitState& state) {
  const double lambda = state.model.lambda_milli / 1000.0;
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  scratch.cut_off_top = state.cut_off_top;
  scratch.cut_off_bottom = state.cut_off_bottom;
  literal_generate_w_curve(scratch, lambda, lambda * state.model.width, state.model.height,
                           state.model.rotation, state.model.translation_x,
                           state.model.translation_y, left, right);
  return literal_overlay(state, left, right);
}

bool same_image(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// The set-up's part that matters here: the working images made anew for the current photograph.
void set_up(FitState& state, int threshold) {
  const cv::Size size = state.source_image.size();
  state.threshold = threshold;
  state.overlay_image = cv::Mat::zeros(size, CV_8UC3);
  state.mask_image = cv::Mat::zeros(size, CV_8UC1);
  state.target.distance_image = cv::Mat::zeros(size, CV_32FC1);
  bool fit_width = false;
  state.output_display = cv::Mat::zeros(display_size(size.width, size.height, &fit_width), CV_8UC3);
  rebuild_outline(state);
}

}  // namespace

TEST(OutputViewComposition, EveryRefreshShowsTheViewComposedFromScratch) {
  FitState state;
  state.deviation_width = 600;
  state.deviation_height = 100;
  // Larger than the display, so that the resize really shrinks.
  state.source_image = photograph({1000, 700}, 1, {480, 340});
  set_up(state, 200);
  ASSERT_FALSE(state.target.outline_contour.empty());
  state.model.lambda_milli = 1100;
  state.model.width = 1400;
  state.model.height = 330;
  state.model.rotation = 0;
  state.model.translation_x = 480;
  state.model.translation_y = 340;
  state.show_input = 60;

  std::mt19937 random(7);
  auto pick = [&random](int low, int high) {
    return low + static_cast<int>(random() % static_cast<unsigned>(high - low + 1));
  };
  const struct {
    const char* name;
    std::function<void()> change;
  } steps[] = {
      {"first refresh", [] {}},
      {"translation x up", [&] { state.model.translation_x += 1; }},
      {"translation x back", [&] { state.model.translation_x -= 1; }},
      {"a jump of the model", [&] { state.model.translation_y += 57; }},
      {"rotation", [&] { state.model.rotation = 33; }},
      {"lambda and width", [&] { state.model.lambda_milli = 1700, state.model.width = 900; }},
      {"show input", [&] { state.show_input = 13; }},
      {"show input at 0", [&] { state.show_input = 0; }},
      {"show input at 100", [&] { state.show_input = 100; }},
      {"cut-offs", [&] { state.cut_off_top = 20, state.cut_off_bottom = 35; }},
      {"the model half outside the image", [&] { state.model.translation_x = 990; }},
      {"the model wholly outside the image", [&] { state.model.translation_x = -5000; }},
      {"the model back over the object", [&] { state.model.translation_x = 470; }},
      {"a threshold without outline", [&] { set_up(state, 255); }},
      {"a new threshold",
       [&] {
         state.threshold = 180;
         rebuild_outline(state);
       }},
      {"a new photograph of the same size, the overlay kept",
       [&] {
         state.source_image = photograph({1000, 700}, 2, {500, 330});
         rebuild_outline(state);
       }},
      {"a cropped photograph with its set-up",
       [&] {
         cv::Mat crop = state.source_image(cv::Rect(200, 100, 640, 520)).clone();
         state.source_image = crop;
         set_up(state, 200);
         state.model.translation_x = 300;
         state.model.translation_y = 230;
       }},
      {"a new photograph where the last one was",
       [&] {
         // The old buffer freed first: the new one may well be made at its address.
         const cv::Size size = state.source_image.size();
         state.source_image.release();
         state.source_image = photograph(size, 3, {320, 260});
         rebuild_outline(state);
       }},
  };
  FitState scratch;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    std::ostringstream status;
    compose_output_view(state, status);
    const cv::Mat expected = literal_composition(scratch, state);
    EXPECT_TRUE(same_image(state.overlay_image, expected));
    cv::Mat expected_display;
    cv::resize(expected, expected_display, state.output_display.size(), 0, 0, cv::INTER_LINEAR);
    EXPECT_TRUE(same_image(state.output_display, expected_display));
  }
  // A run of small random moves, as a dragged trackbar or an optimiser's trackbar sets make them.
  for (int i = 0; i < 25; ++i) {
    SCOPED_TRACE(i);
    state.model.translation_x += pick(-6, 6);
    state.model.translation_y += pick(-6, 6);
    state.model.rotation = (state.model.rotation + pick(0, 20)) % 360;
    state.model.height = pick(150, 400);
    std::ostringstream status;
    compose_output_view(state, status);
    const cv::Mat expected = literal_composition(scratch, state);
    EXPECT_TRUE(same_image(state.overlay_image, expected));
  }
}

// Dimming a part of the photograph gives the same pixels as dimming all of it: for every grey
// level and every "Show input" level, at the start, middle and end of rows of odd widths.
TEST(OutputViewComposition, DimmingAPartEqualsDimmingTheWhole) {
  cv::Mat source(256, 77, CV_8UC3);
  for (int y = 0; y < source.rows; ++y) source.row(y).setTo(cv::Scalar(y, 255 - y, (y * 7) % 256));
  for (int s = 0; s <= 100; ++s) {
    SCOPED_TRACE(s);
    cv::Mat whole = cv::Mat::zeros(source.size(), CV_8UC3);
    cv::addWeighted(whole, 1 - s / 100.0, source, s / 100.0, 0, whole);
    cv::Mat parts = cv::Mat::zeros(source.size(), CV_8UC3);
    for (const cv::Rect box :
         {cv::Rect(0, 0, 13, 256), cv::Rect(13, 0, 51, 256), cv::Rect(64, 0, 13, 256)}) {
      cv::Mat part = parts(box);
      cv::addWeighted(part, 1 - s / 100.0, source(box), s / 100.0, 0, part);
    }
    ASSERT_TRUE(same_image(whole, parts));
  }
}
