// "Take new measurement" on the real main window, with a scripted session in place of the image
// windows: what reaches the session, what the measures file and the console get, what the window
// shows afterwards, and what is carried to the next measurement.
#include "app/measurement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/myqtapp.h"
#include "series/measures_file.h"
#include "series/series_state.h"
#include "test_support.h"
#include "tools/demo_photo.h"

namespace {

const std::string kHeader = "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n";

// What a scripted session saw when it was called.
struct SessionCall {
  std::string image_path;
  SessionStart in;
  bool controls_locked;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TakeMeasurement : public testing::Test {
 protected:
  void SetUp() override {
    const cv::Mat photo = render_demo_photo({200, 150}, {1.1, 900, 100, 0, 100, 75});
    ASSERT_TRUE(
        write_demo_jpeg(path("IMG_0001.JPG"), photo, 90, {true, "2012:04:01 18:00:00", {}}));
    ASSERT_TRUE(
        write_demo_jpeg(path("IMG_0002.JPG"), photo, 90, {true, "2012:04:01 18:30:00", {}}));

    series_state() = SeriesState();
    series_state().series_directory = dir();
    series_state().file_list = {{"IMG_0001.JPG", 5}, {"IMG_0002.JPG", 9}};

    window_.set_measuring_clock(fixed_measuring_time);
    saved_session_ = measurement_session;
    measurement_session = [this](const std::string& image_path,
                                 const SessionStart& start) -> std::optional<SessionResult> {
      received_.push_back(
          {image_path, start,
           !button("pushButton_do")->isEnabled() && !line_edit("lineEdit_directory")->isEnabled()});
      EXPECT_FALSE(outcomes_.empty()) << "no outcome scripted for this session";
      if (outcomes_.empty()) return std::nullopt;
      const std::optional<SessionResult> out = outcomes_.front();
      outcomes_.pop_front();
      return out;
    };
  }

  void TearDown() override {
    measurement_session = saved_session_;
    series_state() = SeriesState();
  }

  // Presses "Take new measurement" as a user would, and returns what the program printed.
  std::string press_take_measurement() {
    testing::internal::CaptureStdout();
    QTest::mouseClick(button("pushButton_do"), Qt::LeftButton);
    return testing::internal::GetCapturedStdout();
  }

  QPushButton* button(const char* name) { return window_.findChild<QPushButton*>(name); }
  QLineEdit* line_edit(const char* name) { return window_.findChild<QLineEdit*>(name); }
  bool all_inputs_enabled() {
    for (const char* name : {"pushButton_do", "pushButton_file_fwd", "pushButton_file_bwd",
                             "pushButton_browse", "pushButton_process"}) {
      if (!button(name)->isEnabled()) return false;
    }
    for (const char* name :
         {"lineEdit_threshold", "lineEdit_jump_to", "lineEdit_lambda", "lineEdit_directory"}) {
      if (!line_edit(name)->isEnabled()) return false;
    }
    return true;
  }

  QString overview() {
    return window_.findChild<QTextBrowser*>("textBrowser_file_overview")->toPlainText();
  }

  std::string path(const char* name) const { return directory_.file(name); }
  std::string dir() const { return directory_.path(); }
  std::string measures() const { return read_file(path("measures.csv")); }

  static SessionResult accepted(int threshold, double lambda, double energy) {
    SessionResult v;
    v.end = SessionEnd::kAccepted;
    v.threshold = threshold;
    v.lambda = lambda;
    v.energy = energy;
    v.cut_offs = {1, 5};
    return v;
  }
  // A session that was not accepted, with values that must not be kept.
  static SessionResult cancelled(SessionEnd end = SessionEnd::kCancelled) {
    SessionResult v;
    v.end = end;
    v.threshold = 77;
    v.lambda = 1.3;
    v.energy = 12;
    v.region = cv::Rect(66, 66, 66, 66);
    v.cut_offs = {33, 33};
    v.polarity = ObjectPolarity::kDarkOnLight;
    return v;
  }

  myQtApp window_;
  TempDirectory directory_;
  std::deque<std::optional<SessionResult>> outcomes_;
  std::vector<SessionCall> received_;
  MeasurementSession saved_session_;
};

}  // namespace

TEST_F(TakeMeasurement, FirstSaveWritesHeaderAndRecordTheSecondOnlyItsRecord) {
  line_edit("lineEdit_lambda")->setText("1050");
  outcomes_ = {accepted(140, 1.25, 3.456789), accepted(128, 1.0, 1234567.0)};

  EXPECT_EQ(press_take_measurement(),
            "\nStarting new measurement for file 1:\nMeasurement for file 1 SAVED.\n\n");
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].image_path, dir() + "/IMG_0001.JPG");
  EXPECT_TRUE(received_[0].controls_locked);
  SessionStart first_in;
  first_in.threshold = 131;
  first_in.lambda = 1.05;
  first_in.region = cv::Rect(0, 0, 0, 0);
  first_in.cut_offs = {1, 5};
  EXPECT_EQ(received_[0].in, first_in);
  const std::string first_record =
      "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.25;3.45679;\n";
  EXPECT_EQ(measures(), kHeader + first_record);
  // The next measurement starts from the accepted threshold; lambda's field is never changed.
  EXPECT_EQ(line_edit("lineEdit_threshold")->text(), "140");
  EXPECT_EQ(line_edit("lineEdit_lambda")->text(), "1050");
  EXPECT_TRUE(all_inputs_enabled());
  EXPECT_EQ(series_state().current_index, 0u);
  EXPECT_TRUE(overview().contains("File 1 (1 measures)")) << overview().toStdString();

  EXPECT_EQ(press_take_measurement(),
            "\nStarting new measurement for file 1:\nMeasurement for file 1 SAVED.\n\n");
  ASSERT_EQ(received_.size(), 2u);
  EXPECT_EQ(received_[1].in.threshold, 140);
  EXPECT_EQ(measures(),
            kHeader + first_record +
                "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1;1.23457e+06;\n");
  EXPECT_EQ(line_edit("lineEdit_threshold")->text(), "128");
  EXPECT_EQ(series_state().current_index, 0u);
  EXPECT_TRUE(overview().contains("File 1 (2 measures)")) << overview().toStdString();
}

TEST_F(TakeMeasurement, EscapeAddsNothingAndKeepsThresholdAndCurrentFile) {
  series_state().current_index = 1;
  line_edit("lineEdit_threshold")->setText("99");
  outcomes_ = {cancelled()};
  EXPECT_EQ(press_take_measurement(),
            "\nStarting new measurement for file 2:\nMeasurement for file 2 CANCELLED.\n\n");
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].image_path, dir() + "/IMG_0002.JPG");
  EXPECT_FALSE(std::filesystem::exists(path("measures.csv")));
  EXPECT_EQ(line_edit("lineEdit_threshold")->text(), "99");
  EXPECT_EQ(series_state().current_index, 1u);
  EXPECT_TRUE(all_inputs_enabled());
  // The overview is rebuilt: the key help that lock_all put there is gone.
  EXPECT_TRUE(overview().contains("File 2 (0 measures)")) << overview().toStdString();
  EXPECT_FALSE(overview().contains("Please use the following keys"));
}

// Only an accepted session is saved: every other end, and a session that could not run at all,
// is reported as a cancel and leaves the file, the threshold and the carried values as they were.
TEST_F(TakeMeasurement, EveryEndButAnAcceptIsACancel) {
  line_edit("lineEdit_threshold")->setText("99");
  const struct {
    const char* what;
    std::optional<SessionResult> outcome;
  } cases[] = {
      {"no session could run", std::nullopt},
      {"ESC", cancelled(SessionEnd::kCancelled)},
      {"cancel requested", cancelled(SessionEnd::kCancelRequested)},
      {"Output closed", cancelled(SessionEnd::kOutputClosed)},
      {"photograph unreadable", cancelled(SessionEnd::kPhotographUnreadable)},
      {"failed", cancelled(SessionEnd::kFailed)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    outcomes_ = {c.outcome};
    EXPECT_EQ(press_take_measurement(),
              "\nStarting new measurement for file 1:\nMeasurement for file 1 CANCELLED.\n\n");
    EXPECT_FALSE(std::filesystem::exists(path("measures.csv")));
    EXPECT_EQ(line_edit("lineEdit_threshold")->text(), "99");
    EXPECT_EQ(series_state().saved_roi_width, 0);
    EXPECT_EQ(series_state().saved_cut_off_top, 1);
    EXPECT_TRUE(all_inputs_enabled());
  }
  EXPECT_EQ(received_.size(), std::size(cases));
}

TEST_F(TakeMeasurement, EmptySeriesStartsNoSession) {
  series_state().file_list.clear();
  EXPECT_EQ(press_take_measurement(), "No jpg containing directory selected.\n");
  EXPECT_TRUE(received_.empty());
  EXPECT_TRUE(all_inputs_enabled());
  EXPECT_EQ(window_.findChild<QTextBrowser*>("textBrowser_file_overview")->toPlainText(),
            "Please select a jpg containing directory.");
}

// Region of interest and cut-offs go from an accepted session to the next one, for another file
// and after a new set-up too; a cancelled session changes nothing, whatever it did meanwhile.
TEST_F(TakeMeasurement, RegionCutOffsAndPolarityCarryOverOnlyFromAcceptedSessions) {
  SessionResult with_region = accepted(131, 1.1, 2.5);
  with_region.region = cv::Rect(10, 20, 300, 200);
  with_region.cut_offs = {3, 7};
  with_region.polarity = ObjectPolarity::kDarkOnLight;
  SessionResult smaller_region = with_region;
  smaller_region.region.width = 120;
  smaller_region.cut_offs.top = 0;
  smaller_region.polarity = ObjectPolarity::kLightOnDark;

  struct Step {
    const char* what;
    SessionResult outcome;
    std::function<void()> before;
  } const steps[] = {
      {"first session, starting values", with_region, [] {}},
      {"same file again", cancelled(), [] {}},
      {"after a cancel", smaller_region, [] {}},
      {"another file", with_region, [] { series_state().current_index = 1; }},
      {"after a new set-up", cancelled(SessionEnd::kOutputClosed),
       [] {
         series_state().file_list = {{"IMG_0002.JPG", 1}};
         series_state().current_index = 0;
       }},
      {"after a new set-up and a cancel", cancelled(SessionEnd::kFailed), [] {}},
  };
  cv::Rect expected_region;
  CutOffs expected_cut_offs{1, 5};
  ObjectPolarity expected_polarity = ObjectPolarity::kLightOnDark;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.before();
    outcomes_ = {step.outcome};
    const size_t calls = received_.size();
    press_take_measurement();
    ASSERT_EQ(received_.size(), calls + 1);
    const SessionStart& in = received_.back().in;
    EXPECT_EQ(in.region, expected_region);
    EXPECT_EQ(in.cut_offs.top, expected_cut_offs.top);
    EXPECT_EQ(in.cut_offs.bottom, expected_cut_offs.bottom);
    EXPECT_EQ(in.polarity, expected_polarity);
    if (step.outcome.accepted()) {
      expected_region = step.outcome.region;
      expected_cut_offs = step.outcome.cut_offs;
      expected_polarity = step.outcome.polarity;
    }
  }
}

// The console shows why a record has no capture date, between the start and the save.
TEST_F(TakeMeasurement, PhotographsWithoutCaptureDateStillGetTheirRecord) {
  const cv::Mat photo = render_demo_photo({120, 90}, {1.0, 500, 60, 0, 60, 45});
  struct Case {
    const char* name;
    DemoExif exif;
    std::string message;  // "@" stands for the photograph's path
    const char* capture_date;
  } const cases[] = {
      {"no_exif.jpg", {false, {}, {}}, "File not readable or no EXIF data in file @\n", ""},
      {"no_tag.jpg", {true, {}, "2012:04:01 18:00:00"}, "Exif entry not found!\n", ""},
      {"semicolon.jpg", {true, "2012:04:01;18:00:00", {}}, "", "2012-04-01 18:00:00"},
      {"line_break.jpg", {true, "2012:04:01\n18:00:00", {}}, "", "2012-04-01 18:00:00"},
  };
  std::string expected = kHeader;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(write_demo_jpeg(path(c.name), photo, 90, c.exif));
    series_state().file_list = {{c.name, 1}};
    outcomes_ = {accepted(131, 1.1, 0.5)};
    std::string message = c.message;
    if (const size_t at = message.find('@'); at != std::string::npos) {
      message.replace(at, 1, dir() + "/" + c.name);
    }
    EXPECT_EQ(press_take_measurement(), "\nStarting new measurement for file 1:\n" + message +
                                            "Measurement for file 1 SAVED.\n\n");
    expected += std::string(c.name) + ";" + c.capture_date + ";2012-04-02 09:05:03;1.1;0.5;\n";
    EXPECT_EQ(measures(), expected);
  }
}

TEST_F(TakeMeasurement, MeasuresFileWithoutFinalLineBreakKeepsItsLastLine) {
  std::ofstream(path("measures.csv")) << kHeader << "IMG_0002.JPG;;2011-01-01 10:00:00;1;1;";
  outcomes_ = {accepted(131, 1.5, 2.0)};
  press_take_measurement();
  EXPECT_EQ(measures(), kHeader +
                            "IMG_0002.JPG;;2011-01-01 10:00:00;1;1;\n"
                            "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.5;2;\n");
}

TEST_F(TakeMeasurement, WriteProtectedMeasuresFileIsReportedAndTheWindowStaysUsable) {
  const std::string before = kHeader + "IMG_0002.JPG;;2011-01-01 10:00:00;1;1;\n";
  std::ofstream(path("measures.csv")) << before;
  ::chmod(path("measures.csv").c_str(), 0444);
  // Root ignores permission bits; as "nobody" the file is as protected as for a user.
  const bool dropped = ::geteuid() == 0 && ::seteuid(65534) == 0;
  outcomes_ = {accepted(150, 1.2, 1.0)};
  const std::string printed = press_take_measurement();
  if (dropped) {
    ASSERT_EQ(::seteuid(0), 0);
  }
  EXPECT_EQ(printed,
            "\nStarting new measurement for file 1:\nERROR opening file: Permission denied "
            "(measures.csv). Nothing was saved.\n");
  EXPECT_EQ(measures(), before);
  EXPECT_TRUE(all_inputs_enabled());
  EXPECT_EQ(line_edit("lineEdit_threshold")->text(), "131");
  EXPECT_TRUE(overview().contains("File 1 (0 measures)")) << overview().toStdString();

  // Once writable again, the next measurement is saved.
  ::chmod(path("measures.csv").c_str(), 0644);
  outcomes_ = {accepted(150, 1.2, 1.0)};
  EXPECT_EQ(press_take_measurement(),
            "\nStarting new measurement for file 1:\nMeasurement for file 1 SAVED.\n\n");
  EXPECT_EQ(measures(), before + "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.2;1;\n");
}

// While a session runs, a second start does nothing and closing the window waits: the session is
// left as a cancel, the slot finishes its work, and then the window closes.
TEST_F(TakeMeasurement, CloseDuringASessionEndsItFirstAndASecondStartIsRefused) {
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  bool visible_after_close_request = false;
  MeasurementSession scripted = measurement_session;
  measurement_session = [&](const std::string& path, const SessionStart& start) {
    QMetaObject::invokeMethod(&window_, "do_something");  // refused: no nested session
    window_.close();
    visible_after_close_request = window_.isVisible();
    return scripted(path, start);
  };
  outcomes_ = {cancelled(SessionEnd::kCancelRequested)};
  EXPECT_EQ(press_take_measurement(),
            "\nStarting new measurement for file 1:\nMeasurement for file 1 CANCELLED.\n\n");
  EXPECT_EQ(received_.size(), 1u);
  EXPECT_TRUE(visible_after_close_request);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(all_inputs_enabled());
}

TEST_F(TakeMeasurement, CloseWithoutASessionClosesAtOnce) {
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  outcomes_ = {cancelled()};
  press_take_measurement();  // installs what watches for a close during a session
  EXPECT_TRUE(window_.close());
  EXPECT_FALSE(window_.isVisible());
}

// Started from a desktop, the user sees no console: the overview shows how the session ended.
TEST_F(TakeMeasurement, OverviewShowsTheSessionsLastLine) {
  SessionResult warned = accepted(131, 1.2, 3.5);
  warned.warnings.energy_too_high = true;
  struct Step {
    const char* what;
    SessionResult outcome;
    std::string shown;
  } const steps[] = {
      {"saved", accepted(131, 1.2, 0.8), "Measurement for file 1 SAVED."},
      {"cancelled", cancelled(), "Measurement for file 1 CANCELLED."},
      {"saved with a warning", warned,
       "Measurement for file 1 SAVED. Warning: the energy is above 3 px."},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    outcomes_ = {step.outcome};
    press_take_measurement();
    EXPECT_TRUE(overview().contains(QString::fromStdString(step.shown)))
        << overview().toStdString();
  }
  EXPECT_EQ(overview().count("Measurement for file"), 1);
}
