// Setting a scale in a real session and saving: key k, two clicks on the demo photograph's scale
// bar, the length typed into the dialog, key a, ENTER; then scale.csv and the details row, field by
// field, against what the session held. And the demo series measured in millimetres against its
// ground truth.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/measurement.h"
#include "app/myqtapp.h"
#include "app/scale_dialog.h"
#include "fit/egg_dimensions.h"
#include "series/csv_text.h"
#include "series/details_file.h"
#include "series/scale_file.h"
#include "series/series_state.h"
#include "test_support.h"
#include "windows/window_test_support.h"

using namespace meravel;

namespace {

using window_test::click;
using window_test::key;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  return fields;
}

// One photograph of ground_truth.csv.
struct Truth {
  int lambda_milli = 0, width = 0, height = 0, rotation = 0;
  cv::Point2d center;
  cv::Size image;
  std::string capture_date;
  double px_per_mm = 0;
  double bar_mm = 0;
  cv::Point2d bar_start, bar_end;
};

std::map<std::string, Truth> read_truth(const std::string& path) {
  std::map<std::string, Truth> truth;
  std::istringstream in(read_text(path));
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> f = split(line, ';');
    if (f.size() < 17 || f[0] == "file") continue;
    Truth t;
    t.lambda_milli = static_cast<int>(std::lround(std::stod(f[1]) * 1000));
    t.width = std::stoi(f[2]);
    t.height = std::stoi(f[3]);
    t.rotation = std::stoi(f[4]);
    t.center = {std::stod(f[5]), std::stod(f[6])};
    t.image = cv::Size(std::stoi(f[8]), std::stoi(f[9]));
    t.capture_date = f[10];
    t.capture_date[4] = t.capture_date[7] = '-';
    t.px_per_mm = std::stod(f[11]);
    t.bar_mm = std::stod(f[12]);
    t.bar_start = {std::stod(f[13]), std::stod(f[14])};
    t.bar_end = {std::stod(f[15]), std::stod(f[16])};
    truth[f[0]] = t;
  }
  return truth;
}

// The view position of "Output" whose click lands nearest to `point` of a photograph of `size`
// shown whole.
cv::Point view_point_for(cv::Point2d point, cv::Size size) {
  bool fit_width = false;
  display_size(size.width, size.height, &fit_width);
  const double s = fit_width ? size.width / 800.0 : size.height / 600.0;
  cv::Point best;
  double best_distance = 1e9;
  const cv::Point guess(static_cast<int>(std::lround(point.x / s)),
                        static_cast<int>(std::lround(point.y / s)));
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -2; dx <= 2; ++dx) {
      const cv::Point view = guess + cv::Point(dx, dy);
      const cv::Point image = image_point_of_click(view, size, fit_width);
      const double d = std::hypot(image.x - point.x, image.y - point.y);
      if (d < best_distance) {
        best_distance = d;
        best = view;
      }
    }
  }
  return best;
}

// Answers each scale dialog as it opens with the next of `answers`: the length typed key by key
// and OK clicked, "This photograph only" ticked first when asked; a null text presses Cancel.
// The photograph pixel that click lands on.
cv::Point clicked_pixel(cv::Point2d point, cv::Size size) {
  bool fit_width = false;
  display_size(size.width, size.height, &fit_width);
  return image_point_of_click(view_point_for(point, size), size, fit_width);
}

class DialogAnswerer {
 public:
  struct Answer {
    const char* typed;  // nullptr: Cancel
    bool photograph_only = false;
    const char* refused = nullptr;  // typed first, and taken back, when set
  };
  explicit DialogAnswerer(std::deque<Answer> answers) : answers_(std::move(answers)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
    timer_.start(30);
  }
  int answered() const { return answered_; }
  // Whether OK was enabled with each refused text in the field.
  const std::vector<bool>& ok_enabled_when_refused() const { return ok_enabled_when_refused_; }

 private:
  void answer() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != kScaleDialogName || answers_.empty()) return;
    const Answer a = answers_.front();
    answers_.pop_front();
    ++answered_;
    if (!a.typed) {
      dialog->reject();
      return;
    }
    auto* field = dialog->findChild<QLineEdit*>(kScaleLengthFieldName);
    QPushButton* ok = nullptr;
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->text().remove('&') == "OK") ok = button;
    }
    if (a.refused) {
      QTest::keyClicks(field, QString::fromLatin1(a.refused));
      ok_enabled_when_refused_.push_back(ok->isEnabled());
      field->clear();
    }
    QTest::keyClicks(field, QString::fromLatin1(a.typed));
    if (a.photograph_only) {
      // On its box, at the left: the control may be wider than its box and label.
      auto* box = dialog->findChild<QCheckBox*>(kScalePhotographOnlyName);
      QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
    }
    QTest::mouseClick(ok, Qt::LeftButton);
  }

  std::deque<Answer> answers_;
  std::vector<bool> ok_enabled_when_refused_;
  int answered_ = 0;
  QTimer timer_;
};

}  // namespace

// Key k's step on its own: the dialog's answers to scale.csv rows (OK refuses a length that is not
// one), and every way of not setting a scale leaves the file as it was, with one line saying why;
// a scale file that cannot be used is said before anything is asked.
TEST(ScaleStep, DialogAnswersBecomeScaleRows) {
  const std::string header = std::string(kScaleHeader) + "\n";
  const struct {
    const char* what;
    cv::Point2d first, second;
    DialogAnswerer::Answer answer;
    const char* before;  // scale.csv before; nullptr: none
    int dialogs;
    const char* printed;
    const char* row;  // appended; nullptr: none
  } cases[] = {
      {"series, decimal point",
       {40, 508},
       {140, 508},
       {"12.5", false, "12.5.0"},
       nullptr,
       1,
       "Scale set: 8 px/mm for the series.\n",
       "series,b.jpg,8,40,508,140,508,12.5,2012-04-02T09:05:03+00:00\n"},
      {"this photograph only, decimal comma",
       {0, 0},
       {30, 40},
       {" 12,5 ", true, "-12"},
       nullptr,
       1,
       "Scale set: 4 px/mm for b.jpg only.\n",
       "photograph,b.jpg,4,0,0,30,40,12.5,2012-04-02T09:05:03+00:00\n"},
      {"cancelled",
       {0, 0},
       {30, 40},
       {nullptr},
       nullptr,
       1,
       "Scale cancelled: the scale was left as it was.\n",
       nullptr},
      {"both ends on one pixel",
       {7, 9},
       {7, 9},
       {"10"},
       nullptr,
       0,
       "Both ends are on one pixel: the scale was left as it was.\n",
       nullptr},
      {"another program's scale.csv",
       {0, 0},
       {30, 40},
       {"10", false, "0"},
       "a;b\n1;2\n",
       0,
       "Scale not saved: ",
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory directory;
    if (c.before) directory.write("scale.csv", c.before);
    DialogAnswerer answerer({c.answer});
    std::ostringstream out;
    set_scale_of_series(directory.path(), "b.jpg", {c.first, c.second}, nullptr,
                        fixed_measuring_time, out);
    EXPECT_EQ(answerer.answered(), c.dialogs);
    for (bool enabled : answerer.ok_enabled_when_refused()) EXPECT_FALSE(enabled);
    const std::string printed = out.str();
    EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
    // With a dialog the prompt line, then the outcome; otherwise the reason alone.
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), c.dialogs ? 2 : 1) << printed;
    if (c.row) {
      EXPECT_EQ(read_text(directory / "scale.csv"), header + c.row);
    } else if (c.before) {
      EXPECT_EQ(read_text(directory / "scale.csv"), c.before);
    } else {
      EXPECT_FALSE(directory.exists("scale.csv"));
    }
  }
}

namespace {

class ScaleSession : public testing::Test {
 protected:
  void SetUp() override {
    const std::string command =
        std::string(MERAVEL_BUILD_DIR) + "/make_demo_series " + directory_.path() + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    truth_ = read_truth(directory_.file("ground_truth.csv"));
    window_.set_measuring_clock(fixed_measuring_time);
    series_state() = SeriesState();
    // The real session, with what it handed back kept for the checks.
    measurement_session = [this](MeasuringWindow& measuring, const std::string& path,
                                 const SessionStart& start) {
      held_ = measuring.measure_photo(path, start);
      return held_;
    };
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    QTest::keyClicks(window_.findChild<QLineEdit*>("lineEdit_directory"),
                     QString::fromStdString(directory_.path()));
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_process"), Qt::LeftButton);
    ASSERT_EQ(series_state().file_list.size(), truth_.size());
  }
  void TearDown() override {
    measurement_session = [](MeasuringWindow& measuring, const std::string& path,
                             const SessionStart& start) {
      return measuring.measure_photo(path, start);
    };
    series_state() = SeriesState();
  }

  const std::string& current_name() const {
    return series_state().file_list.at(series_state().current_index).name;
  }

  // The session's steps for key k on the current photograph's bar.
  std::vector<std::function<void()>> scale_steps() {
    const Truth& t = truth_.at(current_name());
    const cv::Point first = view_point_for(t.bar_start, t.image);
    const cv::Point second = view_point_for(t.bar_end, t.image);
    return {key('k'), click(first.x, first.y), click(second.x, second.y)};
  }

  // Takes a measurement of the current photograph with `steps` and then ENTER; what was printed.
  std::string measure(std::vector<std::function<void()>> steps) {
    steps.push_back(key('\r'));
    window_test::ScriptedUser user(window_.measuring_window(), steps);
    testing::internal::CaptureStdout();
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_do"), Qt::LeftButton);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(user.finished());
    return printed;
  }

  std::vector<std::map<std::string, std::string>> details_rows() const {
    const CsvText csv = parse_csv(read_text(directory_.file("measures_details.csv")));
    EXPECT_EQ(csv.problem, "");
    std::vector<std::map<std::string, std::string>> rows;
    for (size_t i = 1; i < csv.records.size(); ++i) {
      std::map<std::string, std::string> row;
      for (size_t c = 0; c < kDetailsColumns.size() && c < csv.records[i].fields.size(); ++c) {
        row[kDetailsColumns[c]] = csv.records[i].fields[c];
      }
      rows.push_back(row);
    }
    return rows;
  }

  window_test::Watchdog watchdog_{600};
  myQtApp window_;
  TempDirectory directory_;
  std::map<std::string, Truth> truth_;
  std::optional<SessionResult> held_;
};

}  // namespace

// A cancelled dialog leaves the scale as it was (no scale file); the answered one keeps the series
// scale, and the save writes the measures line and the details row with every value the session
// held, the millimetres from that scale.
TEST_F(ScaleSession, KeyKSetsTheScaleAndTheSaveRecordsTheSessionsValues) {
  const std::string name = current_name();
  const Truth& t = truth_.at(name);
  // The bar's length with a decimal comma, as a keyboard with a comma locale types it.
  const std::string typed = std::to_string(static_cast<int>(t.bar_mm)) + ",0";
  DialogAnswerer answerer({{nullptr}, {typed.c_str()}});
  const cv::Point first = clicked_pixel(t.bar_start, t.image);
  const cv::Point second = clicked_pixel(t.bar_end, t.image);
  const double px_per_mm = std::hypot(second.x - first.x, second.y - first.y) / t.bar_mm;
  EXPECT_NEAR(px_per_mm, t.px_per_mm, 0.005 * t.px_per_mm);  // within a pixel on the bar
  std::vector<std::function<void()>> steps = scale_steps();
  const std::vector<std::function<void()>> again = scale_steps();
  steps.insert(steps.end(), again.begin(), again.end());
  steps.push_back(key('a'));
  const std::string printed = measure(steps);
  EXPECT_EQ(answerer.answered(), 2);
  EXPECT_NE(printed.find("You can click the two ends of a known length"), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("Scale cancelled: the scale was left as it was.\n"), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("Scale set: " + round_trip_number(px_per_mm) + " px/mm for the series.\n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("SAVED."), std::string::npos) << printed;
  ASSERT_TRUE(held_ && held_->accepted());
  const SessionResult& r = *held_;

  // scale.csv: the header and one series row with the bar's ends, in pixels of the photograph.
  const std::vector<std::string> scale_lines = split(read_text(directory_.file("scale.csv")), '\n');
  ASSERT_EQ(scale_lines.size(), 2u);
  EXPECT_EQ(scale_lines[0], kScaleHeader);
  char expected_row[200];
  std::snprintf(expected_row, sizeof expected_row, "series,%s,%s,%d,%d,%d,%d,%d,%s", name.c_str(),
                round_trip_number(px_per_mm).c_str(), first.x, first.y, second.x, second.y,
                static_cast<int>(t.bar_mm), "2012-04-02T09:05:03+00:00");
  EXPECT_EQ(scale_lines[1], expected_row);

  // measures.csv keeps its form; the details row matches it and the session.
  const std::vector<std::string> measures = split(read_text(directory_.file("measures.csv")), '\n');
  ASSERT_EQ(measures.size(), 2u);
  const std::vector<std::string> line = split(measures[1], ';');
  ASSERT_EQ(line.size(), 5u);
  const auto rows = details_rows();
  ASSERT_EQ(rows.size(), 1u);
  const auto& d = rows[0];
  EXPECT_EQ(d.at("file"), name);
  EXPECT_EQ(d.at("capture_date_original"), "");  // the demo photographs hold only DateTime
  EXPECT_EQ(d.at("capture_date"), t.capture_date);
  EXPECT_EQ(d.at("capture_date"), line[1]);
  EXPECT_EQ(d.at("measured_at"), "2012-04-02T09:05:03+00:00");
  EXPECT_EQ(line[2], "2012-04-02 09:05:03");
  EXPECT_EQ(std::stod(d.at("lambda")), r.lambda);
  EXPECT_EQ(std::stod(line[3]), r.lambda);
  EXPECT_EQ(std::stod(d.at("energy_px")), r.energy);
  const struct {
    const char* column;
    int value;
  } integers[] = {
      {"lambda_milli", r.model.lambda_milli},
      {"width", r.model.width},
      {"height_px", r.model.height},
      {"rotation_deg", r.model.rotation},
      {"translation_x_px", r.model.translation_x},
      {"translation_y_px", r.model.translation_y},
      {"threshold", r.threshold},
      {"roi_x_px", 0},
      {"roi_y_px", 0},
      {"roi_width_px", t.image.width},
      {"roi_height_px", t.image.height},
      {"cut_off_top_percent", r.cut_offs.top},
      {"cut_off_bottom_percent", r.cut_offs.bottom},
      {"image_width_px", t.image.width},
      {"image_height_px", t.image.height},
      {"warn_outline_touches_frame", 0},
      {"warn_outline_is_frame", 0},
      {"warn_energy_high", 0},
      {"warn_model_at_border", 0},
      {"warn_top_far_from_rotation", 0},
  };
  for (const auto& c : integers) EXPECT_EQ(d.at(c.column), std::to_string(c.value)) << c.column;
  EXPECT_EQ(d.at("polarity"), "light_on_dark");
  EXPECT_EQ(d.at("keys"), "k k a");
  EXPECT_EQ(r.keys, "k k a");
  const EggDimensions px =
      egg_dimensions_of_model(r.model.lambda_milli, r.model.width, r.model.height).value();
  const EggDimensions mm = egg_dimensions_in_mm(px, px_per_mm);
  const struct {
    const char* column;
    double value;
  } dimensions[] = {
      {"length_px", px.length},
      {"breadth_px", px.breadth},
      {"breadth_position", px.breadth_position},
      {"elongation", px.elongation},
      {"volume_px3", px.volume},
      {"surface_px2", px.surface},
      {"length_mm", mm.length},
      {"breadth_mm", mm.breadth},
      {"volume_mm3", mm.volume},
      {"surface_mm2", mm.surface},
  };
  for (const auto& c : dimensions) {
    EXPECT_NEAR(std::stod(d.at(c.column)), c.value, 1e-9 * c.value) << c.column;
  }
  EXPECT_EQ(d.at("px_per_mm"), round_trip_number(px_per_mm));
  EXPECT_EQ(d.at("scale_source"), "series");
  EXPECT_EQ(d.at("flags"), "");
  EXPECT_EQ(d.at("program"), "Meravel");
  EXPECT_EQ(d.at("version"), kProgramVersion);
}

// The demo series measured as a user with a ruler would: on each photograph key k on its scale bar
// (the bar's length typed in), key m on the object's top and bottom, key p to refine from there,
// ENTER. The details rows' millimetres agree with the ground truth: length and breadth within 1 %,
// volume within 3 %. (Key m then p, because on the ellipse of lambda 1 key a may take the outline's
// short axis for its length: the same outline turned by 90 degrees, but another solid.)
TEST_F(ScaleSession, DemoSeriesInMillimetresAgreesWithTheGroundTruth) {
  const size_t count = series_state().file_list.size();
  std::deque<DialogAnswerer::Answer> answers;
  std::vector<std::string> lengths;  // kept alive for the answers' texts
  for (size_t i = 0; i < count; ++i) {
    lengths.push_back(
        std::to_string(static_cast<int>(truth_.at(series_state().file_list[i].name).bar_mm)));
  }
  for (const std::string& length : lengths) answers.push_back({length.c_str()});
  DialogAnswerer answerer(answers);
  for (size_t i = 0; i < count; ++i) {
    const Truth& t = truth_.at(current_name());
    const cv::Point2d half(-std::sin(t.rotation * CV_PI / 180) * t.height / 2,
                           std::cos(t.rotation * CV_PI / 180) * t.height / 2);
    const cv::Point top = view_point_for(t.center - half, t.image);
    const cv::Point bottom = view_point_for(t.center + half, t.image);
    std::vector<std::function<void()>> steps = scale_steps();
    steps.push_back(key('m'));
    steps.push_back(click(top.x, top.y));
    steps.push_back(click(bottom.x, bottom.y));
    steps.push_back(key('p'));
    const std::string printed = measure(steps);
    EXPECT_NE(printed.find("SAVED."), std::string::npos) << printed;
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_file_fwd"), Qt::LeftButton);
  }
  EXPECT_EQ(answerer.answered(), static_cast<int>(count));

  const auto rows = details_rows();
  ASSERT_EQ(rows.size(), count);
  std::printf("%-13s %8s %8s %8s %8s %8s %8s %8s %6s %6s %6s\n", "file", "px/mm", "len mm", "true",
              "brd mm", "true", "vol mm3", "true", "len %", "brd %", "vol %");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.at("file"));
    const Truth& t = truth_.at(row.at("file"));
    const EggDimensions truth_mm = egg_dimensions_in_mm(
        egg_dimensions_of_model(t.lambda_milli, t.width, t.height).value(), t.px_per_mm);
    EXPECT_EQ(row.at("scale_source"), "series");
    EXPECT_EQ(row.at("keys"), "k m p");
    const double length = std::stod(row.at("length_mm"));
    const double breadth = std::stod(row.at("breadth_mm"));
    const double volume = std::stod(row.at("volume_mm3"));
    const double length_error = 100 * (length / truth_mm.length - 1);
    const double breadth_error = 100 * (breadth / truth_mm.breadth - 1);
    const double volume_error = 100 * (volume / truth_mm.volume - 1);
    std::printf("%-13s %8s %8.3f %8.3f %8.3f %8.3f %8.0f %8.0f %+6.2f %+6.2f %+6.2f\n",
                row.at("file").c_str(), row.at("px_per_mm").c_str(), length, truth_mm.length,
                breadth, truth_mm.breadth, volume, truth_mm.volume, length_error, breadth_error,
                volume_error);
    EXPECT_LT(std::fabs(length_error), 1.0);
    EXPECT_LT(std::fabs(breadth_error), 1.0);
    EXPECT_LT(std::fabs(volume_error), 3.0);
  }
}
