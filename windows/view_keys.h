// Keys of the session that change how the photograph is read and which end of the model is its
// top. Each works on fit_state() and the open fitting windows.
#pragma once

#include <opencv2/core.hpp>

#include "fit/fit_W.h"
#include "fit/model.h"
#include "fit/session_contract.h"

// Key n: the binarisation switches between a light object on a dark ground and a dark object on
// a light ground (one line says which); the outline is found again and the view refreshed. The
// model keeps its values.
void switch_polarity();

// Key e: the automatic segmentation (segment_photograph) finds the egg in the photograph shown
// (or its region): the polarity and the Threshold trackbar are set to those it found and its
// outline becomes the target; the view is refreshed and one line says what was found. With no
// plausible egg one line says so and nothing changes. The model keeps its values.
//
// When it finds several plausible eggs, they are numbered left to right and then top to bottom
// (by the centres of their outlines: x, ties by y), each is outlined and numbered on "Output"
// (draw_found_eggs), the one it chose is measured, and a click inside another one on "Output"
// (listen_for_egg_clicks) or key g chooses another.
void find_egg();

// Key e's egg number `position` + 1 becomes the measured object: outlined at full resolution with
// its own threshold and polarity (segmentation_choosing, egg_choice.h) as key e would, then fitted
// as by key a. Nothing happens unless key e's eggs were found on the image shown now.
void choose_egg(int position);

// Key g: the next of key e's eggs (after the last, the first); one line when there is none.
void next_egg_key();

// Makes a left click on "Output" wait to choose an egg, while key e's several eggs are on the view.
void listen_for_egg_clicks();
// Whether such a click waits; choose_clicked_egg chooses the egg under it (none when it is on no
// egg or on the one measured) and drops the click.
bool egg_click_waiting();
void choose_clicked_egg();

// Which of key e's eggs the state measures, with its centre and box in pixels of the whole
// photograph; count 0 when the outline is not one of them.
EggPlace current_egg_place(const FitState& state);

// After the measured egg was saved: it is marked saved and the next egg not yet saved is chosen
// (choose_egg). False, and nothing chosen, when every egg is saved or the eggs are not on the view.
bool move_to_next_unsaved_egg();

// Draws key e's eggs, numbered, over `view` (the "Output" view of the state's image, or of its
// zoomed part) while there are several and they were found on the image shown.
void draw_found_eggs(cv::Mat& view, const FitState& state);

// Forgets key e's eggs: a new session starts with none.
void forget_found_eggs();

// Whether the state's outline is still the one key e found on the state's source image (no
// threshold, polarity or region has replaced it since); its score and the next best object's then
// go to *score and *runner_up.
bool outline_is_found_egg(const FitState& state, double* score, double* runner_up);

// Key f: the model's top goes to the other end (flipped_model, top_end.h), then the automatic
// fit's last refinement (refine_fit, auto_fit.h) from there; the trackbars are set and the view
// refreshed. f right after f restores the values the first f started from.
void flip_top();

// After keys s and q have shown another part of the photograph: the model values `before`, moved
// by `shift` (the old view's origin minus the new one's, in photograph pixels), are kept when the
// model then lies inside the new view without reaching its border; the trackbars are set and the
// view refreshed. Otherwise the set-up's placement stays.
// Key z: two clicks on "Output" choose a part of the photograph, which the view then shows at up
// to full resolution (the model and every value stay; every key keeps working); z while a part is
// shown returns to the whole photograph.
void zoom_key();
// The image point of a click at view position `click` while a part is shown.
cv::Point zoomed_image_point(cv::Point click);

void keep_model_in_new_view(const ModelParameters& before, cv::Point shift);
