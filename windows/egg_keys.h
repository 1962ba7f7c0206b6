// Several eggs found by key e: which is measured, a click or key g to measure another, ENTER
// moving on to the next one not yet saved, and their outlines numbered on "Output".
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "fit/clutch.h"
#include "fit/egg_choice.h"
#include "fit/fit_W.h"
#include "fit/session_contract.h"

namespace meravel {

class MeasuringWindow;

// Every egg key e found on the image `source` (held, so that an image loaded anew is never taken
// for it), as the batch finds the eggs of a clutch (find_clutch: touching eggs cut apart, in the
// same order, so that egg n here is egg n there); the one measured (a position in `eggs`, -1
// none), which were saved in this session, and a click on "Output" not yet handled.
struct FoundEggs {
  cv::Mat source;
  std::vector<ClutchEgg> eggs;
  int current = -1;
  std::vector<bool> saved;
  std::optional<cv::Point> clicked;
};

// Key e's part: remembers the eggs of `segmentation` (made on the state's source image with every
// candidate traced), the one it chose as the one measured (or, when it chose none, the most
// egg-like of the eggs cut apart), none saved.
void remember_found_eggs(MeasuringWindow& window, const Segmentation& segmentation);

// With several eggs: one line says how many and which is measured, and a click on "Output" waits
// to choose one (listen_for_egg_clicks).
void tell_found_eggs(MeasuringWindow& window);

// The title's "egg 2 of 5" for the outline now the state's, when it is the measured egg's.
void note_egg_in_title(MeasuringWindow& window);

// The egg as a segmentation's one chosen object, in the pixels of the image it was found in.
Segmentation egg_segmentation(const ClutchEgg& egg);

// `egg` (one of the found eggs) becomes the outline and the target as key e takes its egg
// (use_found_egg), the points along its cut from a touching egg left out of the target's map
// (leave_cut_out), so that a fit rests on its own edge as the batch's does.
void take_egg(MeasuringWindow& window, const ClutchEgg& egg);

// Egg number `position` + 1 becomes the measured object: its outline, threshold and polarity
// (traced at full resolution as the batch measures it) taken as key e takes its egg
// (use_found_egg), then fitted as by key a. Nothing happens unless the eggs were found on the image
// shown now.
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

}  // namespace meravel
