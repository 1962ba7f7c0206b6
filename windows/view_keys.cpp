#include "windows/view_keys.h"

#include <iostream>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>

#include "fit/auto_fit.h"
#include "fit/click_geometry.h"
#include "fit/egg_choice.h"
#include "fit/fit_W.h"
#include "fit/fit_warnings.h"
#include "fit/segmented_fit.h"
#include "fit/top_end.h"
#include "windows/automatic_fit.h"
#include "windows/egg_view.h"
#include "windows/fit_windows.h"
#include "windows/output_title.h"

namespace {

// The last flip: the values it started from and those it ended with, on the photograph it was
// made on (held, so that a photograph loaded anew is never taken for it).
struct Flip {
  cv::Mat source;
  ModelParameters before;
  ModelParameters after;
};
Flip last_flip;

// The egg key e found last, on the photograph it was found in (held, as for the flip).
struct FoundEgg {
  cv::Mat source;
  std::vector<cv::Point> outline;
  double score = 0.0;
  double runner_up = 0.0;
  // Every plausible egg key e found there, numbered (egg_choice.h), the one measured (a position
  // in `eggs`), which were saved in this session, and a click on "Output" not yet handled.
  Segmentation segmentation;
  std::vector<NumberedEgg> eggs;
  int current = -1;
  std::vector<bool> saved;
  std::optional<cv::Point> clicked;
};
FoundEgg found_egg;

// Whether the numbered eggs were found on the image the state shows now.
bool eggs_on(const FitState& state) {
  return !found_egg.eggs.empty() && !found_egg.source.empty() &&
         found_egg.source.data == state.source_image.data &&
         found_egg.source.size() == state.source_image.size();
}

// The segmentation's chosen egg becomes the state's outline and target, its threshold and
// polarity set; one line says what was found.
void use_found_egg(FitState& state, const Segmentation& segmentation) {
  // The trackbar's move finds the threshold's outline first; the egg's replaces it.
  state.polarity = segmentation.polarity;
  set_trackbar(kThresholdTrackbar, segmentation.threshold);
  take_segmented_outline(state, segmentation);
  compute_outline_distance(state);
  found_egg.source = state.source_image;
  found_egg.outline = state.target.outline_contour;
  found_egg.score = segmentation.chosen_score();
  found_egg.runner_up = segmentation.runner_up_score();
  refresh_output_view(0);
  std::cout << "Egg found: threshold " << segmentation.threshold << ", "
            << (segmentation.polarity == ObjectPolarity::kDarkOnLight ? "dark on light"
                                                                      : "light on dark")
            << ", score " << segmentation.chosen_score() << " (next best "
            << segmentation.runner_up_score() << ")." << std::endl;
}

void on_egg_click(int event, int x, int y, int, void*) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  const FitState& state = fit_state();
  found_egg.clicked = state.zoom_region.empty()
                          ? image_point_of_click(cv::Point(x, y), state.source_image.size(),
                                                 state.display_fit_width)
                          : zoomed_image_point(cv::Point(x, y));
}

}  // namespace

void switch_polarity() {
  FitState& state = fit_state();
  const bool dark = state.polarity != ObjectPolarity::kDarkOnLight;
  state.polarity = dark ? ObjectPolarity::kDarkOnLight : ObjectPolarity::kLightOnDark;
  std::cout << (dark ? "Binarisation: dark object on a light ground."
                     : "Binarisation: light object on a dark ground.")
            << std::endl;
  on_threshold_change(0);
}

void find_egg() {
  FitState& state = fit_state();
  std::cout << "Finding the egg..." << std::endl;
  finish_outline_distance(state);
  const Segmentation segmentation = segment_photograph(state.source_image);
  if (!segmentation.found()) {
    std::cout << "No egg found: no object stands out from the ground with an egg's shape."
              << std::endl;
    return;
  }
  found_egg = FoundEgg();
  found_egg.segmentation = segmentation;
  found_egg.eggs = numbered_eggs(segmentation);
  found_egg.saved.assign(found_egg.eggs.size(), false);
  for (size_t n = 0; n < found_egg.eggs.size(); ++n) {
    if (found_egg.eggs[n].candidate == segmentation.chosen) found_egg.current = static_cast<int>(n);
  }
  use_found_egg(state, segmentation);
  if (found_egg.eggs.size() > 1) {
    listen_for_egg_clicks();
    std::cout << found_egg.eggs.size() << " eggs found, this is egg " << found_egg.current + 1
              << ": click another one or press g for the next." << std::endl;
  }
}

void choose_egg(int position) {
  FitState& state = fit_state();
  if (!eggs_on(state) || position < 0 || position >= static_cast<int>(found_egg.eggs.size()))
    return;
  std::cout << "Egg " << position + 1 << " of " << found_egg.eggs.size() << "..." << std::endl;
  finish_outline_distance(state);
  const Segmentation chosen = segmentation_choosing(state.source_image, found_egg.segmentation,
                                                    found_egg.eggs[position].candidate);
  if (!chosen.found()) return;
  found_egg.current = position;
  use_found_egg(state, chosen);
  automatic_fit();
}

void next_egg_key() {
  const FitState& state = fit_state();
  if (!eggs_on(state)) {
    std::cout << "No eggs to choose from: key e finds them." << std::endl;
    return;
  }
  if (found_egg.eggs.size() < 2) {
    std::cout << "Only one egg was found." << std::endl;
    return;
  }
  choose_egg((found_egg.current + 1) % static_cast<int>(found_egg.eggs.size()));
}

void listen_for_egg_clicks() {
  if (found_egg.eggs.size() < 2 || !eggs_on(fit_state())) return;
  cv::setMouseCallback(kOutputWindow, on_egg_click);
}

bool egg_click_waiting() { return found_egg.clicked.has_value(); }

void choose_clicked_egg() {
  const std::optional<cv::Point> clicked = found_egg.clicked;
  found_egg.clicked.reset();
  if (!clicked || !eggs_on(fit_state())) return;
  const int position = egg_under(found_egg.eggs, found_egg.segmentation, *clicked);
  if (position >= 0 && position != found_egg.current) choose_egg(position);
}

EggPlace current_egg_place(const FitState& state) {
  EggPlace place;
  double score = 0.0, runner_up = 0.0;
  if (!eggs_on(state) || found_egg.current < 0 || !outline_is_found_egg(state, &score, &runner_up))
    return place;
  const std::vector<cv::Point>& outline = state.target.outline_contour;
  const cv::Moments m = cv::moments(outline);
  const cv::Rect box = cv::boundingRect(outline);
  const cv::Point2d origin(state.source_origin_in_photo);
  place.index = found_egg.current + 1;
  place.count = static_cast<int>(found_egg.eggs.size());
  place.centre_in_photo = origin + (m.m00 > 0 ? cv::Point2d(m.m10 / m.m00, m.m01 / m.m00)
                                              : cv::Point2d(box.x + (box.width - 1) / 2.0,
                                                            box.y + (box.height - 1) / 2.0));
  place.box_in_photo = box + state.source_origin_in_photo;
  return place;
}

bool move_to_next_unsaved_egg() {
  const FitState& state = fit_state();
  if (!eggs_on(state) || found_egg.current < 0) return false;
  found_egg.saved[found_egg.current] = true;
  const int next = next_unsaved_egg(found_egg.saved, found_egg.current);
  if (next < 0) return false;
  choose_egg(next);
  return true;
}

void draw_found_eggs(cv::Mat& view, const FitState& state) {
  if (found_egg.eggs.size() < 2 || !eggs_on(state)) return;
  std::vector<std::vector<cv::Point>> outlines;
  for (const NumberedEgg& egg : found_egg.eggs) {
    outlines.push_back(found_egg.segmentation.candidates[egg.candidate].outline);
  }
  const cv::Rect shown = state.zoom_region.empty()
                             ? cv::Rect(cv::Point(0, 0), state.source_image.size())
                             : state.zoom_region;
  draw_numbered_eggs(view, shown, outlines, found_egg.current);
}

void forget_found_eggs() { found_egg = FoundEgg(); }

bool outline_is_found_egg(const FitState& state, double* score, double* runner_up) {
  if (found_egg.source.empty() || found_egg.source.data != state.source_image.data ||
      found_egg.source.size() != state.source_image.size() ||
      found_egg.outline != state.target.outline_contour)
    return false;
  *score = found_egg.score;
  *runner_up = found_egg.runner_up;
  return true;
}

void flip_top() {
  FitState& state = fit_state();
  const bool undo = !last_flip.source.empty() && last_flip.source.data == state.source_image.data &&
                    last_flip.source.size() == state.source_image.size() &&
                    last_flip.after == state.model;
  std::cout << "Optimising..." << std::endl;
  if (undo) {
    state.model = last_flip.before;
    last_flip = Flip();
  } else {
    const ModelParameters before = state.model;
    const AutoFitResult refined =
        refine_fit(state.target, state.cut_offs(), flipped_model(before), state.work, std::cerr);
    state.model = refined.model;
    last_flip = Flip{state.source_image, before, state.model};
  }
  set_model_trackbars();
  refresh_output_view(0);
  std::cout << "...optimisation done!" << std::endl;
}

void keep_model_in_new_view(const ModelParameters& before, cv::Point shift) {
  FitState& state = fit_state();
  ModelParameters moved = before;
  moved.translation_x += shift.x;
  moved.translation_y += shift.y;
  if (before.height <= 0 || before.lambda_milli <= 0 ||
      model_reaches_border(moved, state.cut_offs(), state.source_image.size())) {
    return;
  }
  state.model = moved;
  set_model_trackbars();
  refresh_output_view(0);
}

namespace {

void on_zoom_click(int event, int x, int y, int, void*) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  FitState& state = fit_state();
  const cv::Point p =
      image_point_of_click(cv::Point(x, y), state.source_image.size(), state.display_fit_width);
  const auto corners = state.clicks.click(p);
  if (!corners) return;
  const cv::Rect part = region_between_corners(corners->first, corners->second) &
                        cv::Rect(cv::Point(0, 0), state.source_image.size());
  if (part.width >= 2 && part.height >= 2) state.zoom_region = part;
  refresh_output_view(0);
}

}  // namespace

cv::Point zoomed_image_point(cv::Point click) {
  const FitState& state = fit_state();
  const cv::Rect& part = state.zoom_region;
  const cv::Size view = state.output_display.size();
  return {part.x + click.x * part.width / std::max(view.width, 1),
          part.y + click.y * part.height / std::max(view.height, 1)};
}

void zoom_key() {
  FitState& state = fit_state();
  if (!state.zoom_region.empty()) {
    state.zoom_region = cv::Rect();
    bool fit_width = false;
    state.output_display = cv::Mat::zeros(
        display_size(state.source_image.cols, state.source_image.rows, &fit_width), CV_8UC3);
    refresh_output_view(0);
    return;
  }
  state.clicks.arm();
  cv::setMouseCallback(kOutputWindow, on_zoom_click);
  set_output_prompt("click two corners of the part to show");
  show_output_title();
}
