// One measuring window: the fit it shows and everything its image windows, trackbars, keys and
// clicks remember between two events. The window layer keeps no state of its own elsewhere: every
// function of windows/ takes the measuring window (or the part of it that it reads and writes),
// and highgui's trackbar and mouse callbacks reach it through their user data.
//
// The image windows have fixed names ("Output", "Trackbars", ...), so at most one measuring
// window shows at a time; its owner (the main window, a test) keeps it for as long as its fit's
// switches (keys b and d) and the values carried from one session to the next are to last.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "fit/fit_W.h"
#include "fit/session_contract.h"
#include "windows/output_title.h"
#include "windows/scale_mode.h"
#include "windows/view_keys.h"

namespace meravel {

// What a running session keeps besides the fit: set at its start, cleared at its end.
struct SessionRun {
  bool running = false;
  bool waiting_for_key = false;  // idle in the key wait
  bool cancel_requested = false;
  std::string path;
  // The whole photograph, upright, as loaded at the start: key q shows these pixels again.
  cv::Mat photograph;
  // The keys typed on the image windows, read in the order typed (session_keys.h): the next one
  // within a time in milliseconds (-1: none), and whether one waits. Only while a session runs.
  std::function<int(int timeout_ms)> next_key;
  std::function<bool()> holds_keys;
  // For the result: the keys that acted, the size of the whole photograph, and key k's step.
  std::string keys_pressed;
  cv::Size photo_size;
  std::function<void(const ScaleClicks&)> set_scale;
  // Keys c and y: how to read the scale, the scale to carry over, and the one this photograph has.
  std::function<SessionScale(const cv::Mat&)> read_scale;
  SessionScale carried_scale;
  SessionScale scale;
  // The scale the photograph has without keys c and y, for the title's millimetres.
  std::function<SessionScale()> scale_in_force;
};

class MeasuringWindow {
 public:
  MeasuringWindow();
  // Closes the image windows whose callbacks it set, so that none is left calling it.
  ~MeasuringWindow();
  MeasuringWindow(const MeasuringWindow&) = delete;
  MeasuringWindow& operator=(const MeasuringWindow&) = delete;

  // Runs one measurement of the photograph at `image_path` from `start` (prepare_fit, then the
  // fitting windows and the key loop) and returns when the session ends: ENTER accepts, ESC
  // cancels. The session fits start.photograph when it holds one, and otherwise loads the path
  // once; key q shows those pixels again. Keys typed while the session computes are read
  // afterwards, in the order typed. With a save step in `start`, ENTER runs it first: a failed
  // save writes "Not saved: REASON. ENTER to try again, ESC to cancel." and the session goes on,
  // so an accepted session is one that was saved. The region is in pixels of the full (upright)
  // photograph, both ways; a region that does not fit it is dropped and comes back with width
  // and height 0. A session also ends, not accepted, when the photograph cannot be loaded (a line
  // naming the path goes to standard output), when the "Output" window is closed by hand, after
  // request_cancel(), and when an image operation fails (a line says so). Every image window is
  // closed and the session's images are released before it returns. Returns nothing, and changes
  // nothing, when called while a session runs.
  std::optional<SessionResult> measure_photo(const std::string& image_path,
                                             const SessionStart& start);

  // measure_photo on a photograph already decoded from `image_path` (upright, CV_8UC3; shared,
  // not copied): the session is the same as one that loads it; key q shows these pixels again.
  // An empty image ends the session as unreadable. `on_first_view`, when given, runs once the
  // first Output view and status line are shown, before the first key wait.
  std::optional<SessionResult> measure_decoded_photo(
      const std::string& image_path, const cv::Mat& photo, const SessionStart& start,
      const std::function<void()>& on_first_view = {});

  // Whether a session is running now.
  bool running() const { return run.running; }

  // Whether the running session is idle in its key wait: not inside set-up, a reset or the
  // optimiser. A window created during set-up runs pending events before the session waits.
  bool waiting_for_key() const;

  // Ends the running session as a cancel at its next key wait (for example when the main window
  // is closed during a measurement); does nothing when no session runs.
  void request_cancel() {
    if (run.running) run.cancel_requested = true;
  }

  FitState state;                // the fit the windows show
  OutputTitle title;             // what the "Output" title adds to the fit's status
  KnownLengthClicks scale_mode;  // key k's two clicks
  ViewKeysMemory view_keys;      // what keys e and f remember
  SessionRun run;                // the running session

  // True while the trackbars are placed: a lowered maximum or a placed position must neither
  // overwrite a field nor refresh the views half-built.
  bool placing_trackbars = false;
  // Set once a callback of this window was given to highgui.
  bool callbacks_set = false;

  // The user data of trackbar `index` of the trackbar table (fit_windows.cpp).
  struct TrackbarCallback {
    MeasuringWindow* window;
    int index;
  };
  TrackbarCallback trackbar_callbacks[10];
};

}  // namespace meravel
