// "Take new measurement" on the real main window, with a scripted session in place of the image
// windows: what reaches the session, what the measures file and the console get, what the window
// shows afterwards, and what is carried to the next measurement.
#include "app/measurement.h"

#include <gtest/gtest.h>
#include <opencv2/highgui/highgui_c.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/myqtapp.h"
#include "records_fixture.h"
#include "series/measures_file.h"
#include "series/series_state.h"
#include "test_support.h"
#include "tools/demo_photo.h"
#include "windows/fit_windows.h"

using namespace meravel;

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

// Whether any window of a measurement session is open.
bool session_window_open() {
  for (const char* name :
       {kOutputWindow, kTrackbarsWindow, kDeviationWindow, kBinaryWindow, kDistanceWindow}) {
    if (cvGetWindowHandle(name)) return true;
  }
  return false;
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
    measurement_session = [this](MeasuringWindow&, const std::string& image_path,
                                 const SessionStart& start) -> std::optional<SessionResult> {
      received_.push_back(
          {image_path, start,
           !button("pushButton_do")->isEnabled() && !line_edit("lineEdit_directory")->isEnabled()});
      // As the real session: each accepted outcome is an ENTER that runs the save step, and
      // after a failed save the next outcome is the user's next try (or ESC).
      while (true) {
        EXPECT_FALSE(outcomes_.empty()) << "no outcome scripted for this session";
        if (outcomes_.empty()) return std::nullopt;
        const std::optional<SessionResult> out = outcomes_.front();
        outcomes_.pop_front();
        if (!out || !out->accepted() || !start.save || !run_save_step_) return out;
        const SaveOutcome saved = start.save(*out);
        if (saved.saved) return out;
        not_saved_.push_back(saved.reason);
        after_failed_save_();
      }
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
  // The reasons of the failed saves, and what the user does after each (frees the disk...).
  std::vector<std::string> not_saved_;
  std::function<void()> after_failed_save_ = [] {};
  bool run_save_step_ = true;  // false: a session that knows no save step
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
    EXPECT_EQ(series_state().saved_region_in_photo.width, 0);
    EXPECT_FALSE(series_state().saved_cut_offs.has_value());
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
  write_details_rows(path("measures_details.csv"), {"IMG_0002.JPG"});
  outcomes_ = {accepted(131, 1.5, 2.0)};
  press_take_measurement();
  EXPECT_EQ(measures(), kHeader +
                            "IMG_0002.JPG;;2011-01-01 10:00:00;1;1;\n"
                            "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.5;2;\n");
}

// Record files that a save would break further: the session shows the line that names the file
// and what is wrong, nothing is written, and once the file is put right by hand ENTER saves.
TEST_F(TakeMeasurement, RecordFilesInABadStateAreNamedInTheSession) {
  const std::string before = kHeader + "IMG_0002.JPG;;2011-01-01 10:00:00;1;1;\n";
  std::ofstream(path("measures.csv")) << before;
  std::ofstream(path("measures_details.csv")) << "a,b,c\n";
  outcomes_ = {accepted(150, 1.2, 1.0), accepted(150, 1.2, 1.0)};
  after_failed_save_ = [&] { write_details_rows(path("measures_details.csv"), {"IMG_0002.JPG"}); };
  const std::string printed = press_take_measurement();
  EXPECT_EQ(not_saved_, (std::vector<std::string>{
                            "ERROR checking file: its header is not the column list of this "
                            "program's details file (measures_details.csv)"}));
  EXPECT_NE(printed.find("Measurement for file 1 SAVED."), std::string::npos) << printed;
  EXPECT_EQ(measures(), before + "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.2;1;\n");
}

// A save that fails keeps the session: the user frees the file and presses ENTER again (saved
// once), or leaves with ESC (nothing saved). A session that runs no save step is saved after it
// ends, once, and a failure is reported then.
TEST_F(TakeMeasurement, WriteProtectedMeasuresFileIsReportedAndTheWindowStaysUsable) {
  const std::string before = kHeader + "IMG_0002.JPG;;2011-01-01 10:00:00;1;1;\n";
  const std::string record = "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.2;1;\n";
  const struct {
    const char* what;
    bool run_save_step;
    bool writable_after_failure;
    bool escape_after_failure;
    std::string printed_after_start;
    std::vector<std::string> not_saved;
    std::string measures;
    const char* threshold;
  } cases[] = {
      {"ENTER again once writable",
       true,
       true,
       false,
       "Measurement for file 1 SAVED.\n\n",
       {"ERROR opening file: Permission denied (measures.csv)"},
       before + record,
       "150"},
      {"ESC after the failure",
       true,
       false,
       true,
       "Measurement for file 1 CANCELLED.\n\n",
       {"ERROR opening file: Permission denied (measures.csv)"},
       before,
       "131"},
      {"a session without a save step",
       false,
       false,
       false,
       "ERROR opening file: Permission denied (measures.csv). Nothing was saved.\n",
       {},
       before,
       "131"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(path("measures.csv"), std::ios::trunc) << before;
    write_details_rows(path("measures_details.csv"), {"IMG_0002.JPG"});
    ::chmod(path("measures.csv").c_str(), 0444);
    not_saved_.clear();
    run_save_step_ = c.run_save_step;
    // Root ignores permission bits; as "nobody" the file is as protected as for a user.
    bool dropped = ::geteuid() == 0 && ::seteuid(65534) == 0;
    after_failed_save_ = [&] {
      if (dropped) {
        ASSERT_EQ(::seteuid(0), 0);
        dropped = false;
      }
      if (c.writable_after_failure) ::chmod(path("measures.csv").c_str(), 0644);
    };
    outcomes_ = {accepted(150, 1.2, 1.0)};
    if (c.writable_after_failure) outcomes_.push_back(accepted(150, 1.2, 1.0));
    if (c.escape_after_failure) outcomes_.push_back(cancelled());
    const std::string printed = press_take_measurement();
    if (dropped) {
      ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_EQ(printed, "\nStarting new measurement for file 1:\n" + c.printed_after_start);
    EXPECT_EQ(not_saved_, c.not_saved);
    EXPECT_TRUE(outcomes_.empty());
    EXPECT_EQ(measures(), c.measures);
    EXPECT_TRUE(all_inputs_enabled());
    EXPECT_EQ(line_edit("lineEdit_threshold")->text(), c.threshold);
    line_edit("lineEdit_threshold")->setText("131");
    ::chmod(path("measures.csv").c_str(), 0644);
  }
  // Once writable again, the next measurement is saved.
  run_save_step_ = true;
  outcomes_ = {accepted(150, 1.2, 1.0)};
  EXPECT_EQ(press_take_measurement(),
            "\nStarting new measurement for file 1:\nMeasurement for file 1 SAVED.\n\n");
  EXPECT_EQ(measures(), before + record);
}

// The record says what the photograph was when it was loaded for the session: a file replaced
// or deleted meanwhile changes nothing in it, and the session fits the pixels loaded.
TEST_F(TakeMeasurement, TheRecordTakesTheCaptureDateOfThePhotographAsLoaded) {
  const cv::Mat other = render_demo_photo({320, 240}, {1.3, 900, 100, 0, 160, 120});
  const struct {
    const char* what;
    std::function<void(const std::string&)> meanwhile;
  } cases[] = {
      {"replaced by another date",
       [&](const std::string& p) {
         ASSERT_TRUE(write_demo_jpeg(p, other, 90, {true, "2019:09:09 09:09:09", {}}));
       }},
      {"replaced without EXIF",
       [&](const std::string& p) {
         ASSERT_TRUE(write_demo_jpeg(p, other, 90, {false, {}, {}}));
       }},
      {"deleted", [](const std::string& p) { std::filesystem::remove(p); }},
  };
  std::string expected = kHeader;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const cv::Mat photo = render_demo_photo({200, 150}, {1.1, 900, 100, 0, 100, 75});
    ASSERT_TRUE(
        write_demo_jpeg(path("IMG_0001.JPG"), photo, 90, {true, "2012:04:01 18:00:00", {}}));
    MeasurementSession scripted = measurement_session;
    cv::Size fitted;
    measurement_session = [&](MeasuringWindow& measuring, const std::string& image_path,
                              const SessionStart& start) {
      fitted = start.photograph.size();
      c.meanwhile(image_path);
      return scripted(measuring, image_path, start);
    };
    outcomes_ = {accepted(131, 1.1, 0.5)};
    EXPECT_EQ(press_take_measurement(),
              "\nStarting new measurement for file 1:\nMeasurement for file 1 SAVED.\n\n");
    measurement_session = scripted;
    EXPECT_EQ(fitted, cv::Size(200, 150));
    expected += "IMG_0001.JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.1;0.5;\n";
    EXPECT_EQ(measures(), expected);
  }
}

namespace {

// A JPEG of a few hundred bytes whose frame header claims `claimed`.
std::vector<unsigned char> jpeg_claiming(cv::Size claimed) {
  std::vector<unsigned char> jpeg;
  EXPECT_TRUE(cv::imencode(".jpg", cv::Mat(16, 16, CV_8UC3, cv::Scalar(90, 120, 200)), jpeg));
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // the baseline frame header
      jpeg[i + 5] = static_cast<unsigned char>(claimed.height >> 8);
      jpeg[i + 6] = static_cast<unsigned char>(claimed.height);
      jpeg[i + 7] = static_cast<unsigned char>(claimed.width >> 8);
      jpeg[i + 8] = static_cast<unsigned char>(claimed.width);
    }
  }
  return jpeg;
}

}  // namespace

// A photograph that cannot be measured is refused before any session, with one line, as a cancel:
// nothing blocks (a FIFO without a writer), nothing large is allocated (a header bomb).
TEST_F(TakeMeasurement, PhotographsThatCannotBeLoadedStartNoSession) {
  const struct {
    const char* what;
    std::function<void(const std::string&)> make;
    std::string reason;  // after "Cannot load the photograph PATH"
  } cases[] = {
      {"a FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
       ": not a regular file"},
      {"a directory", [](const std::string& p) { std::filesystem::create_directory(p); },
       ": not a regular file"},
      {"a header claiming 20000 x 20000",
       [](const std::string& p) {
         const std::vector<unsigned char> bytes = jpeg_claiming({20000, 20000});
         std::ofstream(p, std::ios::binary)
             .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
       },
       ": 20000 x 20000 pixels, more than the 250 megapixels allowed"},
      {"missing", [](const std::string&) {}, ": No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string photo = path("IMG_0001.JPG");
    std::filesystem::remove(photo);
    c.make(photo);
    outcomes_.clear();
    const size_t calls = received_.size();
    ImageAllocationCounter allocations;
    EXPECT_EQ(press_take_measurement(),
              "\nStarting new measurement for file 1:\n"
              "Cannot load the photograph " +
                  photo + c.reason + "\nMeasurement for file 1 CANCELLED.\n\n");
    EXPECT_LT(allocations.largest_bytes(), size_t{1} << 20);
    EXPECT_EQ(received_.size(), calls);
    EXPECT_FALSE(std::filesystem::exists(path("measures.csv")));
    EXPECT_TRUE(all_inputs_enabled());
    EXPECT_FALSE(session_window_open()) << "the windows made while it was read";
    std::filesystem::remove_all(photo);
  }
}

// The session's windows are made while the photograph is read and handed to the session; none
// stays open after a session that did not take them over.
TEST_F(TakeMeasurement, WindowsMadeWhileThePhotographIsReadGoToTheSession) {
  bool output_at_session_start = false;
  MeasurementSession scripted = measurement_session;
  measurement_session = [&](MeasuringWindow& measuring, const std::string& path,
                            const SessionStart& start) {
    output_at_session_start = cvGetWindowHandle(kOutputWindow) != nullptr;
    return scripted(measuring, path, start);
  };
  outcomes_ = {cancelled()};
  press_take_measurement();
  EXPECT_TRUE(output_at_session_start);
  EXPECT_FALSE(session_window_open());
}

// While a session runs, a second start does nothing and closing the window waits: the session is
// left as a cancel, the slot finishes its work, and then the window closes.
TEST_F(TakeMeasurement, CloseDuringASessionEndsItFirstAndASecondStartIsRefused) {
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  bool visible_after_close_request = false;
  MeasurementSession scripted = measurement_session;
  measurement_session = [&](MeasuringWindow& measuring, const std::string& path,
                            const SessionStart& start) {
    QMetaObject::invokeMethod(&window_, "do_something");  // refused: no nested session
    window_.close();
    visible_after_close_request = window_.isVisible();
    return scripted(measuring, path, start);
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
