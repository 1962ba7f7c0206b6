// Key k's mouse mode on "Output": two clicks on the ends of a known length (a ruler or a scale
// bar in the photograph), shown as a segment over the view while it is being set.
#pragma once

#include <functional>
#include <optional>

#include "fit/session_contract.h"
#include "fit/two_clicks.h"

namespace meravel {

class MeasuringWindow;

// The mode's clicks: the ends in "Output" view pixels, the first end in pixels of the whole
// photograph, and both ends once clicked and not yet taken.
struct KnownLengthClicks {
  TwoClicks ends_in_view;
  cv::Point first_in_photo;
  std::optional<ScaleClicks> clicks;
};

// Arms the mode: the next two left clicks on "Output" are the two ends. Replaces the mouse modes
// of keys m and s (and drops their half-made clicks), and any scale clicks not yet handed on.
void start_scale_mode(MeasuringWindow& window);

// The mouse callback of the mode (highgui's signature; x, y in "Output" view pixels; the user
// data is the MeasuringWindow). The first press marks one end; moving the mouse then draws the
// segment to the pointer; the second press fixes the other end, after which the clicks wait for
// take_scale_clicks.
void on_scale_click(int event, int x, int y, int flags, void* window);

// Whether both ends have been clicked and not yet taken.
inline bool scale_clicks_ready(const KnownLengthClicks& mode) { return mode.clicks.has_value(); }

// The two ends in pixels of the whole photograph, once both were clicked; the mode is then over
// (the segment stays on the view until finish_scale_mode).
std::optional<ScaleClicks> take_scale_clicks(KnownLengthClicks& mode);

// Hands the clicks to `set_scale` (a line on standard output when there is none) and then shows
// the view without the segment.
void finish_scale_mode(MeasuringWindow& window, const ScaleClicks& clicks,
                       const std::function<void(const ScaleClicks&)>& set_scale);

}  // namespace meravel
