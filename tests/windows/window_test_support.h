// Helpers for driving the real fitting windows headless: a watchdog against a stuck key loop,
// scratch photographs, and a scripted user who types into and clicks on "Output" from timers.
#pragma once

#include <gtest/gtest.h>
#include <opencv2/highgui/highgui_c.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QObject>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fit/fit_W.h"
#include "fit/geometry.h"
#include "test_support.h"
#include "tools/demo_photo.h"
#include "windows/fit_session.h"
#include "windows/fit_windows.h"
#include "windows/measuring_window.h"

using namespace meravel;

namespace window_test {

// Aborts the test program when it is still alive after `seconds`: a key loop that never returns
// then fails the test instead of hanging the run.
class Watchdog {
 public:
  explicit Watchdog(int seconds = 120)
      : thread_([this, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "Watchdog: the test did not finish within %d s\n", seconds);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

inline QWidget* window(const char* name) { return static_cast<QWidget*>(cvGetWindowHandle(name)); }

// The slider of trackbar `label`, found by the backend's name for it.
inline QSlider* slider(const char* label) {
  QWidget* trackbars = window(kTrackbarsWindow);
  if (!trackbars) return nullptr;
  for (QLayout* layout : trackbars->findChildren<QLayout*>(label)) {
    for (int i = 0; i < layout->count(); ++i) {
      if (auto* s = qobject_cast<QSlider*>(layout->itemAt(i)->widget())) return s;
    }
  }
  return nullptr;
}

// The widget that receives the clicks of an image window.
inline QWidget* viewport_of(const char* name) {
  QWidget* w = window(name);
  if (!w) return nullptr;
  for (QWidget* child : w->findChildren<QWidget*>()) {
    if (std::strcmp(child->metaObject()->className(), "DefaultViewPort") == 0) {
      return static_cast<QAbstractScrollArea*>(child)->viewport();
    }
  }
  return nullptr;
}

inline void post_key(Qt::Key key, const QString& text,
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QCoreApplication::postEvent(window(kOutputWindow),
                              new QKeyEvent(QEvent::KeyPress, key, modifiers, text));
}

// A lower-case letter, digit-free key as the keyboard delivers it.
inline void type_key(char c) {
  if (c == '\r') return post_key(Qt::Key_Return, "\r");
  if (c == 27) return post_key(Qt::Key_Escape, QString(QChar(27)));
  post_key(static_cast<Qt::Key>(Qt::Key_A + (c - 'a')), QString(QChar(c)));
}

// A left click at view position (x, y) of "Output".
inline void click_output(int x, int y) {
  QWidget* viewport = viewport_of(kOutputWindow);
  ASSERT_NE(viewport, nullptr);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, y), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(viewport, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(x, y), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(viewport, &release);
}

// Runs its steps one after another from timers, each only while the session of `measuring` is
// idle in its key wait (as a user acts on what the windows show), and a step's key is handled
// before the next.
class ScriptedUser {
 public:
  ScriptedUser(const MeasuringWindow& measuring, std::vector<std::function<void()>> steps,
               int delay_ms = 60)
      : measuring_(measuring), steps_(std::move(steps)), delay_ms_(delay_ms) {
    schedule();
  }

  bool finished() const { return next_ == steps_.size(); }

 private:
  void schedule() {
    QTimer::singleShot(delay_ms_, &context_, [this] { run_next(); });
  }
  void run_next() {
    if (finished()) return;
    if (measuring_.waiting_for_key()) steps_[next_++]();
    schedule();
  }

  QObject context_;
  const MeasuringWindow& measuring_;
  std::vector<std::function<void()>> steps_;
  size_t next_ = 0;
  int delay_ms_;
};

inline std::function<void()> key(char c) {
  return [c] { type_key(c); };
}
inline std::function<void()> click(int x, int y) {
  return [x, y] { click_output(x, y); };
}

// A photograph: a light ellipse (centre, half axes) on a dark, slightly textured background, so
// every crop has its own pixels. Written losslessly as PNG unless the name says otherwise.
inline cv::Mat make_photo(int width, int height, cv::Point centre, cv::Size axes) {
  cv::Mat photo(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      photo.at<cv::Vec3b>(y, x) = cv::Vec3b((x * 7 + y * 3) % 40, (x + y * 5) % 40, 20);
    }
  }
  cv::ellipse(photo, centre, axes, 0, 0, 360, cv::Scalar(230, 230, 230), cv::FILLED);
  return photo;
}

inline std::string write_photo(const TempDirectory& dir, const std::string& name, int width,
                               int height) {
  const std::string path = dir.file(name);
  cv::imwrite(path, make_photo(width, height, cv::Point(width / 2, height / 2),
                               cv::Size(width / 5 + 1, height / 3 + 1)));
  return path;
}

// The nine values of the session's call contract, as the main window passes them.
struct SessionValues {
  int threshold = 131;
  double lambda = 1.1;
  double energy = 0;
  int roi_x = 0, roi_y = 0, roi_width = 0, roi_height = 0;
  int cut_off_top = 0, cut_off_bottom = 0;

  // measure_photo from these values, with no save step: on ENTER every one is written back;
  // otherwise only lambda, with the cancel marker 9999.0.
  void run(MeasuringWindow& measuring, const std::string& path) {
    SessionStart start;
    start.threshold = threshold;
    start.lambda = lambda;
    start.region = cv::Rect(roi_x, roi_y, roi_width, roi_height);
    start.cut_offs = {cut_off_top, cut_off_bottom};
    const std::optional<SessionResult> result = measuring.measure_photo(path, start);
    if (!result || !result->accepted()) {
      lambda = 9999.0;
      return;
    }
    threshold = result->threshold;
    lambda = result->lambda;
    energy = result->energy;
    roi_x = result->region.x;
    roi_y = result->region.y;
    roi_width = result->region.width;
    roi_height = result->region.height;
    cut_off_top = result->cut_offs.top;
    cut_off_bottom = result->cut_offs.bottom;
  }
};

// Two model eggs, light on a dark textured ground of 600 x 340: egg 1 on the left, egg 2 on the
// right.
inline const DemoObject kTwoEggs[] = {
    {1.3, std::round(width_for_pixel_width(1.3, 190, 140)), 190, 10, 160, 170},
    {1.2, std::round(width_for_pixel_width(1.2, 150, 112)), 150, 340, 440, 160},
};

// The photograph of kTwoEggs, written losslessly (as the name says) in `dir`; its path.
inline std::string write_two_eggs(const TempDirectory& dir, const std::string& name) {
  cv::Mat photo = make_photo(600, 340, cv::Point(-100, -100), cv::Size(1, 1));
  for (const DemoObject& egg : kTwoEggs) {
    std::vector<cv::Point> outline;
    for (const cv::Point2d& p : demo_object_outline(egg)) {
      outline.emplace_back(cvRound(p.x), cvRound(p.y));
    }
    cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{outline}, cv::Scalar(225, 225, 225));
  }
  const std::string path = dir.file(name);
  cv::imwrite(path, photo);
  return path;
}

// Every test starts from a fresh measuring window and ends with no image window.
class WindowTest : public testing::Test {
 protected:
  void TearDown() override { cv::destroyAllWindows(); }
  Watchdog watchdog_;
  MeasuringWindow measuring_;
};

}  // namespace window_test
