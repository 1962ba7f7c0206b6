// Opening the photograph of a measurement through the prefetch: the session on a photograph read
// ahead is the session on one read on demand (status lines, Output view, result), a file changed
// on disk after it was read ahead is read again, the main window shows the busy cursor and
// repaints while the photograph opens, and the next file of the series is read ahead.
#include "app/photo_open.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "series/series_state.h"
#include "stdout_capture.h"
#include "windows/window_test_support.h"

using namespace meravel;

namespace {

using namespace window_test;

// What a session showed and handed back: everything written to standard output, the Output view
// at the first key wait and after key r, and the result.
struct SessionRecord {
  std::string output;
  cv::Mat first_view;
  cv::Mat view_after_r;
  SessionResult result;
};

using Session = std::optional<SessionResult> (*)(MeasuringWindow&, const std::string&,
                                                 const SessionStart&);

// The session on a photograph read on demand.
std::optional<SessionResult> measure_photo(MeasuringWindow& measuring, const std::string& path,
                                           const SessionStart& start) {
  return measuring.measure_photo(path, start);
}

SessionRecord record_session(MeasuringWindow& measuring, Session session, const std::string& path) {
  SessionRecord record;
  StdoutCapture capture;
  ScriptedUser user(measuring, {[&] {
                                  record.first_view = measuring.state.output_display.clone();
                                  type_key('r');
                                },
                                [&] {
                                  record.view_after_r = measuring.state.output_display.clone();
                                  post_key(Qt::Key_Return, QStringLiteral("\r"));
                                }});
  SessionStart start;
  start.threshold = 131;
  start.lambda = 1.1;
  start.cut_offs = {1, 5};
  const std::optional<SessionResult> result = session(measuring, path, start);
  std::fflush(stdout);
  record.output = capture.text();
  if (result) record.result = *result;
  return record;
}

bool same_pixels(const cv::Mat& a, const cv::Mat& b) {
  return !a.empty() && a.size() == b.size() && a.type() == b.type() &&
         cv::norm(a, b, cv::NORM_INF) == 0;
}

void expect_same_session(const SessionRecord& a, const SessionRecord& b) {
  EXPECT_NE(a.output.find("energy="), std::string::npos);
  EXPECT_EQ(a.output, b.output);
  EXPECT_TRUE(same_pixels(a.first_view, b.first_view));
  EXPECT_TRUE(same_pixels(a.view_after_r, b.view_after_r));
  EXPECT_EQ(a.result.end, b.result.end);
  EXPECT_EQ(a.result.energy, b.result.energy);
  EXPECT_EQ(a.result.lambda, b.result.lambda);
  EXPECT_EQ(a.result.threshold, b.result.threshold);
  EXPECT_EQ(a.result.model.width, b.result.model.width);
  EXPECT_EQ(a.result.model.height, b.result.model.height);
}

class PhotoOpen : public WindowTest {
 protected:
  void TearDown() override {
    photograph_prefetch().drop();
    series_state() = SeriesState();
    WindowTest::TearDown();
  }
  TempDirectory dir_;
};

}  // namespace

TEST_F(PhotoOpen, APhotographReadAheadGivesTheSessionOfOneReadOnDemand) {
  const std::string path = dir_ / "egg.jpg";
  ASSERT_TRUE(cv::imwrite(path, make_photo(640, 480, {330, 250}, {120, 170})));
  const SessionRecord on_demand = record_session(measuring_, measure_photo, path);
  ASSERT_EQ(on_demand.result.end, SessionEnd::kAccepted);

  photograph_prefetch().prefetch(path);
  ASSERT_TRUE(photograph_prefetch().wait_until_read(path, std::chrono::seconds(20)));
  ASSERT_TRUE(photograph_prefetch().holds(path));
  const SessionRecord read_ahead = record_session(measuring_, measure_prefetched_photo, path);
  expect_same_session(read_ahead, on_demand);
  EXPECT_FALSE(photograph_prefetch().holds(path));  // handed to the session, not kept twice
}

TEST_F(PhotoOpen, AFileChangedOnDiskAfterItWasReadAheadIsReadAgain) {
  const std::string path = dir_ / "egg.jpg";
  ASSERT_TRUE(cv::imwrite(path, make_photo(640, 480, {330, 250}, {120, 170})));
  photograph_prefetch().prefetch(path);
  ASSERT_TRUE(photograph_prefetch().wait_until_read(path, std::chrono::seconds(20)));
  // Another photograph under the same name: another size, other pixels.
  ASSERT_TRUE(cv::imwrite(path, make_photo(600, 500, {280, 260}, {140, 150})));

  const SessionRecord read_ahead = record_session(measuring_, measure_prefetched_photo, path);
  const SessionRecord on_demand = record_session(measuring_, measure_photo, path);
  expect_same_session(read_ahead, on_demand);
  // The view of the new photograph (taller than 4:3: 600 high), not the 800 x 600 of the old one.
  EXPECT_EQ(read_ahead.first_view.size(), cv::Size(720, 600));
}

// Through the main window the session's windows are made while the photograph is read, before the
// session begins; a photograph that cannot be read leaves none open.
TEST_F(PhotoOpen, TheSessionsWindowsAreMadeWhileThePhotographIsRead) {
  const std::string path = dir_ / "egg.jpg";
  ASSERT_TRUE(cv::imwrite(path, make_photo(640, 480, {330, 250}, {120, 170})));
  bool output_before_session = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!measuring_.running() && window(kOutputWindow)) output_before_session = true;
  });
  watch.start(0);
  ScriptedUser user(measuring_, {[] { post_key(Qt::Key_Escape, QStringLiteral("\x1b")); }});
  SessionStart start;
  start.threshold = 131;
  StdoutCapture capture;
  EXPECT_EQ(measure_prefetched_photo(measuring_, path, start)->end, SessionEnd::kCancelled);
  EXPECT_TRUE(output_before_session);

  const std::optional<SessionResult> missing =
      measure_prefetched_photo(measuring_, dir_ / "missing.jpg", start);
  watch.stop();
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->end, SessionEnd::kPhotographUnreadable);
  for (const char* name : {kOutputWindow, kTrackbarsWindow, kDeviationWindow}) {
    EXPECT_EQ(window(name), nullptr) << name;
  }
}

// A full-size image made on a second thread (the prefetch's read, the distance map) takes the
// memory the main thread freed instead of having the system map and clear new pages.
TEST(FreedImages, AreReusedByAnotherThread) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer's allocator stands in for the heap";
#endif
  keep_freed_images_for_reuse();
  const cv::Size photo(6000, 4000);
  cv::Mat(photo, CV_8UC3, cv::Scalar::all(1)).release();  // the pages are touched, then freed
  const long new_pages = std::async(std::launch::async, [photo] {
                           rusage before{};
                           getrusage(RUSAGE_THREAD, &before);
                           const cv::Mat image(photo, CV_8UC3, cv::Scalar::all(2));
                           rusage after{};
                           getrusage(RUSAGE_THREAD, &after);
                           return after.ru_minflt - before.ru_minflt;
                         }).get();
  // 17,579 pages hold the image; a few may be new where the heap's layout shifted.
  EXPECT_LT(new_pages, 1000);
}

TEST_F(PhotoOpen, BusyCursorAndRepaintsWhileOpeningThenTheNextFileIsReadAhead) {
  for (const char* name : {"a.jpg", "b.jpg"}) {
    ASSERT_TRUE(cv::imwrite(dir_ / name, make_photo(640, 480, {330, 250}, {120, 170})));
  }
  SeriesState& series = series_state();
  series.series_directory = dir_.path();
  series.file_list = {{"a.jpg", 1}, {"b.jpg", 2}};
  series.current_index = 0;

  // The main window, asked to repaint as the session begins.
  QWidget main_window;
  main_window.resize(200, 100);
  main_window.show();
  QApplication::processEvents();
  // Paints delivered while the busy cursor shows, which it does only while the photograph opens.
  struct PaintCounter : QObject {
    int paints_while_busy = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint && QApplication::overrideCursor()) ++paints_while_busy;
      return false;
    }
  } counter;
  main_window.installEventFilter(&counter);

  Qt::CursorShape cursor_while_opening = Qt::ArrowCursor;
  QTimer::singleShot(0, [&] {
    if (const QCursor* cursor = QApplication::overrideCursor()) {
      cursor_while_opening = cursor->shape();
    }
  });
  main_window.update();  // a repaint pending as the open begins
  bool cursor_at_first_key = true;
  std::string read_ahead_in_session;
  StdoutCapture capture;
  ScriptedUser user(measuring_, {[&] {
                      cursor_at_first_key = QApplication::overrideCursor() != nullptr;
                      read_ahead_in_session = photograph_prefetch().path();
                      post_key(Qt::Key_Escape, QStringLiteral("\x1b"));
                    }});
  SessionStart start;
  start.threshold = 131;
  measure_prefetched_photo(measuring_, dir_ / "a.jpg", start);

  EXPECT_EQ(cursor_while_opening, Qt::WaitCursor);
  EXPECT_GE(counter.paints_while_busy, 1);
  EXPECT_FALSE(cursor_at_first_key);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(read_ahead_in_session, dir_ / "b.jpg");
  // Moving on to b keeps it; moving elsewhere drops it for the new current file.
  series.current_index = 1;
  follow_current_photograph();
  EXPECT_EQ(photograph_prefetch().path(), dir_ / "b.jpg");
  series.file_list = {{"a.jpg", 1}, {"b.jpg", 2}, {"c.jpg", 3}};
  series.current_index = 2;
  follow_current_photograph();
  EXPECT_EQ(photograph_prefetch().path(), dir_ / "c.jpg");
  series.file_list.clear();
  follow_current_photograph();
  EXPECT_TRUE(photograph_prefetch().path().empty());
}
