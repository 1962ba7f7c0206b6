#include "windows/egg_keys.h"

#include <iostream>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "fit/click_geometry.h"
#include "fit/cut_edge.h"
#include "windows/automatic_fit.h"
#include "windows/egg_view.h"
#include "windows/fit_windows.h"
#include "windows/measuring_window.h"

namespace meravel {

namespace {

// Whether the eggs were found on the image the state shows now.
bool eggs_on(const FoundEggs& found, const FitState& state) {
  return !found.eggs.empty() && !found.source.empty() &&
         found.source.data == state.source_image.data &&
         found.source.size() == state.source_image.size();
}

void on_egg_click(int event, int x, int y, int, void* user_data) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  MeasuringWindow& window = *static_cast<MeasuringWindow*>(user_data);
  const FitState& state = window.state;
  window.view_keys.eggs.clicked =
      state.zoom_region.empty() ? image_point_of_click(cv::Point(x, y), state.source_image.size(),
                                                       state.display_fit_width)
                                : zoomed_image_point(state, cv::Point(x, y));
}

}  // namespace

void remember_found_eggs(MeasuringWindow& window, const Segmentation& segmentation) {
  FoundEggs& found = window.view_keys.eggs;
  found = FoundEggs();
  found.source = window.state.source_image;
  found.eggs = find_clutch(segmentation, found.source.size()).eggs;
  found.saved.assign(found.eggs.size(), false);
  for (size_t n = 0; n < found.eggs.size(); ++n) {
    if (segmentation.found() &&
        found.eggs[n].outline == segmentation.candidates[segmentation.chosen].outline)
      found.current = static_cast<int>(n);
  }
  if (found.current >= 0 || segmentation.found()) return;
  for (size_t n = 0; n < found.eggs.size(); ++n) {
    if (found.current < 0 || found.eggs[n].score > found.eggs[found.current].score)
      found.current = static_cast<int>(n);
  }
}

Segmentation egg_segmentation(const ClutchEgg& egg) {
  Segmentation chosen;
  chosen.candidates.push_back({});
  chosen.candidates[0].outline = egg.outline;
  chosen.candidates[0].score = egg.score;
  chosen.candidates[0].traced = true;
  chosen.chosen = 0;
  chosen.threshold = egg.threshold;
  chosen.polarity = egg.polarity;
  return chosen;
}

void tell_found_eggs(MeasuringWindow& window) {
  const FoundEggs& found = window.view_keys.eggs;
  if (found.eggs.size() < 2) return;
  listen_for_egg_clicks(window);
  std::cout << found.eggs.size() << " eggs found, this is egg " << found.current + 1
            << ": click another one or press g for the next." << std::endl;
}

void note_egg_in_title(MeasuringWindow& window) {
  const FoundEggs& found = window.view_keys.eggs;
  OutputTitle& title = window.title;
  title.egg_count = eggs_on(found, window.state) ? static_cast<int>(found.eggs.size()) : 0;
  title.egg_number = found.current + 1;
  title.egg_outline = window.state.target.outline_contour;
}

void take_egg(MeasuringWindow& window, const ClutchEgg& egg) {
  use_found_egg(window, egg_segmentation(egg));
  if (egg.cut.empty()) return;
  FitState& state = window.state;
  finish_outline_distance(state);
  leave_cut_out(state.target, egg.cut);
  state.distance_view.release();
  refresh_output_view(window);
}

void choose_egg(MeasuringWindow& window, int position) {
  FitState& state = window.state;
  FoundEggs& found = window.view_keys.eggs;
  if (!eggs_on(found, state) || position < 0 || position >= static_cast<int>(found.eggs.size()))
    return;
  std::cout << "Egg " << position + 1 << " of " << found.eggs.size() << "..." << std::endl;
  finish_outline_distance(state);
  found.current = position;
  take_egg(window, found.eggs[position]);
  automatic_fit(window);
}

void next_egg_key(MeasuringWindow& window) {
  const FoundEggs& found = window.view_keys.eggs;
  if (!eggs_on(found, window.state)) {
    std::cout << "No eggs to choose from: key e finds them." << std::endl;
    return;
  }
  if (found.eggs.size() < 2) {
    std::cout << "Only one egg was found." << std::endl;
    return;
  }
  choose_egg(window, (found.current + 1) % static_cast<int>(found.eggs.size()));
}

void listen_for_egg_clicks(MeasuringWindow& window) {
  if (window.view_keys.eggs.eggs.size() < 2 || !eggs_on(window.view_keys.eggs, window.state))
    return;
  cv::setMouseCallback(kOutputWindow, on_egg_click, &window);
  window.callbacks_set = true;
}

bool egg_click_waiting(const MeasuringWindow& window) {
  return window.view_keys.eggs.clicked.has_value();
}

void choose_clicked_egg(MeasuringWindow& window) {
  FoundEggs& found = window.view_keys.eggs;
  const std::optional<cv::Point> clicked = found.clicked;
  found.clicked.reset();
  if (!clicked || !eggs_on(found, window.state)) return;
  const int position = clutch_egg_under(found.eggs, *clicked);
  if (position >= 0 && position != found.current) choose_egg(window, position);
}

EggPlace current_egg_place(const MeasuringWindow& window) {
  EggPlace place;
  const FitState& state = window.state;
  const FoundEggs& found = window.view_keys.eggs;
  double score = 0.0, runner_up = 0.0;
  if (!eggs_on(found, state) || found.current < 0 ||
      !outline_is_found_egg(window.view_keys, state, &score, &runner_up))
    return place;
  const std::vector<cv::Point>& outline = state.target.outline_contour;
  const cv::Moments m = cv::moments(outline);
  const cv::Rect box = cv::boundingRect(outline);
  place.index = found.current + 1;
  place.count = static_cast<int>(found.eggs.size());
  place.centre_in_photo =
      cv::Point2d(state.source_origin_in_photo) +
      (m.m00 > 0 ? cv::Point2d(m.m10 / m.m00, m.m01 / m.m00)
                 : cv::Point2d(box.x + (box.width - 1) / 2.0, box.y + (box.height - 1) / 2.0));
  place.box_in_photo = box + state.source_origin_in_photo;
  place.touching = found.eggs[found.current].touching;
  return place;
}

bool move_to_next_unsaved_egg(MeasuringWindow& window) {
  FoundEggs& found = window.view_keys.eggs;
  if (!eggs_on(found, window.state) || found.current < 0) return false;
  found.saved[found.current] = true;
  const int next = next_unsaved_egg(found.saved, found.current);
  if (next < 0) return false;
  choose_egg(window, next);
  return true;
}

void draw_found_eggs(cv::Mat& view, const FoundEggs& found, const FitState& state) {
  if (found.eggs.size() < 2 || !eggs_on(found, state)) return;
  std::vector<std::vector<cv::Point>> outlines;
  for (const ClutchEgg& egg : found.eggs) outlines.push_back(egg.outline);
  const cv::Rect shown = state.zoom_region.empty()
                             ? cv::Rect(cv::Point(0, 0), state.source_image.size())
                             : state.zoom_region;
  draw_numbered_eggs(view, shown, outlines, found.current);
}

}  // namespace meravel
