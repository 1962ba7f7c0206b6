#include "windows/fit_session.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QObject>
#include <functional>
#include <future>
#include <iostream>
#include <memory>
#include <new>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "fit/fit_W.h"
#include "fit/fit_warnings.h"
#include "fit/optimiser.h"
#include "series/photo_file.h"
#include "windows/automatic_fit.h"
#include "windows/egg_keys.h"
#include "windows/fit_windows.h"
#include "windows/output_title.h"
#include "windows/scale_mode.h"
#include "windows/scale_view.h"
#include "windows/session_keys.h"
#include "windows/view_keys.h"

namespace meravel {

namespace {

constexpr int kKeyEnter = 13;
constexpr int kKeyEscape = 27;
// What the key wait reports instead of a key when the session is to end without one.
constexpr int kCancelRequestedKey = -2;
constexpr int kOutputClosedKey = -3;
// What the key wait reports when key k's two clicks are waiting to be handed on.
constexpr int kScaleClicksKey = -4;
// What the key wait reports when a click on one of several eggs waits to choose it.
constexpr int kEggClickKey = -5;
// The key wait is sliced so that a hand-closed "Output" window or a cancel request is noticed:
// the backend's endless wait never returns once its windows are closed by hand.
constexpr int kWaitSliceMs = 50;

// Adds `key` to the session's keys when it is one of the session's own (ENTER and ESC end it and
// are not kept).
void note_key(std::string& keys_pressed, int key) {
  static const std::string kSessionKeys = "mskqopuiawhtlrdbnfzecyg";
  if (key <= 0 || kSessionKeys.find(static_cast<char>(key)) == std::string::npos) return;
  if (!keys_pressed.empty()) keys_pressed += ' ';
  keys_pressed += static_cast<char>(key);
}

// highgui reports Shift+m and Caps-Lock M as 'm'. Upper-case letters are not keys of the session,
// so their presses are taken away before they reach an image window.
class UpperCaseKeyFilter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (text.size() != 1 || !text.at(0).isUpper()) return false;
    for (QObject* o = watched; o; o = o->parent()) {
      if (!o->inherits("CvWindow")) continue;
      if (!told_) std::cout << "Keys are lower case (is Caps Lock on?)" << std::endl;
      told_ = true;
      return true;
    }
    return false;
  }

 private:
  bool told_ = false;  // the line is printed once per session
};

// The photograph at `path`, upright as its EXIF orientation says, read as every photograph is
// (within the pixel budget); empty, with a line on standard output, when it cannot be had.
cv::Mat load_photograph(const std::string& path) {
  PhotographFile file = load_photograph_file(path);
  if (file.status != PhotographFile::loaded) {
    std::cout << "Cannot load the photograph " << path << std::endl;
  }
  return std::move(file.image);
}

bool output_window_shown() {
  try {
    return cv::getWindowProperty(kOutputWindow, cv::WND_PROP_VISIBLE) > 0;
  } catch (const cv::Exception&) {
    return false;  // no image window exists at all
  }
}

// The next key's low eight bits, or kCancelRequestedKey / kOutputClosedKey when the session is to
// end without one.
int wait_for_key(MeasuringWindow& window) {
  SessionRun& run = window.run;
  const KnownLengthClicks& scale_mode = window.scale_mode;
  while (true) {
    if (run.cancel_requested) return kCancelRequestedKey;
    run.waiting_for_key = true;
    const int key = run.next_key ? run.next_key(kWaitSliceMs) : cv::waitKey(kWaitSliceMs);
    run.waiting_for_key = false;
    // A cancel asked for during the wait ends the session even when a key came in the same wait.
    if (run.cancel_requested) return kCancelRequestedKey;
    if (key != -1) return key & 0xFF;
    if (scale_clicks_ready(scale_mode)) return kScaleClicksKey;
    if (egg_click_waiting(window)) return kEggClickKey;
    // Once a mode's clicks are done, a click chooses an egg again.
    if (!window.state.clicks.armed() && !scale_mode.ends_in_view.armed()) {
      listen_for_egg_clicks(window);
    }
    if (!output_window_shown()) return kOutputClosedKey;
  }
}

void run_optimiser(MeasuringWindow& window, const OptimiserRanges& r) { optimise(window, r, 1); }

constexpr char kScaleWindow[] = "Scale";

// What was found over the part of the photograph round it, in its own window.
void show_scale_marks(const cv::Mat& photograph, const SessionScale& scale) {
  const cv::Mat view = found_scale_view(photograph, scale);
  if (!view.empty()) cv::imshow(kScaleWindow, view);
}

// "scale 11.8 px/mm from the ruler" or "scale 11.8 px/mm carried over from file 4".
std::string scale_words(const SessionScale& scale) {
  std::ostringstream words;
  words << "scale " << scale.px_per_mm << " px/mm ";
  if (scale.method == "carried") {
    words << "carried over from file " << scale.from;
  } else {
    words << "from the " << scale.method << " (" << scale.note << ")";
  }
  return words.str();
}

// Key c: the scale read from the photograph holds for it, and what was read is shown.
void read_scale_key(MeasuringWindow& window) {
  SessionRun& run = window.run;
  if (!run.read_scale) {
    std::cout << "No scale can be read here." << std::endl;
    return;
  }
  const SessionScale found = run.read_scale(run.photograph);
  if (!found.found()) {
    std::cout << "No scale found (" << found.note << "): the values stay in pixels." << std::endl;
    return;
  }
  run.scale = found;
  show_scale_marks(run.photograph, found);
  std::cout << "Scale: " << scale_words(found) << "." << std::endl;
  window.title.scale_note = scale_words(found);
  window.title.px_per_mm = found.px_per_mm;
  window.title.px_per_mm_se = found.px_per_mm_se;
  show_output_title(window.state, window.title);
}

// The title's millimetres from the scale in force, while keys c and y have given none.
void take_scale_in_force(MeasuringWindow& window) {
  const SessionRun& run = window.run;
  if (run.scale.found() || !run.scale_in_force) return;
  const SessionScale in_force = run.scale_in_force();
  window.title.px_per_mm = in_force.px_per_mm;
  window.title.px_per_mm_se = in_force.px_per_mm_se;
}

// Key y: the earlier photograph's scale is taken for this one, explicitly and visibly.
void carry_scale_key(MeasuringWindow& window) {
  SessionRun& run = window.run;
  if (!run.carried_scale.found()) {
    std::cout << "No scale of an earlier photograph to carry over." << std::endl;
    return;
  }
  run.scale = run.carried_scale;
  run.scale.method = "carried";
  std::cout << "Scale: " << scale_words(run.scale) << "." << std::endl;
  window.title.scale_note = scale_words(run.scale);
  window.title.px_per_mm = run.scale.px_per_mm;
  window.title.px_per_mm_se = run.scale.px_per_mm_se;
  show_output_title(window.state, window.title);
}

// The warnings of the values about to be accepted, against the start rotation.
FitWarnings current_warnings(const FitState& state, const OutputTitle& title) {
  FitWarnings warnings =
      fit_warnings(state.target, state.model, state.cut_offs(), state.energy, kStartRotation);
  add_automatic_fit_evidence(title, warnings, state.model);
  return warnings;
}

// One line before the values are handed back, when they may be wrong; ENTER still accepts them.
void tell_warnings(const FitState& state, const OutputTitle& title) {
  const std::string text = fit_warnings_text(current_warnings(state, title));
  if (!text.empty()) std::cout << text << std::endl;
}

// What the key does; the end of the session for the keys that end it.
std::optional<SessionEnd> handle_key(MeasuringWindow& window, int key) {
  FitState& state = window.state;
  switch (key) {
    case 'm':
      start_top_bottom_mode(window);
      break;
    case 's':
      start_roi_mode(window);
      break;
    case 'k':
      start_scale_mode(window);
      break;
    case 'c':
      read_scale_key(window);
      break;
    case 'y':
      carry_scale_key(window);
      break;
    case kScaleClicksKey:
      if (const std::optional<ScaleClicks> clicks = take_scale_clicks(window.scale_mode)) {
        finish_scale_mode(window, *clicks, window.run.set_scale);
        take_scale_in_force(window);
        show_output_title(window.state, window.title);
      }
      break;
    case 'q': {
      const ModelParameters before = state.model;
      const cv::Point old_origin = state.source_origin_in_photo;
      state.roi_in_source.width = 0;
      state.roi_in_source.height = 0;
      // The photograph as loaded at the start, not the file again: it may have changed since.
      state.source_image = window.run.photograph;
      state.source_origin_in_photo = cv::Point(0, 0);
      setup_fit_windows(window);
      keep_model_in_new_view(window, before, old_origin);
      break;
    }
    case 'o':
      run_optimiser(window, ranges_all_values(state.source_image.size()));
      break;
    case 'p':
      run_optimiser(window, ranges_width(state.model, state.source_image.size()));
      run_optimiser(window, ranges_lambda_width(state.model));
      run_optimiser(window, ranges_fine(state.model));
      break;
    case 'u':
      run_optimiser(window, ranges_width(state.model, state.source_image.size()));
      break;
    case 'i':
      run_optimiser(window, ranges_lambda_width(state.model));
      break;
    case 'a':
      automatic_fit(window);
      break;
    case 'w':
      fit_width_to_outline(window);
      break;
    case 'h':
      reset_height(window);
      break;
    case 't':
      reset_translation(window);
      break;
    case 'l':
      reset_lambda(window);
      break;
    case 'r':
      reset_all(window);
      break;
    case 'd':
      state.show_distance = !state.show_distance;
      close_window(kDistanceWindow);
      refresh_output_view(window);
      break;
    case 'n':
      switch_polarity(window);
      break;
    case 'f':
      flip_top(window);
      break;
    case 'e':
      find_egg(window);
      break;
    case 'g':
      next_egg_key(window);
      break;
    case kEggClickKey:
      choose_clicked_egg(window);
      break;
    case 'z':
      zoom_key(window);
      break;
    case 'b':
      state.show_binary = !state.show_binary;
      close_window(kBinaryWindow);
      on_threshold_change(window);
      break;
    case kKeyEnter:
      tell_warnings(state, window.title);
      return SessionEnd::kAccepted;
    case kKeyEscape:
      return SessionEnd::kCancelled;
    case kCancelRequestedKey:
      return SessionEnd::kCancelRequested;
    case kOutputClosedKey:
      return SessionEnd::kOutputClosed;
    default:
      break;  // not a key of the session
  }
  return std::nullopt;
}

SessionResult result_of(const MeasuringWindow& window, SessionEnd end, const SessionStart& start);

// Whether the accepted fit may end the session: saved by the start's save step, or there is none.
// A failed save keeps the fit on screen, to be saved again or cancelled.
bool saved_on_enter(const MeasuringWindow& window, const SessionStart& start) {
  if (!start.save) return true;
  const SaveOutcome outcome = start.save(result_of(window, SessionEnd::kAccepted, start));
  if (outcome.saved) return true;
  std::cout << "Not saved: " << outcome.reason << ". ENTER to try again, ESC to cancel."
            << std::endl;
  return false;
}

// The session's set-up on the decoded photograph up to the first key: the distance map is made
// on a second thread while the windows are set up and the first view is composed from the rows it
// reads; the rest of the overlay is composed while the map is finished.
void open_photograph(MeasuringWindow& window, const cv::Mat& photo, const SessionStart& start) {
  FitState& state = window.state;
  prepare_fit_overlapped(state, photo, start);
  // none fitted yet
  set_output_uncertainty(window.title, ModelParameters(), FitUncertainty(), FitEvidence());
  show_fit_windows(window);
  complete_overlay(state);
  finish_outline_distance(state);
}

// Start and key loop, up to the key that ends the session.
SessionEnd run_session(MeasuringWindow& window, const cv::Mat& photo, const SessionStart& start,
                       const std::function<void()>& on_first_view) {
  if (photo.empty()) return SessionEnd::kPhotographUnreadable;
  window.run.photograph = photo;
  window.run.photo_size = photo.size();
  take_scale_clicks(window.scale_mode);  // none left over from an earlier session
  take_scale_in_force(window);
  open_photograph(window, photo, start);
  window.state.clicks.disarm();
  if (on_first_view) on_first_view();

  while (true) {
    const int key = wait_for_key(window);
    note_key(window.run.keys_pressed, key);
    const std::optional<SessionEnd> end = handle_key(window, key);
    if (!end || (*end == SessionEnd::kAccepted && !saved_on_enter(window, start))) continue;
    // Of several eggs, each is saved in turn: the session ends with the last one not yet saved.
    if (*end == SessionEnd::kAccepted && start.save && move_to_next_unsaved_egg(window)) continue;
    return *end;
  }
}

// What the session hands back: on ENTER the state's values, otherwise those it started from.
SessionResult result_of(const MeasuringWindow& window, SessionEnd end, const SessionStart& start) {
  SessionResult result;
  if (end == SessionEnd::kAccepted) {
    result = accepted_result(window.state);
    result.segmented = outline_is_found_egg(window.view_keys, window.state, &result.candidate_score,
                                            &result.runner_up_score);
    add_automatic_fit_evidence(window.title, result.warnings, result.model);
    result.uncertainty = automatic_fit_uncertainty(window.title, result.model);
    result.egg = current_egg_place(window);
    if (result.egg.touching) result.warnings.egg_touching = true;
  } else {
    result.end = end;
    result.threshold = start.threshold;
    result.lambda = start.lambda;
    result.region = start.region;
    result.cut_offs = start.cut_offs;
    result.polarity = start.polarity;
  }
  result.photo_size = window.run.photo_size;
  result.keys = window.run.keys_pressed;
  if (end == SessionEnd::kAccepted) result.scale = window.run.scale;
  return result;
}

void close_session(FitState& state) {
  cv::destroyAllWindows();
  state.distance_in_progress = {};  // waits for a map still being made after a failure
  state.mask_image.release();
  state.target.distance_image.release();
  state.output_display.release();
  state.source_image.release();
  state.overlay_image.release();
  state.distance_display.release();
  state.binary_display.release();
  state.crop_buffer.release();
  // The refresh holds the photograph and overlay it last composed; they go with the session.
  state.composed_source.release();
  state.composed_overlay.release();
  state.target.outline_contour.clear();
  state.outline_storage.clear();
  state.work.left_curve_storage.clear();
  state.work.right_curve_storage.clear();
}

// Image point of a click at view position (x, y) of "Output".
cv::Point image_point(const FitState& state, int x, int y) {
  if (!state.zoom_region.empty()) return zoomed_image_point(state, cv::Point(x, y));
  return image_point_of_click(cv::Point(x, y), state.source_image.size(), state.display_fit_width);
}

// One session over the photograph that `photo_of_session` gives once the session has begun.
std::optional<SessionResult> guarded_session(MeasuringWindow& window, const std::string& image_path,
                                             const SessionStart& start,
                                             const std::function<cv::Mat()>& photo_of_session,
                                             const std::function<void()>& on_first_view) {
  SessionRun& run = window.run;
  if (run.running) return std::nullopt;
  run.running = true;
  run.cancel_requested = false;
  run.path = image_path;
  // Installed first, so that the upper-case filter sees each key press before it.
  SessionKeys keys;
  run.next_key = [&keys](int timeout_ms) { return keys.next_key(timeout_ms); };
  run.holds_keys = [&keys] { return keys.holds_keys(); };
  run.keys_pressed.clear();
  run.photo_size = cv::Size();
  run.set_scale = start.set_scale;
  run.read_scale = start.read_scale;
  run.carried_scale = start.carried_scale;
  run.scale = SessionScale();
  run.scale_in_force = start.scale_in_force;
  window.title.scale_note.clear();
  window.title.px_per_mm = window.title.px_per_mm_se = 0.0;
  window.view_keys.eggs = FoundEggs();  // a new session starts with none
  window.title.egg_count = 0;
  window.title.egg_outline.clear();
  std::unique_ptr<UpperCaseKeyFilter> key_filter;
  if (QCoreApplication* app = QCoreApplication::instance()) {
    key_filter = std::make_unique<UpperCaseKeyFilter>();
    app->installEventFilter(key_filter.get());
  }

  SessionEnd end = SessionEnd::kFailed;
  try {
    end = run_session(window, photo_of_session(), start, on_first_view);
  } catch (const cv::Exception& e) {
    std::cout << "The measurement was cancelled: " << e.what() << std::endl;
  } catch (const std::bad_alloc&) {
    std::cout << "The measurement was cancelled: out of memory." << std::endl;
  }

  const SessionResult result = result_of(window, end, start);
  close_session(window.state);
  key_filter.reset();
  run = SessionRun();
  window.title.scale_note.clear();
  window.title.px_per_mm = window.title.px_per_mm_se = 0.0;
  window.view_keys.eggs = FoundEggs();
  return result;
}

}  // namespace

MeasuringWindow::MeasuringWindow() {
  for (int index = 0; index < kTrackbarCount; ++index) trackbar_callbacks[index] = {this, index};
}

MeasuringWindow::~MeasuringWindow() {
  if (callbacks_set && QCoreApplication::instance()) close_fit_windows();
}

std::optional<SessionResult> MeasuringWindow::measure_photo(const std::string& image_path,
                                                            const SessionStart& start) {
  return guarded_session(*this, image_path, start,
                         [this, &start] {
                           if (!start.photograph.empty()) return start.photograph;
                           // The windows are made while the photograph is decoded.
                           std::future<cv::Mat> photo =
                               std::async(std::launch::async, load_photograph, run.path);
                           create_fit_windows(state.show_binary);
                           return photo.get();
                         },
                         {});
}

std::optional<SessionResult> MeasuringWindow::measure_decoded_photo(
    const std::string& image_path, const cv::Mat& photo, const SessionStart& start,
    const std::function<void()>& on_first_view) {
  return guarded_session(
      *this, image_path, start, [&photo] { return photo; }, on_first_view);
}

bool MeasuringWindow::waiting_for_key() const {
  return run.waiting_for_key && !(run.holds_keys && run.holds_keys());
}

void start_top_bottom_mode(MeasuringWindow& window) {
  window.state.clicks.arm();
  cv::setMouseCallback(kOutputWindow, on_top_bottom_click, &window);
  window.callbacks_set = true;
  std::cout << "You can click the coordinates for the lambda curve's top and bottom. First top, "
               "then bottom."
            << std::endl;
  window.title.prompt = "click the curve's top, then its bottom";
  show_output_title(window.state, window.title);
}

void start_roi_mode(MeasuringWindow& window) {
  window.state.clicks.arm();
  cv::setMouseCallback(kOutputWindow, on_roi_click, &window);
  window.callbacks_set = true;
  std::cout << "You can click the two corners of your region of interest." << std::endl;
  window.title.prompt = "click the two corners of the region of interest";
  show_output_title(window.state, window.title);
}

void on_top_bottom_click(int event, int x, int y, int, void* user_data) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  MeasuringWindow& window = *static_cast<MeasuringWindow*>(user_data);
  FitState& state = window.state;
  const cv::Point p = image_point(state, x, y);
  const bool first = state.clicks.awaiting_first();
  const auto top_and_bottom = state.clicks.click(p);
  if (first) {
    std::cout << "Top is at: (" << p.x << "," << p.y << ")" << std::endl;
    return;
  }
  if (!top_and_bottom) return;
  std::cout << "Bottom is at: (" << p.x << "," << p.y << ")" << std::endl;
  const TopBottomPlacement placement =
      placement_from_top_and_bottom(top_and_bottom->first, top_and_bottom->second);
  state.model.translation_x = placement.translation_x;
  state.model.translation_y = placement.translation_y;
  state.model.height = placement.height;
  // A bottom on the top's pixel has no direction: the rotation stays as it was.
  if (placement.rotation) state.model.rotation = *placement.rotation;
  set_trackbar(window, kTranslationXTrackbar, state.model.translation_x);
  set_trackbar(window, kTranslationYTrackbar, state.model.translation_y);
  set_trackbar(window, kHeightTrackbar, state.model.height);
  set_trackbar(window, kRotationTrackbar, state.model.rotation);
  show_output_title(state, window.title);
}

void on_roi_click(int event, int x, int y, int, void* user_data) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  MeasuringWindow& window = *static_cast<MeasuringWindow*>(user_data);
  FitState& state = window.state;
  const cv::Point p = image_point(state, x, y);
  const bool first = state.clicks.awaiting_first();
  const auto corners = state.clicks.click(p);
  if (first) {
    std::cout << "First corner is at: (" << p.x << "," << p.y << ")" << std::endl;
    state.roi_in_source.x = p.x;
    state.roi_in_source.y = p.y;
    state.roi_origin_in_photo = state.source_origin_in_photo;
    return;
  }
  if (!corners) return;
  std::cout << "Second corner is at: (" << p.x << "," << p.y << ")" << std::endl;
  const cv::Rect region = region_between_corners(corners->first, corners->second);
  state.roi_in_source = region;
  const ModelParameters before = state.model;
  const cv::Point old_origin = state.source_origin_in_photo;
  crop_source_to_roi(state);
  setup_fit_windows(window);
  keep_model_in_new_view(window, before, old_origin - state.source_origin_in_photo);
}

}  // namespace meravel
