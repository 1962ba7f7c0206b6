// The batch measuring saves what a user saves in the window: on the same photographs, "Read!",
// then for each file "Take new measurement", key a and ENTER, give the same measures file byte for
// byte (both measured at the same fixed time) as `fit` on a copy of the series.
#include <gtest/gtest.h>
#include <opencv2/highgui/highgui_c.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/myqtapp.h"
#include "batch_test_support.h"
#include "series/series_state.h"
#include "windows/fit_session.h"

using namespace meravel;

namespace {

void post_key(int key, const char* text) {
  if (QWidget* output = static_cast<QWidget*>(cvGetWindowHandle("Output"))) {
    QCoreApplication::postEvent(
        output, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, QString::fromLatin1(text)));
  }
}

// The user: once the session waits for a key, types a; the next time, ENTER.
class KeyAThenEnter : public QObject {
 public:
  explicit KeyAThenEnter(const MeasuringWindow& measuring) {
    connect(&timer_, &QTimer::timeout, this, [this, &measuring] {
      if (!measuring.waiting_for_key()) return;
      if (!fitted_) {
        fitted_ = true;
        post_key(Qt::Key_A, "a");
      } else {
        post_key(Qt::Key_Return, "\r");
      }
    });
    timer_.start(50);
  }

 private:
  bool fitted_ = false;
  QTimer timer_;
};

TEST(BatchAgainstWindow, RecordsEqualThoseOfKeyAAndEnterInTheWindow) {
  TempDirectory by_hand;
  make_demo_series(by_hand);
  series_state() = SeriesState();
  myQtApp window;
  window.set_measuring_clock(fixed_measuring_time);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::keyClicks(window.findChild<QLineEdit*>("lineEdit_directory"),
                   QString::fromStdString(by_hand.path()));
  QTest::mouseClick(window.findChild<QPushButton*>("pushButton_process"), Qt::LeftButton);
  const size_t count = series_state().file_list.size();
  ASSERT_EQ(count, 8u);

  // The batch works on a copy with the same measuring order.
  TempDirectory batch;
  copy_series(by_hand, batch);

  testing::internal::CaptureStdout();
  for (size_t i = 0; i < count; ++i) {
    KeyAThenEnter user(window.measuring_window());
    QTest::mouseClick(window.findChild<QPushButton*>("pushButton_do"), Qt::LeftButton);
    QTest::mouseClick(window.findChild<QPushButton*>("pushButton_file_fwd"), Qt::LeftButton);
  }
  const std::string printed = testing::internal::GetCapturedStdout();
  window.close();
  series_state() = SeriesState();
  ASSERT_EQ(lines_of(by_hand.read("measures.csv")).size(), count + 1) << printed;

  const BatchRunResult run = run_batch_on(batch.path(), 2);
  EXPECT_EQ(run.summary.measured, count) << run.progress;
  EXPECT_EQ(batch.read("measures.csv"), by_hand.read("measures.csv"));
}

}  // namespace
