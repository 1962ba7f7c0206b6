// Keys of the session that change how the photograph is read and which end of the model is its
// top. Each works on the measuring window's fit and its open fitting windows.
#pragma once

#include <opencv2/core.hpp>

#include "fit/fit_W.h"
#include "fit/model.h"
#include "fit/segmentation.h"
#include "windows/egg_keys.h"

namespace meravel {

class MeasuringWindow;

// What keys f and e remember between presses, each with the photograph it was made on (held, so
// that a photograph loaded anew is never taken for it).
struct ViewKeysMemory {
  // The last flip: the values it started from and those it ended with.
  struct Flip {
    cv::Mat source;
    ModelParameters before;
    ModelParameters after;
  } last_flip;
  // The egg key e found last.
  struct FoundEgg {
    cv::Mat source;
    std::vector<cv::Point> outline;
    double score = 0.0;
    double runner_up = 0.0;
  } found_egg;
  // Every plausible egg key e found on found_egg's photograph (egg_keys.h).
  FoundEggs eggs;
};

// Key n: the binarisation switches between a light object on a dark ground and a dark object on
// a light ground (one line says which); the outline is found again and the view refreshed. The
// model keeps its values.
void switch_polarity(MeasuringWindow& window);

// Key e: the automatic segmentation (segment_photograph) finds the egg in the photograph shown
// (or its region): the polarity and the Threshold trackbar are set to those it found and its
// outline becomes the target; the view is refreshed and one line says what was found. With no
// plausible egg one line says so and nothing changes. The model keeps its values.
//
// When it finds several plausible eggs, they are numbered left to right and then top to bottom
// (by the centres of their outlines: x, ties by y), each is outlined and numbered on "Output"
// (draw_found_eggs), the one it chose is measured, and a click inside another one on "Output"
// or key g chooses another (egg_keys.h).
void find_egg(MeasuringWindow& window);

// The chosen egg of `segmentation` (made on the state's source image) becomes the outline and
// the target, its threshold and polarity set through the trackbar and key n's field, as key e
// does; the view is refreshed and one line says what was found.
void use_found_egg(MeasuringWindow& window, const Segmentation& segmentation);

// Whether the state's outline is still the one key e found on the state's source image (no
// threshold, polarity or region has replaced it since); its score and the next best object's then
// go to *score and *runner_up.
bool outline_is_found_egg(const ViewKeysMemory& memory, const FitState& state, double* score,
                          double* runner_up);

// Key f: the model's top goes to the other end (flipped_model, top_end.h), then the automatic
// fit's last refinement (refine_fit, auto_fit.h) from there; the trackbars are set and the view
// refreshed. f right after f restores the values the first f started from.
void flip_top(MeasuringWindow& window);

// After keys s and q have shown another part of the photograph: the model values `before`, moved
// by `shift` (the old view's origin minus the new one's, in photograph pixels), are kept when the
// model then lies inside the new view without reaching its border; the trackbars are set and the
// view refreshed. Otherwise the set-up's placement stays.
// Key z: two clicks on "Output" choose a part of the photograph, which the view then shows at up
// to full resolution (the model and every value stay; every key keeps working); z while a part is
// shown returns to the whole photograph.
void zoom_key(MeasuringWindow& window);
// The image point of a click at view position `click` while a part is shown.
cv::Point zoomed_image_point(const FitState& state, cv::Point click);

void keep_model_in_new_view(MeasuringWindow& window, const ModelParameters& before,
                            cv::Point shift);

}  // namespace meravel
