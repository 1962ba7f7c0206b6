// Several eggs found by key e: which is measured, a click or key g to measure another, ENTER
// moving on to the next one not yet saved, and their outlines numbered on "Output".
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "fit/egg_choice.h"
#include "fit/fit_W.h"
#include "fit/session_contract.h"

class MeasuringWindow;

// Every plausible egg key e found, numbered (egg_choice.h), on the image `source` (held, so that
// an image loaded anew is never taken for it); the one measured (a position in `eggs`, -1 none),
// which were saved in this session, and a click on "Output" not yet handled.
struct FoundEggs {
  cv::Mat source;
  Segmentation segmentation;
  std::vector<NumberedEgg> eggs;
  int current = -1;
  std::vector<bool> saved;
  std::optional<cv::Point> clicked;
};

// Key e's part: remembers the eggs of `segmentation` (made on the state's source image), the one
// it chose as the one measured, none saved.
void remember_found_eggs(MeasuringWindow& window, const Segmentation& segmentation);

// With several eggs: one line says how many and which is measured, and a click on "Output" waits
// to choose one (listen_for_egg_clicks).
void tell_found_eggs(MeasuringWindow& window);

// The title's "egg 2 of 5" for the outline now the state's, when it is the measured egg's.
void note_egg_in_title(MeasuringWindow& window);

// Egg number `position` + 1 becomes the measured object: outlined at full resolution with its own
// threshold and polarity (segmentation_choosing) as key e would (use_found_egg), then fitted as by
// key a. Nothing happens unless the eggs were found on the image shown now.
void choose_egg(MeasuringWindow& window, int position);

// Key g: the next egg (after the last, the first); one line when there is none to choose.
void next_egg_key(MeasuringWindow& window);

// Makes a left click on "Output" wait to choose an egg while several are on the view.
void listen_for_egg_clicks(MeasuringWindow& window);
// Whether such a click waits; choose_clicked_egg chooses the egg under it (none when it is on no
// egg or on the one measured) and drops the click.
bool egg_click_waiting(const MeasuringWindow& window);
void choose_clicked_egg(MeasuringWindow& window);

// Which egg the state measures, with its centre and box in pixels of the whole photograph; count
// 0 when the outline is not the measured egg's.
EggPlace current_egg_place(const MeasuringWindow& window);

// After the measured egg was saved: it is marked saved and the next egg not yet saved is chosen
// (choose_egg). False, and nothing chosen, when every egg is saved or the eggs are not on the view.
bool move_to_next_unsaved_egg(MeasuringWindow& window);

// Draws the eggs, numbered, over `view` (the "Output" view of the state's image, or of its zoomed
// part) while there are several and they were found on the image shown.
void draw_found_eggs(cv::Mat& view, const FoundEggs& found, const FitState& state);
