#include "fit/windows/automatic_fit.h"

#include <iostream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/windows/fit_windows.h"

void automatic_fit() {
  FitState& state = fit_state();
  std::cout << "Optimising..." << std::endl;
  const AutoFitResult result = auto_fit(state);
  if (result.found) {
    state.lambda_milli = result.lambda_milli;
    state.width = result.width;
    state.height = result.height;
    state.rotation = result.rotation;
    state.translation_x = result.translation_x;
    state.translation_y = result.translation_y;
    const int values[] = {state.lambda_milli, state.width,         state.height,
                          state.rotation,     state.translation_x, state.translation_y};
    const char* labels[] = {kLambdaTrackbar,   kWidthTrackbar,        kHeightTrackbar,
                            kRotationTrackbar, kTranslationXTrackbar, kTranslationYTrackbar};
    for (int k = 0; k < 6; ++k) set_trackbar(labels[k], values[k]);
  }
  refresh_output_view(0);
  std::cout << "...optimisation done!" << std::endl;
}
