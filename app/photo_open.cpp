#include "app/photo_open.h"

#include <malloc.h>

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QWidget>
#include <chrono>
#include <limits>

#include "series/file_navigation.h"
#include "series/series_state.h"
#include "windows/fit_session.h"
#include "windows/fit_windows.h"

using namespace meravel;

namespace {

std::string path_of_entry(const SeriesState& series, unsigned index) {
  return series.series_directory + "/" + series.file_list[index].name;
}

// The busy cursor over every window of the program, from the start of an open until the
// session's first view or its end.
bool busy_cursor_shown = false;

void show_busy_cursor() {
  if (busy_cursor_shown || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  busy_cursor_shown = true;
}

// Repaints pending for the main window (and the cursor change) are handled; user input waits.
void repaint_now() {
  if (QCoreApplication::instance()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
}

}  // namespace

void keep_freed_images_for_reuse() {
  // Blocks up to 1 GB come from the heap rather than from a mapping of their own, and the heap's
  // top is given back only beyond 2 GB free. Every thread allocates from that one heap: a second
  // thread's own heap cannot hold a full-size image (it would be mapped anew for every photograph)
  // nor reuse what the main thread freed.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  mallopt(M_ARENA_MAX, 1);
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

void end_busy_cursor() {
  if (busy_cursor_shown) QApplication::restoreOverrideCursor();
  busy_cursor_shown = false;
}

PhotographFile open_photograph(const MeasuringWindow& window, const std::string& image_path) {
  show_busy_cursor();
  PhotographPrefetch& prefetch = photograph_prefetch();
  // The photograph is read on the prefetch's thread while the main window repaints and the
  // session's windows are made.
  prefetch.prefetch(image_path);
  repaint_now();
  const bool windows_made = !window.running();
  if (windows_made) create_fit_windows(window.state.show_binary);
  while (!prefetch.wait_until_read(image_path, std::chrono::milliseconds(20))) repaint_now();
  PhotographFile photo = prefetch.take(image_path);
  if (windows_made && photo.status != PhotographFile::loaded) close_fit_windows();
  return photo;
}

std::optional<SessionResult> measure_prefetched_photo(MeasuringWindow& window,
                                                      const std::string& image_path,
                                                      const SessionStart& start) {
  if (window.running()) return std::nullopt;
  cv::Mat image = start.photograph;
  if (image.empty()) {
    PhotographFile photo = open_photograph(window, image_path);
    if (photo.status != PhotographFile::loaded) {
      end_busy_cursor();
      return window.measure_photo(image_path, start);
    }
    image = photo.image;
  }
  show_busy_cursor();

  // The next file of the series, read ahead once the first view shows.
  std::string next_path;
  const SeriesState& series = series_state();
  if (!series.file_list.empty() && series.current_index < series.file_list.size() &&
      path_of_entry(series, series.current_index) == image_path) {
    next_path =
        path_of_entry(series, next_file_index(series.current_index, series.file_list.size()));
  }
  PhotographPrefetch& prefetch = photograph_prefetch();
  std::optional<SessionResult> result = window.measure_decoded_photo(image_path, image, start, [&] {
    end_busy_cursor();
    if (!next_path.empty() && next_path != image_path) prefetch.prefetch(next_path);
  });
  end_busy_cursor();
  return result;
}
