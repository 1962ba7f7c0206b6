#include "windows/automatic_fit.h"

#include <iostream>

#include "fit/auto_fit.h"
#include "fit/fit_W.h"
#include "fit/plausibility.h"
#include "windows/fit_windows.h"
#include "windows/measuring_window.h"
#include "windows/output_title.h"

namespace meravel {

void automatic_fit(MeasuringWindow& window) {
  FitState& state = window.state;
  std::cout << "Optimising..." << std::endl;
  const AutoFitResult result = auto_fit(state);
  if (result.found) {
    state.model = result.model;
    set_output_uncertainty(window.title, result.model, result.uncertainty,
                           fit_evidence(state.source_image, state.target.outline_contour,
                                        result.model, result.uncertainty));
    set_model_trackbars(window);
  }
  refresh_output_view(window);
  std::cout << "...optimisation done!" << std::endl;
}

}  // namespace meravel
