// Key c in the main window's measurement: the scale read from a printed marker or a disc in the
// photograph, their sizes asked in a dialog once, drawn in the "Scale" window, and recorded with
// the measurement.
#include "app/photo_scale.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <fstream>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "app/myqtapp.h"
#include "app/scale_dialog.h"
#include "series/csv_text.h"
#include "series/details_file.h"
#include "series/series_state.h"
#include "test_support.h"
#include "tools/scale_photo.h"
#include "windows/window_test_support.h"

using namespace meravel;

namespace {

using window_test::key;

// Answers each size dialog (or key k's length dialog) as it opens with the next answer (nullptr:
// Cancel; "=": OK on what the field proposed), typed key by key as a user would (over the
// proposal, which is selected) and OK clicked; keeps each question and proposal.
class SizeAnswerer {
 public:
  explicit SizeAnswerer(std::deque<const char*> answers,
                        const char* dialog_name = kReferenceSizeDialogName,
                        const char* field_name = kReferenceSizeFieldName)
      : answers_(std::move(answers)), dialog_name_(dialog_name), field_name_(field_name) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
    timer_.start(30);
  }
  std::vector<std::string> questions;
  std::vector<std::string> proposed;

 private:
  void answer() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != dialog_name_) return;
    questions.push_back(dialog->findChild<QLabel*>()->text().toStdString());
    auto* field = dialog->findChild<QLineEdit*>(field_name_);
    proposed.push_back(field->text().toStdString());
    if (answers_.empty() || !answers_.front()) {
      if (!answers_.empty()) answers_.pop_front();
      dialog->reject();
      return;
    }
    if (std::string(answers_.front()) != "=") {
      QTest::keyClicks(field, QString::fromLatin1(answers_.front()));
    }
    answers_.pop_front();
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->text().remove('&') == "OK") QTest::mouseClick(button, Qt::LeftButton);
    }
  }

  std::deque<const char*> answers_;
  const char* dialog_name_;
  const char* field_name_;
  QTimer timer_;
};

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class PhotoScaleKey : public testing::Test {
 protected:
  void SetUp() override {
    series_state() = SeriesState();
    measurement_session = [](MeasuringWindow& measuring, const std::string& path,
                             const SessionStart& start) {
      return measuring.measure_photo(path, start);
    };
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  void TearDown() override { series_state() = SeriesState(); }

  // Reads the series in the directory.
  void read_series() {
    QTest::keyClicks(window_.findChild<QLineEdit*>("lineEdit_directory"),
                     QString::fromStdString(directory_.path()));
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_process"), Qt::LeftButton);
  }

  std::string current_name() const {
    return series_state().file_list.at(series_state().current_index).name;
  }

  window_test::Watchdog watchdog_{600};
  myQtApp window_;
  TempDirectory directory_;
};

}  // namespace

// Three photographs, measured in the series' order: a marker (its side asked once: a second c
// reads it again without asking), a disc (its diameter asked, none being known), and one with no
// reference (the diameter asked and declined: no scale).
TEST_F(PhotoScaleKey, ReadsAMarkerOrADiscOfTheSizeGivenAndRecordsIt) {
  struct Photo {
    const char* kind;
    ScaleScene scene;
    std::deque<const char*> answers;
    std::vector<std::string> questions;
    const char* method;  // scale_method in the details row
  };
  std::map<std::string, Photo> photos;
  const char* kinds[] = {"marker", "disc", "none"};
  for (unsigned k = 0; k < 3; ++k) {
    Photo p;
    p.kind = kinds[k];
    p.scene = random_scale_scene(cv::Size(1200, 900), p.kind, 11 + k);
    photos["photo_" + std::string(p.kind) + ".jpg"] = p;
  }
  Photo& marker = photos["photo_marker.jpg"];
  const std::string side = std::to_string(static_cast<int>(marker.scene.marker.side_mm));
  marker.scene.marker.side_mm = std::stoi(side);  // a whole number, as typed
  marker.answers = {side.c_str()};
  marker.questions = {kMarkerSideQuestion};
  marker.method = "marker";
  Photo& disc = photos["photo_disc.jpg"];
  const std::string diameter = std::to_string(static_cast<int>(disc.scene.disc.diameter_mm));
  disc.scene.disc.diameter_mm = std::stoi(diameter);
  disc.answers = {diameter.c_str()};
  disc.questions = {kDiscDiameterQuestion};
  disc.method = "disc";
  Photo& none = photos["photo_none.jpg"];
  none.answers = {nullptr};
  none.questions = {kDiscDiameterQuestion};
  none.method = "none";
  for (const auto& [name, p] : photos) {
    ASSERT_TRUE(cv::imwrite(directory_.file(name), render_scale_photo(p.scene),
                            {cv::IMWRITE_JPEG_QUALITY, 95}));
  }
  read_series();
  ASSERT_EQ(series_state().file_list.size(), 3u);

  std::vector<std::string> measured;
  std::string given_diameter;  // proposed by the next disc question once given
  for (int n = 0; n < 3; ++n) {
    const std::string name = current_name();
    SCOPED_TRACE(name);
    const Photo& p = photos.at(name);
    measured.push_back(name);
    SizeAnswerer answerer(p.answers);
    bool scale_window = false;
    std::vector<std::function<void()>> steps = {key('c')};
    if (std::string(p.kind) == "marker") steps.push_back(key('c'));
    steps.push_back([&] { scale_window = window_test::window("Scale") != nullptr; });
    steps.push_back(key('\r'));
    window_test::ScriptedUser user(window_.measuring_window(), steps);
    testing::internal::CaptureStdout();
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_do"), Qt::LeftButton);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(user.finished());
    EXPECT_EQ(answerer.questions, p.questions) << printed;
    EXPECT_EQ(answerer.proposed,
              std::vector<std::string>{std::string(p.kind) == "marker" ? "" : given_diameter});
    if (std::string(p.kind) == "disc") given_diameter = diameter;
    EXPECT_EQ(scale_window, std::string(p.kind) != "none");
    if (std::string(p.kind) == "none") {
      EXPECT_NE(printed.find("No scale found ("), std::string::npos) << printed;
    } else {
      EXPECT_NE(printed.find(std::string("Scale: scale ")), std::string::npos) << printed;
      EXPECT_NE(printed.find(std::string("from the ") + p.kind), std::string::npos) << printed;
    }
    EXPECT_NE(printed.find("SAVED."), std::string::npos) << printed;
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_file_fwd"), Qt::LeftButton);
  }
  EXPECT_EQ(std::set<std::string>(measured.begin(), measured.end()).size(), 3u);

  const CsvText csv = parse_csv(read_text(directory_.file("measures_details.csv")));
  ASSERT_EQ(csv.problem, "");
  ASSERT_EQ(csv.records.size(), 4u);
  std::map<std::string, size_t> column;
  for (size_t c = 0; c < csv.records[0].fields.size(); ++c) column[csv.records[0].fields[c]] = c;
  for (size_t r = 1; r < csv.records.size(); ++r) {
    const std::vector<std::string>& row = csv.records[r].fields;
    const Photo& p = photos.at(row[column.at("file")]);
    SCOPED_TRACE(p.kind);
    EXPECT_EQ(row[column.at("scale_method")], p.method);
    if (std::string(p.kind) == "none") {
      EXPECT_EQ(row[column.at("px_per_mm")], "");
    } else {
      EXPECT_NEAR(std::stod(row[column.at("px_per_mm")]), p.scene.px_per_mm,
                  0.005 * p.scene.px_per_mm);
    }
  }
}

// Key k on three photographs in turn: the first sets the series' scale; on the second the dialog
// proposes the length that scale gives, and keeping it carries the first photograph's scale over
// (no new row); on the third another length sets a new series scale.
TEST_F(PhotoScaleKey, KeyKProposesTheSeriesScaleAndKeepingItCarriesItOver) {
  for (const char* name : {"photo_a.jpg", "photo_b.jpg", "photo_c.jpg"}) {
    ASSERT_TRUE(cv::imwrite(directory_.file(name),
                            window_test::make_photo(800, 600, {400, 300}, {120, 170})));
  }
  read_series();
  ASSERT_EQ(series_state().file_list.size(), 3u);
  const struct {
    const char* answer;
    const char* proposed;  // in the field when the dialog opens
    const char* method;    // scale_method in the details row
    const char* from;      // scale_from
    size_t scale_rows;     // in scale.csv afterwards
  } steps[] = {
      {"10", "", "clicked", "", 1},
      {"=", "10", "carried", "1", 1},
      {"12", "10", "clicked", "", 2},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.method);
    SizeAnswerer answerer({step.answer}, kScaleDialogName, kScaleLengthFieldName);
    std::string title;  // with the length in millimetres of the scale just set or carried
    window_test::ScriptedUser user(
        window_.measuring_window(),
        {key('k'), window_test::click(100, 300), window_test::click(500, 300),
         [&] {
           QWidget* output = window_test::window(kOutputWindow);
           if (output) title = output->windowTitle().toStdString();
         },
         key('\r')});
    testing::internal::CaptureStdout();
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_do"), Qt::LeftButton);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(user.finished());
    EXPECT_EQ(answerer.proposed, std::vector<std::string>{step.proposed});
    EXPECT_NE(title.find(" mm), breadth "), std::string::npos) << title;
    EXPECT_NE(printed.find("SAVED."), std::string::npos) << printed;
    if (std::string(step.method) == "carried") {
      EXPECT_NE(printed.find("carried over from file 1."), std::string::npos) << printed;
    }
    const std::string scale_csv = read_text(directory_.file("scale.csv"));
    EXPECT_EQ(static_cast<size_t>(std::count(scale_csv.begin(), scale_csv.end(), '\n')),
              step.scale_rows + 1);
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_file_fwd"), Qt::LeftButton);
  }

  const CsvText csv = parse_csv(read_text(directory_.file("measures_details.csv")));
  ASSERT_EQ(csv.problem, "");
  ASSERT_EQ(csv.records.size(), 4u);
  std::map<std::string, size_t> column;
  for (size_t c = 0; c < csv.records[0].fields.size(); ++c) column[csv.records[0].fields[c]] = c;
  const auto field = [&](size_t row, const char* name) {
    return csv.records[row].fields[column.at(name)];
  };
  for (size_t r = 1; r <= 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(field(r, "scale_method"), steps[r - 1].method);
    EXPECT_EQ(field(r, "scale_from"), steps[r - 1].from);
    EXPECT_NE(field(r, "px_per_mm"), "");
  }
  EXPECT_EQ(field(2, "px_per_mm"), field(1, "px_per_mm"));
  EXPECT_NEAR(std::stod(field(3, "px_per_mm")), std::stod(field(1, "px_per_mm")) * 10 / 12, 1e-9);
}

// What a reading found becomes the session's scale with what to draw.
TEST(SessionScaleOf, KeepsWhatToDrawForEachKind) {
  ScaleReading ruler;
  ruler.method = ScaleMethod::ruler;
  ruler.px_per_mm = 9.5;
  ruler.ticks = {{1, 2}, {3, 4}};
  ruler.ruler_direction = {0.6f, 0.8f};
  ScaleReading marker;
  marker.method = ScaleMethod::marker;
  marker.px_per_mm = 7;
  marker.corners = {{0, 0}, {5, 0}, {5, 5}, {0, 5}};
  ScaleReading disc;
  disc.method = ScaleMethod::disc;
  disc.px_per_mm = 8;
  disc.ellipse = cv::RotatedRect({50, 60}, {20, 18}, 30);
  ScaleReading none;
  none.note = "no ruler";

  const SessionScale r = session_scale_of(ruler), m = session_scale_of(marker),
                     d = session_scale_of(disc), n = session_scale_of(none);
  EXPECT_EQ(r.method, "ruler");
  EXPECT_EQ(r.marks, ruler.ticks);
  EXPECT_EQ(r.ruler_direction, ruler.ruler_direction);
  EXPECT_EQ(m.method, "marker");
  EXPECT_EQ(m.marks, marker.corners);
  EXPECT_EQ(d.method, "disc");
  EXPECT_EQ(d.ellipse.center, disc.ellipse.center);
  EXPECT_EQ(d.ellipse.size, disc.ellipse.size);
  EXPECT_FALSE(n.found());
  EXPECT_EQ(n.note, "no ruler");
}
