// Key a of the session: the automatic fit of all six parameters, written back through the
// trackbars like the optimiser's result.
#pragma once

namespace meravel {

class MeasuringWindow;

// Prints "Optimising...", fits all six parameters to the current outline (auto_fit), writes
// them into the fields and sets the six trackbars in the optimiser's order, refreshes once and
// prints "...optimisation done!". The fit's standard errors and evidence go to the window's
// title. Without an outline the parameters stay as they are.
void automatic_fit(MeasuringWindow& window);

}  // namespace meravel
