#include "fit/windows/fit_session.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QObject>
#include <cmath>
#include <iostream>
#include <memory>
#include <new>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>

#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "fit/optimiser.h"
#include "fit/windows/automatic_fit.h"
#include "fit/windows/fit_windows.h"

namespace {

constexpr double kCancelMarker = 9999.0;
constexpr int kKeyEnter = 13;
constexpr int kKeyEscape = 27;
// The key wait is sliced so that a hand-closed "Output" window or a cancel request is noticed:
// the backend's endless wait never returns once its windows are closed by hand.
constexpr int kWaitSliceMs = 50;

bool session_running = false;
bool waiting_for_key = false;
bool cancel_requested = false;
const char* session_path = nullptr;

// Offsets in pixels of the full photograph: of the current source image (moved by every crop,
// reset by a reload), and of the image in whose pixels roi_x and roi_y currently count. The
// region handed back is translated by the latter, so a nested crop is returned as a region of
// the full photograph.
cv::Point image_origin;
cv::Point roi_origin;

enum class KeyOutcome { kContinue, kAccept, kCancel };

// highgui reports Shift+m and Caps-Lock M as 'm'. Upper-case letters are not keys of the session,
// so their presses are taken away before they reach an image window.
class UpperCaseKeyFilter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (text.size() != 1 || !text.at(0).isUpper()) return false;
    for (QObject* o = watched; o; o = o->parent()) {
      if (o->inherits("CvWindow")) return true;
    }
    return false;
  }
};

// Loads `path` upright (as its EXIF orientation says) into source_image; false with a line on
// standard output when the file is missing or not a decodable image.
bool load_photograph(const char* path) {
  FitState& state = fit_state();
  state.source_image.release();
  try {
    state.source_image = cv::imread(path, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    state.source_image.release();
  }
  image_origin = cv::Point(0, 0);
  if (state.source_image.empty()) {
    std::cout << "Cannot load the photograph " << path << std::endl;
    return false;
  }
  return true;
}

int lambda_milli_of(double lambda) {
  const double milli = std::round(lambda * 1000.0);
  if (!(std::fabs(milli) < 2e9)) return 0;  // not a value the caller can pass
  return static_cast<int>(milli);
}

bool output_window_shown() {
  try {
    return cv::getWindowProperty(kOutputWindow, cv::WND_PROP_VISIBLE) > 0;
  } catch (const cv::Exception&) {
    return false;  // no image window exists at all
  }
}

// The next key's low eight bits, or ESC when the session is to be cancelled.
int wait_for_key() {
  while (true) {
    if (cancel_requested) return kKeyEscape;
    waiting_for_key = true;
    const int key = cv::waitKey(kWaitSliceMs);
    waiting_for_key = false;
    if (key != -1) return key & 0xFF;
    if (cancel_requested || !output_window_shown()) return kKeyEscape;
  }
}

void run_optimiser(const OptimiserRanges& r) { optimise(r, 1); }

void destroy_window(const char* name) {
  try {
    cv::destroyWindow(name);
  } catch (const cv::Exception&) {
    // not open: nothing to close
  }
}

KeyOutcome handle_key(int key) {
  FitState& state = fit_state();
  switch (key) {
    case 'm':
      start_top_bottom_mode();
      break;
    case 's':
      start_roi_mode();
      break;
    case 'q':
      state.roi_width = 0;
      state.roi_height = 0;
      if (!load_photograph(session_path)) return KeyOutcome::kCancel;
      setup_fit_windows();
      break;
    case 'o':
      run_optimiser(ranges_all_values(state.source_image.size()));
      break;
    case 'p':
      run_optimiser(ranges_width(state, state.source_image.size()));
      run_optimiser(ranges_lambda_width(state));
      run_optimiser(ranges_fine(state));
      break;
    case 'u':
      run_optimiser(ranges_width(state, state.source_image.size()));
      break;
    case 'i':
      run_optimiser(ranges_lambda_width(state));
      break;
    case 'a':
      automatic_fit();
      break;
    case 'w':
      fit_width_to_outline();
      break;
    case 'h':
      reset_height();
      break;
    case 't':
      reset_translation();
      break;
    case 'l':
      reset_lambda();
      break;
    case 'r':
      reset_all();
      break;
    case 'd':
      state.show_distance = !state.show_distance;
      destroy_window(kDistanceWindow);
      refresh_output_view(0);
      break;
    case 'b':
      state.show_binary = !state.show_binary;
      destroy_window(kBinaryWindow);
      on_threshold_change(0);
      break;
    case kKeyEnter:
      return KeyOutcome::kAccept;
    case kKeyEscape:
      return KeyOutcome::kCancel;
    default:
      break;  // not a key of the session
  }
  return KeyOutcome::kContinue;
}

// Start, key loop; true when the user accepted the fit.
bool run_session(int threshold, double lambda, int roi_x, int roi_y, int roi_width, int roi_height,
                 int cut_off_top, int cut_off_bottom) {
  FitState& state = fit_state();
  if (!load_photograph(session_path)) return false;

  state.deviation_width = 600;
  state.deviation_height = 100;
  state.deviation_image = cv::Mat::zeros(state.deviation_height, state.deviation_width, CV_8UC3);

  state.threshold = threshold;
  state.lambda_milli = lambda_milli_of(lambda);
  state.cut_off_top = cut_off_top;
  state.cut_off_bottom = cut_off_bottom;
  state.rotation = 325;
  state.show_input = 90;
  state.roi_x = roi_x;
  state.roi_y = roi_y;
  state.roi_width = roi_width;
  state.roi_height = roi_height;
  roi_origin = cv::Point(0, 0);

  crop_to_roi();
  setup_fit_windows();
  state.awaiting_first_click = false;
  state.awaiting_second_click = false;

  while (true) {
    switch (handle_key(wait_for_key())) {
      case KeyOutcome::kContinue:
        break;
      case KeyOutcome::kAccept:
        return true;
      case KeyOutcome::kCancel:
        return false;
    }
  }
}

void close_session() {
  FitState& state = fit_state();
  cv::destroyAllWindows();
  state.mask_image.release();
  state.distance_image.release();
  state.output_display.release();
  state.source_image.release();
  state.overlay_image.release();
  state.distance_display.release();
  state.binary_display.release();
  state.crop_buffer.release();
  // The refresh holds the photograph and overlay it last composed; they go with the session.
  state.composed_source.release();
  state.composed_overlay.release();
  state.outline_contour.clear();
  state.outline_storage.clear();
  state.left_curve_storage.clear();
  state.right_curve_storage.clear();
}

// Image point of a click at view position (x, y): views are scaled to 800 wide or 600 high.
cv::Point image_point(int x, int y) {
  const FitState& state = fit_state();
  const double scale =
      state.display_fit_width ? state.source_image.cols / 800.0 : state.source_image.rows / 600.0;
  return cv::Point(static_cast<int>(scale * x), static_cast<int>(scale * y));
}

}  // namespace

int run_measurement_session(const char* image_path, int* threshold, double* lambda, double* energy,
                            int* roi_x, int* roi_y, int* roi_width, int* roi_height,
                            int* cut_off_top, int* cut_off_bottom) {
  if (session_running || !image_path) {
    *lambda = kCancelMarker;
    return 0;
  }
  session_running = true;
  cancel_requested = false;
  session_path = image_path;
  std::unique_ptr<UpperCaseKeyFilter> key_filter;
  if (QCoreApplication* app = QCoreApplication::instance()) {
    key_filter = std::make_unique<UpperCaseKeyFilter>();
    app->installEventFilter(key_filter.get());
  }

  bool accepted = false;
  try {
    accepted = run_session(*threshold, *lambda, *roi_x, *roi_y, *roi_width, *roi_height,
                           *cut_off_top, *cut_off_bottom);
  } catch (const cv::Exception& e) {
    std::cout << "The measurement was cancelled: " << e.what() << std::endl;
  } catch (const std::bad_alloc&) {
    std::cout << "The measurement was cancelled: out of memory." << std::endl;
  }

  FitState& state = fit_state();
  if (accepted) {
    *threshold = state.threshold;
    *lambda = state.lambda_milli / 1000.0;
    *energy = state.energy;
    *roi_x = state.roi_x + roi_origin.x;
    *roi_y = state.roi_y + roi_origin.y;
    *roi_width = state.roi_width;
    *roi_height = state.roi_height;
    *cut_off_top = state.cut_off_top;
    *cut_off_bottom = state.cut_off_bottom;
  } else {
    *lambda = kCancelMarker;
  }
  close_session();
  key_filter.reset();
  session_path = nullptr;
  cancel_requested = false;
  session_running = false;
  return 0;
}

bool measurement_session_running() { return session_running; }

bool measurement_session_waiting_for_key() { return waiting_for_key; }

void request_session_cancel() {
  if (session_running) cancel_requested = true;
}

void crop_to_roi() {
  FitState& state = fit_state();
  roi_origin = image_origin;
  const long long right = static_cast<long long>(state.roi_x) + state.roi_width;
  const long long bottom = static_cast<long long>(state.roi_y) + state.roi_height;
  const bool negative =
      state.roi_x < 0 || state.roi_y < 0 || state.roi_width < 0 || state.roi_height < 0;
  if (negative || right > state.source_image.cols || bottom > state.source_image.rows) {
    state.roi_width = 0;
    state.roi_height = 0;
    return;
  }
  if (state.roi_width == 0 || state.roi_height == 0) return;
  const cv::Rect region(state.roi_x, state.roi_y, state.roi_width, state.roi_height);
  state.crop_buffer.create(region.size(), state.source_image.type());
  state.source_image(region).copyTo(state.crop_buffer);
  state.source_image = state.crop_buffer;
  state.crop_buffer.release();
  image_origin += region.tl();
}

void start_top_bottom_mode() {
  FitState& state = fit_state();
  state.awaiting_first_click = true;
  state.awaiting_second_click = true;
  cv::setMouseCallback(kOutputWindow, on_top_bottom_click);
  std::cout << "You can click the coordinates for the lambda curve's top and bottom. First top, "
               "then bottom."
            << std::endl;
}

void start_roi_mode() {
  FitState& state = fit_state();
  state.awaiting_first_click = true;
  state.awaiting_second_click = true;
  cv::setMouseCallback(kOutputWindow, on_roi_click);
  std::cout << "You can click the two corners of your region of interest." << std::endl;
}

void on_top_bottom_click(int event, int x, int y, int, void*) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  FitState& state = fit_state();
  const cv::Point p = image_point(x, y);
  if (state.awaiting_first_click) {
    std::cout << "Top is at: (" << p.x << "," << p.y << ")" << std::endl;
    state.top_click_x = p.x;
    state.top_click_y = p.y;
    state.awaiting_first_click = false;
    return;
  }
  if (!state.awaiting_second_click) return;
  std::cout << "Bottom is at: (" << p.x << "," << p.y << ")" << std::endl;
  const int dx = p.x - state.top_click_x;
  const int dy = p.y - state.top_click_y;
  state.translation_x = state.top_click_x + dx / 2;
  state.translation_y = state.top_click_y + dy / 2;
  state.height = static_cast<int>(std::sqrt(
      static_cast<double>(static_cast<long long>(dx) * dx + static_cast<long long>(dy) * dy)));
  // A bottom on the top's pixel has no direction: the rotation stays as it was.
  if (state.height > 0) {
    const double a = std::asin(static_cast<double>(dy) / state.height);
    const double angle = p.x > state.top_click_x ? 3 * kPi / 2 + a : kPi / 2 - a;
    state.rotation = static_cast<int>(degrees_from_radians(angle));
  }
  set_trackbar(kTranslationXTrackbar, state.translation_x);
  set_trackbar(kTranslationYTrackbar, state.translation_y);
  set_trackbar(kHeightTrackbar, state.height);
  set_trackbar(kRotationTrackbar, state.rotation);
  state.awaiting_second_click = false;
}

void on_roi_click(int event, int x, int y, int, void*) {
  if (event != cv::EVENT_LBUTTONDOWN) return;
  FitState& state = fit_state();
  const cv::Point p = image_point(x, y);
  if (state.awaiting_first_click) {
    std::cout << "First corner is at: (" << p.x << "," << p.y << ")" << std::endl;
    state.roi_x = p.x;
    state.roi_y = p.y;
    roi_origin = image_origin;
    state.awaiting_first_click = false;
    return;
  }
  if (!state.awaiting_second_click) return;
  std::cout << "Second corner is at: (" << p.x << "," << p.y << ")" << std::endl;
  state.roi_width = 0;
  state.roi_height = 0;
  if (p.x < state.roi_x) {
    state.roi_width = state.roi_x - p.x;
    state.roi_x = p.x;
  } else if (p.x > state.roi_x) {
    state.roi_width = p.x - state.roi_x;
  }
  if (p.y < state.roi_y) {
    state.roi_height = state.roi_y - p.y;
    state.roi_y = p.y;
  } else if (p.y > state.roi_y) {
    state.roi_height = p.y - state.roi_y;
  }
  crop_to_roi();
  setup_fit_windows();
  state.awaiting_second_click = false;
}
