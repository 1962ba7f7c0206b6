#include "fit/windows/view_keys.h"

#include <iostream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/fit_warnings.h"
#include "fit/top_end.h"
#include "fit/windows/fit_windows.h"

namespace {

// The last flip: the values it started from and those it ended with, on the photograph it was
// made on (held, so that a photograph loaded anew is never taken for it).
struct Flip {
  cv::Mat source;
  ModelParameters before;
  ModelParameters after;
};
Flip last_flip;

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

void flip_top() {
  FitState& state = fit_state();
  const bool undo = !last_flip.source.empty() && last_flip.source.data == state.source_image.data &&
                    last_flip.source.size() == state.source_image.size() &&
                    last_flip.after == state.model();
  std::cout << "Optimising..." << std::endl;
  if (undo) {
    state.model() = last_flip.before;
    last_flip = Flip();
  } else {
    const ModelParameters before = state.model();
    const AutoFitResult refined = refine_fit(state.target(), state.cut_offs(),
                                             flipped_model(before), state.work(), std::cerr);
    state.model() = refined.model;
    last_flip = Flip{state.source_image, before, state.model()};
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
  state.model() = moved;
  set_model_trackbars();
  refresh_output_view(0);
}
