#include "app/photo_open.h"

#include <malloc.h>

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QWidget>
#include <chrono>
#include <limits>

#include "fit/windows/fit_session.h"
#include "series/file_navigation.h"
#include "series/series_state.h"

namespace {

std::string path_of_entry(const SeriesState& series, unsigned index) {
  return series.series_directory + "/" + series.file_list[index].name;
}

// The busy cursor over every window of the program until the session's first view or the end.
class BusyCursor {
 public:
  BusyCursor() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      shown_ = true;
    }
  }
  ~BusyCursor() { end(); }
  void end() {
    if (shown_) QApplication::restoreOverrideCursor();
    shown_ = false;
  }

 private:
  bool shown_ = false;
};

// Repaints pending for the main window (and the cursor change) are handled; user input waits.
void repaint_now() {
  if (QCoreApplication::instance()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
}

}  // namespace

void keep_freed_images_for_reuse() {
  // Blocks up to 1 GB come from the heap rather than from a mapping of their own, and the heap's
  // top is given back only beyond 2 GB free.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
}

PhotographPrefetch& photograph_prefetch() {
  static PhotographPrefetch prefetch;
  return prefetch;
}

void follow_current_photograph() {
  const SeriesState& series = series_state();
  PhotographPrefetch& prefetch = photograph_prefetch();
  if (series.file_list.empty() || series.current_index >= series.file_list.size()) {
    prefetch.drop();
    return;
  }
  const std::string kept = prefetch.path();
  const unsigned next = next_file_index(series.current_index, series.file_list.size());
  if (!kept.empty() && (kept == path_of_entry(series, series.current_index) ||
                        kept == path_of_entry(series, next))) {
    return;
  }
  prefetch.prefetch(path_of_entry(series, series.current_index));
}

std::optional<SessionResult> measure_prefetched_photo(const std::string& image_path,
                                                      const SessionStart& start) {
  if (measurement_session_running()) return std::nullopt;
  BusyCursor busy;
  PhotographPrefetch& prefetch = photograph_prefetch();
  repaint_now();
  // The photograph is read on the prefetch's thread while the main window repaints.
  prefetch.prefetch(image_path);
  while (!prefetch.wait_until_read(image_path, std::chrono::milliseconds(20))) repaint_now();
  PhotographFile photo = prefetch.take(image_path);
  if (photo.status != PhotographFile::loaded) {
    photo = PhotographFile();
    return measure_photo(image_path, start);
  }

  // The next file of the series, read ahead once the first view shows.
  std::string next_path;
  const SeriesState& series = series_state();
  if (!series.file_list.empty() && series.current_index < series.file_list.size() &&
      path_of_entry(series, series.current_index) == image_path) {
    next_path =
        path_of_entry(series, next_file_index(series.current_index, series.file_list.size()));
  }
  const cv::Mat image = photo.image;
  photo = PhotographFile();  // the session holds the pixels from here
  return measure_decoded_photo(image_path, image, start, [&] {
    busy.end();
    if (!next_path.empty() && next_path != image_path) prefetch.prefetch(next_path);
  });
}
