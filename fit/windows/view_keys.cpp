#include "fit/windows/view_keys.h"

#include <iostream>

#include "fit/fit_W.h"
#include "fit/windows/fit_windows.h"

void switch_polarity() {
  FitState& state = fit_state();
  const bool dark = state.polarity != ObjectPolarity::kDarkOnLight;
  state.polarity = dark ? ObjectPolarity::kDarkOnLight : ObjectPolarity::kLightOnDark;
  std::cout << (dark ? "Binarisation: dark object on a light ground."
                     : "Binarisation: light object on a dark ground.")
            << std::endl;
  on_threshold_change(0);
}
