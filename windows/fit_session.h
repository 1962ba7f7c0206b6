// The interactive measurement session: the fitting windows over one photograph and their key loop
// (MeasuringWindow::measure_photo, measuring_window.h), and the mouse modes of keys m and s.
#pragma once

#include "windows/measuring_window.h"

namespace meravel {

// ---- Parts of the session, for its key table ----

// Arm a mouse mode on "Output": two clicks, top then bottom of the curve (key m), or two corners
// of the region of interest (key s). Arming one mode replaces the other.
void start_top_bottom_mode(MeasuringWindow& window);
void start_roi_mode(MeasuringWindow& window);

// Mouse callbacks of the two modes (highgui's signature; x, y in "Output" view pixels; the user
// data is the MeasuringWindow). Only a left button press is handled.
void on_top_bottom_click(int event, int x, int y, int flags, void* window);
void on_roi_click(int event, int x, int y, int flags, void* window);

}  // namespace meravel
