// The interactive measurement session: the fitting windows over one photograph and their key loop.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "fit/session_contract.h"

// Runs one measurement of the photograph at `image_path` from `start` (prepare_fit, then the
// fitting windows and the key loop) and returns when the session ends: ENTER accepts, ESC
// cancels. The session fits start.photograph when it holds one, and otherwise loads the path once;
// key q shows those pixels again. Keys typed while the session computes are read afterwards, in
// the order typed. With a save step in `start`, ENTER runs it first: a failed save writes
// "Not saved: REASON. ENTER to try again, ESC to cancel." and the session goes on, so an accepted
// session is one that was saved. The region is in pixels of the full (upright) photograph, both
// ways; a region that does not fit it is dropped and comes back with width and height 0. A
// session also ends, not accepted, when the photograph cannot be loaded (a line naming the path
// goes to standard output), when the "Output" window is closed by hand, after
// request_session_cancel(), and when an image operation fails (a line says so). Every image
// window is closed and the session's images are released before it returns. Returns nothing,
// and changes nothing, when called while a session runs.
std::optional<SessionResult> measure_photo(const std::string& image_path,
                                           const SessionStart& start);

// measure_photo on a photograph already decoded from `image_path` (upright, CV_8UC3; shared, not
// copied): the session is the same as one that loads it; key q shows these pixels again. An empty
// image ends the session as unreadable. `on_first_view`, when given, runs once the first Output
// view and status line are shown, before the first key wait.
std::optional<SessionResult> measure_decoded_photo(const std::string& image_path,
                                                   const cv::Mat& photo, const SessionStart& start,
                                                   const std::function<void()>& on_first_view = {});

// Whether a session is running now.
bool measurement_session_running();

// Whether the running session is idle in its key wait: not inside set-up, a reset or the
// optimiser. A window created during set-up runs pending events before the session waits.
bool measurement_session_waiting_for_key();

// Ends the running session as a cancel at its next key wait (for example when the main window is
// closed during a measurement); does nothing when no session runs.
void request_session_cancel();

// ---- Parts of the session, for its key table ----

// crop_source_to_roi (fit_W.h) on fit_state(): the source image replaced by the region
// roi_in_source in pixels of that image; a region that does not fit (or has a
// negative value) is dropped, width and height becoming 0; a width or height of 0 crops nothing.
void crop_to_roi();

// Arm a mouse mode on "Output": two clicks, top then bottom of the curve (key m), or two corners
// of the region of interest (key s). Arming one mode replaces the other.
void start_top_bottom_mode();
void start_roi_mode();

// Mouse callbacks of the two modes (highgui's signature; x, y in "Output" view pixels). Only a
// left button press is handled.
void on_top_bottom_click(int event, int x, int y, int flags, void* user_data);
void on_roi_click(int event, int x, int y, int flags, void* user_data);
