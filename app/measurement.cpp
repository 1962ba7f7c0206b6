#include "app/measurement.h"

#include <QCloseEvent>
#include <QEvent>
#include <cstdlib>
#include <iostream>
#include <opencv2/imgproc.hpp>
#include <string>

#include "app/myqtapp.h"
#include "app/photo_open.h"
#include "app/photo_scale.h"
#include "app/scale_dialog.h"
#include "fit/fit_warnings.h"
#include "measurement/session_record.h"
#include "scale/scale_request.h"
#include "series/int_to_text.h"
#include "series/measurement_save.h"
#include "series/measures_file.h"
#include "series/photo_file.h"
#include "series/scale_file.h"
#include "series/series_state.h"
#include "windows/fit_session.h"
#include "windows/fit_windows.h"

using namespace meravel;

MeasurementSession measurement_session = measure_prefetched_photo;

namespace {

// Set while do_something waits for its session, whatever runs the session.
bool session_in_progress = false;

bool session_running(const MeasuringWindow& window) {
  return session_in_progress || window.running();
}

// Closing the main window while a session's key loop runs inside do_something would destroy the
// window under the running slot. The close is held back instead: the session is asked to cancel,
// and the window closes once do_something has finished.
class SessionCloseGuard : public QObject {
  Q_OBJECT

 public:
  SessionCloseGuard(QObject* parent, MeasuringWindow& window) : QObject(parent), window_(window) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close && session_running(window_)) {
      close_pending = true;
      window_.request_cancel();
      event->ignore();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

  bool close_pending = false;

 private:
  MeasuringWindow& window_;
};

SessionCloseGuard* close_guard_of(QWidget* window, MeasuringWindow& measuring) {
  SessionCloseGuard* guard =
      window->findChild<SessionCloseGuard*>(QString(), Qt::FindDirectChildrenOnly);
  if (!guard) {
    guard = new SessionCloseGuard(window, measuring);
    window->installEventFilter(guard);
  }
  return guard;
}

int read_number(const QString& text) { return std::atoi(text.toLatin1().constData()); }

// The save of an accepted measurement: its record in measures.csv and its row in
// measures_details.csv, with the capture dates of the photograph as it was loaded for the session.
// Messages about the date and the scale go to standard output.
AppendOutcome save_accepted(const std::string& directory, const std::string& name,
                            const CaptureDate& capture_date, const SessionResult& accepted,
                            const MeasuringClock& clock, FileOperations& operations) {
  return save_measurement_with_details(directory, capture_date, accepted.lambda,
                                       details_record_of(accepted, name), std::cout, clock,
                                       operations);
}

// A failed save's line without its closing sentence, as the reason the session shows:
// "ERROR writing file: No space left on device (measures.csv)".
std::string not_saved_reason(const AppendOutcome& outcome) {
  std::string reason = outcome.failure;
  const std::string nothing_saved = " Nothing was saved.";
  if (reason.size() >= nothing_saved.size() &&
      reason.compare(reason.size() - nothing_saved.size(), nothing_saved.size(), nothing_saved) ==
          0) {
    reason.erase(reason.size() - nothing_saved.size());
  }
  if (!reason.empty() && reason.back() == '.') reason.pop_back();
  return reason;
}

// The scale set on another photograph (`row`) carried over: from its position in the measuring
// order, or its name when it is not one of the series.
SessionScale carried_scale_of(const ScaleRow& row, const std::vector<SeriesEntry>& files) {
  SessionScale scale;
  scale.method = "carried";
  scale.px_per_mm = row.px_per_mm;
  scale.from = row.file;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].name == row.file) scale.from = std::to_string(i + 1);
  }
  scale.note = "key k";
  return scale;
}

// `accepted` with key k's carried scale when there is one and it came after any scale of keys c
// and y (the last of the three keys pressed holds).
SessionResult with_key_k_scale(const SessionResult& accepted,
                               const std::optional<SessionScale>& carried) {
  if (!carried) return accepted;
  const size_t k = accepted.keys.find_last_of('k');
  const size_t c_or_y = accepted.keys.find_last_of("cy");
  if (accepted.scale.found() &&
      (k == std::string::npos || (c_or_y != std::string::npos && c_or_y > k))) {
    return accepted;
  }
  SessionResult with = accepted;
  with.scale = *carried;
  return with;
}

}  // namespace

void myQtApp::do_something() {
  // The button is disabled during a session; this also stops a start by any other way in.
  if (session_running(measuring_window_)) return;
  SeriesState& series = series_state();
  if (series.file_list.empty() || series.current_index >= series.file_list.size()) {
    std::cout << "No jpg containing directory selected." << std::endl;
    return;
  }
  SessionCloseGuard* guard = close_guard_of(this, measuring_window_);

  SessionStart start;
  start.threshold = read_number(lineEdit_threshold->text());
  start.lambda = read_number(lineEdit_lambda->text()) / 1000.0;
  // The session gets copies: the carried values change only when it is accepted.
  start.region = series.saved_region_in_photo;
  if (series.saved_cut_offs) {
    start.cut_offs = {series.saved_cut_offs->top, series.saved_cut_offs->bottom};
  }
  // Key k keeps its scale for the photograph measured, in the series' scale.csv; the scale of
  // another photograph that it proposes and the user keeps is carried over instead.
  const std::string& measured = series.file_list[series.current_index].name;
  std::optional<SessionScale> key_k_carried;
  start.set_scale = [this, directory = series.series_directory, measured, &key_k_carried,
                     &series](const ScaleClicks& c) {
    const ScaleStepOutcome outcome =
        set_scale_of_series(directory, measured, c, this, measuring_clock_, std::cout);
    if (outcome.set) key_k_carried.reset();
    if (!outcome.carried) return;
    key_k_carried = carried_scale_of(*outcome.carried, series.file_list);
    std::cout << "Scale: scale " << key_k_carried->px_per_mm << " px/mm carried over from file "
              << key_k_carried->from << "." << std::endl;
  };
  start.polarity =
      series.saved_dark_object ? ObjectPolarity::kDarkOnLight : ObjectPolarity::kLightOnDark;
  // Keys c and y: a scale read from this photograph, or the last one's carried over explicitly.
  start.read_scale = [this](const cv::Mat& photograph) {
    return read_scale_asking(photograph, reference_sizes_,
                             [this](const std::string& question, double proposed_mm) {
                               return ask_reference_size(this, question, proposed_mm);
                             });
  };
  start.carried_scale = last_scale_;
  // The Output title's millimetres: key k's scale carried over, else scale.csv's for this
  // photograph.
  start.scale_in_force = [directory = series.series_directory, measured, &key_k_carried] {
    if (key_k_carried) return *key_k_carried;
    const ScaleFile file = read_scale_file(directory + "/" + kScaleFileName);
    const ScaleLookup in_force = scale_for_photograph(file.rows, measured);
    SessionScale scale;
    if (in_force.source == ScaleSource::none) return scale;
    scale.method = "clicked";
    scale.px_per_mm = in_force.row.px_per_mm;
    return scale;
  };

  lock_all();
  const unsigned number = series.current_index + 1;
  const std::string name = series.file_list[series.current_index].name;
  const std::string directory = series.series_directory;
  std::cout << std::endl << "Starting new measurement for file " << number << ":" << std::endl;
  const std::string image_path = directory + "/" + name;
  // Read once, here: the session fits these pixels and the record takes this capture date,
  // whatever happens to the file meanwhile.
  const PhotographFile photo = open_photograph(measuring_window_, image_path);
  std::optional<SessionResult> result;
  bool saved = false;
  if (photo.status != PhotographFile::loaded) {
    end_busy_cursor();
    std::cout << photo.message << std::endl;
  } else {
    start.photograph = photo.image;
    start.save = [&](const SessionResult& accepted) {
      const AppendOutcome outcome = save_accepted(directory, name, photo.capture_date,
                                                  with_key_k_scale(accepted, key_k_carried),
                                                  measuring_clock_, *file_operations_);
      saved = outcome.saved;
      return SaveOutcome{outcome.saved, not_saved_reason(outcome)};
    };
    session_in_progress = true;
    result = measurement_session(measuring_window_, image_path, start);
    close_fit_windows();  // those made while the photograph was read, when no session took them
    session_in_progress = false;
    end_busy_cursor();  // a session that ended before its first view
  }

  if (result && result->accepted()) *result = with_key_k_scale(*result, key_k_carried);
  if (!result || !result->accepted()) {
    unlock_all();
    last_session_line_ = "Measurement for file " + std::to_string(number) + " CANCELLED.";
    std::cout << last_session_line_ << std::endl << std::endl;
    update_file_list();
  } else {
    series.saved_region_in_photo = result->region;
    series.saved_cut_offs = {{result->cut_offs.top, result->cut_offs.bottom}};
    series.saved_dark_object = result->polarity == ObjectPolarity::kDarkOnLight;
    if (result->scale.found()) {
      last_scale_ = result->scale;
      if (result->scale.method != "carried") last_scale_.from = std::to_string(number);
    }

    // A session that ran no save step is saved now, once.
    const AppendOutcome outcome = saved
                                      ? AppendOutcome{true, {}, {}, false}
                                      : save_accepted(directory, name, photo.capture_date, *result,
                                                      measuring_clock_, *file_operations_);
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
