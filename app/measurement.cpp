#include "app/measurement.h"

#include <QCloseEvent>
#include <QEvent>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/myqtapp.h"
#include "fit/fit_warnings.h"
#include "fit/windows/fit_session.h"
#include "series/int_to_text.h"
#include "series/measures_file.h"
#include "series/series_state.h"

MeasurementSession measurement_session = measure_photo;

namespace {

// Set while do_something waits for its session, whatever runs the session.
bool session_in_progress = false;

bool session_running() { return session_in_progress || measurement_session_running(); }

// Closing the main window while a session's key loop runs inside do_something would destroy the
// window under the running slot. The close is held back instead: the session is asked to cancel,
// and the window closes once do_something has finished.
class SessionCloseGuard : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close && session_running()) {
      close_pending = true;
      request_session_cancel();
      event->ignore();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

  bool close_pending = false;
};

SessionCloseGuard* close_guard_of(QWidget* window) {
  SessionCloseGuard* guard =
      window->findChild<SessionCloseGuard*>(QString(), Qt::FindDirectChildrenOnly);
  if (!guard) {
    guard = new SessionCloseGuard(window);
    window->installEventFilter(guard);
  }
  return guard;
}

int read_number(const QString& text) { return std::atoi(text.toLatin1().constData()); }

}  // namespace

void myQtApp::do_something() {
  // The button is disabled during a session; this also stops a start by any other way in.
  if (session_running()) return;
  SeriesState& series = series_state();
  if (series.file_list.empty() || series.current_index >= series.file_list.size()) {
    std::cout << "No jpg containing directory selected." << std::endl;
    return;
  }
  SessionCloseGuard* guard = close_guard_of(this);

  SessionStart start;
  start.threshold = read_number(lineEdit_threshold->text());
  start.lambda = read_number(lineEdit_lambda->text()) / 1000.0;
  // The session gets copies: the carried values change only when it is accepted.
  start.region = cv::Rect(series.saved_roi_x, series.saved_roi_y, series.saved_roi_width,
                          series.saved_roi_height);
  start.cut_offs = {series.saved_cut_off_top, series.saved_cut_off_bottom};
  start.polarity =
      series.saved_dark_object ? ObjectPolarity::kDarkOnLight : ObjectPolarity::kLightOnDark;

  lock_all();
  const unsigned number = series.current_index + 1;
  const std::string name = series.file_list[series.current_index].name;
  const std::string directory = series.series_directory;
  std::cout << std::endl << "Starting new measurement for file " << number << ":" << std::endl;
  const std::string image_path = directory + "/" + name;
  session_in_progress = true;
  const std::optional<SessionResult> result = measurement_session(image_path, start);
  session_in_progress = false;

  if (!result || !result->accepted()) {
    unlock_all();
    last_session_line_ = "Measurement for file " + std::to_string(number) + " CANCELLED.";
    std::cout << last_session_line_ << std::endl << std::endl;
    update_file_list();
  } else {
    series.saved_roi_x = result->region.x;
    series.saved_roi_y = result->region.y;
    series.saved_roi_width = result->region.width;
    series.saved_roi_height = result->region.height;
    series.saved_cut_off_top = result->cut_offs.top;
    series.saved_cut_off_bottom = result->cut_offs.bottom;
    series.saved_dark_object = result->polarity == ObjectPolarity::kDarkOnLight;

    const AppendOutcome outcome = save_measurement(directory, name, result->lambda, result->energy,
                                                   std::cout, measuring_clock_);
    if (!outcome.saved) {
      std::cout << outcome.failure << std::endl;
      last_session_line_ = outcome.failure;
      unlock_all();
      update_file_list();
    } else {
      last_session_line_ = "Measurement for file " + std::to_string(number) + " SAVED.";
      std::cout << last_session_line_ << std::endl << std::endl;
      const std::string warnings = fit_warnings_text(result->warnings);
      if (!warnings.empty()) last_session_line_ += " " + warnings;
      unlock_all();
      char text[40];
      lineEdit_threshold->setText(QString::fromLatin1(int_to_text(result->threshold, text, 10)));
      update_file_list();
    }
  }

  if (guard->close_pending) {
    guard->close_pending = false;
    close();
  }
}

#include "measurement.moc"
