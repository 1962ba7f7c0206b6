// A first measurement as the README walks it, on the real main window and the real image windows:
// a directory of demo photographs, "Read!", "Take new measurement", p, ENTER; then the measures
// file, line by line. Also: closing the main window in the middle of a session.
#include <gtest/gtest.h>
#include <opencv2/highgui/highgui_c.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/core.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/myqtapp.h"
#include "fit/fit_W.h"
#include "records_fixture.h"
#include "series/file_faults.h"
#include "series/measures_file.h"
#include "series/series_state.h"
#include "test_support.h"
#include "windows/fit_session.h"

using namespace meravel;

namespace {

QWidget* image_window(const char* name) { return static_cast<QWidget*>(cvGetWindowHandle(name)); }

void post_key(int key, const char* text) {
  if (QWidget* output = image_window("Output")) {
    QCoreApplication::postEvent(
        output, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, QString::fromLatin1(text)));
  }
}

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::vector<std::string> lines_of(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, ';');) fields.push_back(field);
  return fields;
}

// A user at the keyboard: each time the session waits for a key, does the next of `actions`
// (types a key into "Output", closes the main window, ...), and once they are done presses ENTER
// whenever the session waits again, until it is over. Keys go in only while the session waits, as
// a user sees the windows respond before typing on.
class SessionDriver : public QObject {
 public:
  SessionDriver(const MeasuringWindow& measuring, std::vector<std::function<void()>> actions)
      : measuring_(measuring), actions_(std::move(actions)) {
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    timer_.start(100);
  }

 private:
  void tick() {
    if (!measuring_.waiting_for_key()) return;
    if (next_ < actions_.size()) {
      actions_[next_++]();
      return;
    }
    post_key(Qt::Key_Return, "\r");
  }

  const MeasuringWindow& measuring_;
  std::vector<std::function<void()>> actions_;
  size_t next_ = 0;
  QTimer timer_;
};

class FirstMeasurement : public testing::Test {
 protected:
  void SetUp() override {
    const std::string command =
        std::string(MERAVEL_BUILD_DIR) + "/make_demo_series " + directory_.path() + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const std::string& line : lines_of(directory_.file("ground_truth.csv"))) {
      const std::vector<std::string> f = fields_of(line);
      if (f.size() >= 11 && f[0] != "file") truth_[f[0]] = f;
    }
    window_.set_measuring_clock(fixed_measuring_time);
    series_state() = SeriesState();
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    // The directory typed in, then "Read!".
    QLineEdit* directory_field = window_.findChild<QLineEdit*>("lineEdit_directory");
    QTest::keyClicks(directory_field, QString::fromStdString(directory_.path()));
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_process"), Qt::LeftButton);
  }

  void TearDown() override { series_state() = SeriesState(); }

  std::string take_measurement() {
    testing::internal::CaptureStdout();
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_do"), Qt::LeftButton);
    return testing::internal::GetCapturedStdout();
  }

  myQtApp window_;
  TempDirectory directory_;
  std::map<std::string, std::vector<std::string>> truth_;
};

}  // namespace

// The values of the last status line before the save: the fit the user accepted.
std::pair<std::string, std::string> last_status_energy_and_lambda(const std::string& printed) {
  const size_t line = printed.rfind("energy=");
  if (line == std::string::npos) return {};
  const size_t energy_end = printed.find(", lambda=", line);
  const size_t lambda_end = printed.find(", ", energy_end + 1);
  if (energy_end == std::string::npos || lambda_end == std::string::npos) return {};
  return {printed.substr(line + 7, energy_end - line - 7),
          printed.substr(energy_end + 9, lambda_end - energy_end - 9)};
}

TEST_F(FirstMeasurement, ReadOptimiseAndSaveGivesHeaderAndOneRecord) {
  ASSERT_EQ(series_state().file_list.size(), truth_.size());
  const std::string current = series_state().file_list.at(0).name;
  ASSERT_TRUE(truth_.count(current)) << current;

  SessionDriver driver(window_.measuring_window(), {[] { post_key(Qt::Key_P, "p"); }});
  const std::string printed = take_measurement();
  EXPECT_EQ(printed.rfind("\nStarting new measurement for file 1:\n", 0), 0u) << printed;
  const std::string saved = "Measurement for file 1 SAVED.\n\n";
  ASSERT_GE(printed.size(), saved.size());
  EXPECT_EQ(printed.substr(printed.size() - saved.size()), saved) << printed;

  const std::vector<std::string> lines = lines_of(directory_.file("measures.csv"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;");
  const std::vector<std::string> record = fields_of(lines[1]);
  ASSERT_EQ(record.size(), 5u) << lines[1];
  EXPECT_EQ(lines[1].back(), ';');
  EXPECT_EQ(record[0], current);
  std::string capture_date = truth_[current][10];
  capture_date[4] = capture_date[7] = '-';
  EXPECT_EQ(record[1], capture_date);
  EXPECT_EQ(record[2], "2012-04-02 09:05:03");
  // Lambda and energy are those of the fit on screen when ENTER was pressed.
  const auto [energy_text, lambda_text] = last_status_energy_and_lambda(printed);
  EXPECT_EQ(record[3], lambda_text) << printed;
  EXPECT_EQ(record[4], energy_text) << printed;

  EXPECT_EQ(series_state().current_index, 0u);
  EXPECT_TRUE(window_.findChild<QPushButton*>("pushButton_do")->isEnabled());
  EXPECT_EQ(image_window("Output"), nullptr);
}

// The README promises that p and ENTER measure any demo photograph: from the session's start
// (energies of 50 px and more) the optimiser lands on the object, near its true lambda.
TEST_F(FirstMeasurement, PAndEnterMeasureEveryDemoPhotograph) {
  const size_t count = series_state().file_list.size();
  for (size_t i = 0; i < count; ++i) {
    SessionDriver driver(window_.measuring_window(), {[] { post_key(Qt::Key_P, "p"); }});
    take_measurement();
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_file_fwd"), Qt::LeftButton);
  }
  const std::vector<std::string> lines = lines_of(directory_.file("measures.csv"));
  ASSERT_EQ(lines.size(), count + 1);
  for (size_t i = 1; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    const std::vector<std::string> record = fields_of(lines[i]);
    ASSERT_EQ(record.size(), 5u);
    EXPECT_EQ(record[0], series_state().file_list.at(i - 1).name);
    ASSERT_TRUE(truth_.count(record[0]));
    EXPECT_NEAR(std::stod(record[3]), std::stod(truth_[record[0]][1]), 0.15);
    EXPECT_LT(std::stod(record[4]), 3.0);
  }
}

TEST_F(FirstMeasurement, ClosingTheMainWindowCancelsTheSessionThenCloses) {
  SessionDriver driver(window_.measuring_window(), {[this] { window_.close(); }});
  const std::string printed = take_measurement();
  EXPECT_NE(printed.find("Measurement for file 1 CANCELLED.\n"), std::string::npos) << printed;
  EXPECT_FALSE(directory_.exists("measures.csv"));
  EXPECT_FALSE(window_.isVisible());
  EXPECT_EQ(image_window("Output"), nullptr);
}

// A save that fails keeps the session on screen: the measures file is exactly as before, one line
// says so, and ENTER once the fault is gone saves the same fit exactly once.
TEST_F(FirstMeasurement, AFailedSaveKeepsTheSessionAndTheRetrySavesOnce) {
  const struct {
    const char* what;
    FaultyFileOperations::Call call;
    int error;
    const char* reason;
  } cases[] = {
      {"full disk", FaultyFileOperations::Call::write, ENOSPC,
       "ERROR writing file: No space left on device"},
      {"sync failure", FaultyFileOperations::Call::fsync, EIO,
       "ERROR syncing file: Input/output error"},
      {"close failure", FaultyFileOperations::Call::close, EIO,
       "ERROR closing file: Input/output error"},
      {"no lock", FaultyFileOperations::Call::lock, EWOULDBLOCK,
       "ERROR locking file: another program keeps it locked"},
  };
  const std::string earlier =
      std::string(kMeasuresHeader) + "\nearlier.jpg;;2011-01-01 10:00:00;1;1;\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(directory_.file("measures.csv"), std::ios::trunc) << earlier;
    write_details_rows(directory_.file("measures_details.csv"), {"earlier.jpg"});
    FaultyFileOperations faults;
    faults.fail(c.call, c.error, "measures.csv");
    window_.set_file_operations(faults);
    std::string after_failure;
    bool open_after_failure = false;
    SessionDriver driver(window_.measuring_window(),
                         {[] { post_key(Qt::Key_U, "u"); }, [] { post_key(Qt::Key_Return, "\r"); },
                          [&] {
                            after_failure = directory_.read("measures.csv");
                            open_after_failure = image_window("Output") != nullptr;
                            window_.set_file_operations(posix_file_operations());
                          }});
    const std::string printed = take_measurement();
    EXPECT_EQ(after_failure, earlier);
    EXPECT_TRUE(open_after_failure);
    const std::string not_saved = std::string("Not saved: ") + c.reason +
                                  " (measures.csv). ENTER to try again, ESC to cancel.\n";
    EXPECT_EQ(count_of(printed, not_saved), 1) << printed;
    EXPECT_EQ(count_of(printed, "Measurement for file 1 SAVED.\n\n"), 1) << printed;
    EXPECT_LT(printed.find(not_saved), printed.find("SAVED."));
    const std::vector<std::string> lines = lines_of(directory_.file("measures.csv"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(directory_.read("measures.csv").substr(0, earlier.size()), earlier);
    const std::vector<std::string> record = fields_of(lines[2]);
    ASSERT_EQ(record.size(), 5u);
    EXPECT_EQ(record[0], series_state().file_list.at(0).name);
    const auto [energy_text, lambda_text] = last_status_energy_and_lambda(printed);
    EXPECT_EQ(record[3], lambda_text) << printed;
    EXPECT_EQ(record[4], energy_text) << printed;
    EXPECT_EQ(image_window("Output"), nullptr);
  }
}

// The photograph is read once, when the measurement starts: replaced on disk during the session,
// it is still the one fitted (key q shows its pixels again) and the one whose date is recorded.
TEST_F(FirstMeasurement, APhotographReplacedDuringTheSessionKeepsItsLoadedDate) {
  const std::string current = series_state().file_list.at(0).name;
  const std::string replacement = series_state().file_list.at(1).name;
  ASSERT_NE(truth_[current][10], truth_[replacement][10]);
  cv::Mat loaded;
  double difference_after_q = -1;
  SessionDriver driver(
      window_.measuring_window(),
      {[&] {
         loaded = window_.measuring_window().state.source_image.clone();
         std::filesystem::copy_file(directory_.file(replacement), directory_.file(current),
                                    std::filesystem::copy_options::overwrite_existing);
       },
       [] { post_key(Qt::Key_Q, "q"); },
       [&] {
         const cv::Mat& shown = window_.measuring_window().state.source_image;
         difference_after_q =
             shown.size() == loaded.size() ? cv::norm(shown, loaded, cv::NORM_INF) : 1e9;
       }});
  const std::string printed = take_measurement();
  EXPECT_EQ(difference_after_q, 0);
  const std::vector<std::string> lines = lines_of(directory_.file("measures.csv"));
  ASSERT_EQ(lines.size(), 2u) << printed;
  const std::vector<std::string> record = fields_of(lines[1]);
  ASSERT_EQ(record.size(), 5u);
  std::string capture_date = truth_[current][10];
  capture_date[4] = capture_date[7] = '-';
  EXPECT_EQ(record[1], capture_date);
}
