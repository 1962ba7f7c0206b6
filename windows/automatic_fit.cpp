#include "windows/automatic_fit.h"

#include <iostream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/plausibility.h"
#include "windows/fit_windows.h"
#include "windows/output_title.h"

void automatic_fit() {
  FitState& state = fit_state();
  std::cout << "Optimising..." << std::endl;
  const AutoFitResult result = auto_fit(state);
  if (result.found) {
    state.model = result.model;
    set_output_uncertainty(result.model, result.uncertainty,
                           fit_evidence(state.source_image, state.target.outline_contour,
                                        result.model, result.uncertainty));
    set_model_trackbars();
  }
  refresh_output_view(0);
  std::cout << "...optimisation done!" << std::endl;
}
