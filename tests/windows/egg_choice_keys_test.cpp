// Several eggs in one photograph: key e outlines and numbers them on "Output", a click on one or
// key g measures another, and ENTER saves each in turn before the session ends.
#include <algorithm>
#include <cmath>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "fit/clutch.h"
#include "fit/egg_dimensions.h"
#include "fit/geometry.h"
#include "tools/demo_photo.h"
#include "tools/demo_photo_clutch.h"
#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class EggChoiceKeys : public WindowTest {
 protected:
  TempDirectory dir_;
};

std::string output_title() {
  QWidget* output = window(kOutputWindow);
  return output ? output->windowTitle().toStdString() : std::string();
}

// The view position of photograph pixel `p` on "Output" (the whole photograph shown).
cv::Point in_view(const FitState& state, cv::Point2d p) {
  const double s = static_cast<double>(state.output_display.cols) / state.source_image.cols;
  return cv::Point(cvRound(p.x * s), cvRound(p.y * s));
}

int cyan_pixels(const FitState& state) {
  cv::Mat cyan;
  cv::inRange(state.output_display, cv::Scalar(255, 255, 0), cv::Scalar(255, 255, 0), cyan);
  return cv::countNonZero(cyan);
}

}  // namespace

// The number of the egg measured, from the title ("egg 2 of 2"); 0 when it says none.
int egg_in_title(const std::string& title) {
  for (int n : {1, 2}) {
    if (title.find(", egg " + std::to_string(n) + " of 2") != std::string::npos) return n;
  }
  return 0;
}

TEST_F(EggChoiceKeys, AClickOrKeyGChoosesTheOtherEggAndEnterSavesBothInTurn) {
  const std::string path = write_two_eggs(dir_, "two_eggs.png");
  const struct {
    const char* what;
    bool click;
  } cases[] = {{"a click inside the other egg", true}, {"key g", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<SessionResult> saved;
    SessionStart start;
    start.save = [&](const SessionResult& accepted) {
      saved.push_back(accepted);
      return SaveOutcome{true, ""};
    };
    std::string title_before, title_found, title_second, title_after_save;
    int cyan_before = -1, cyan_found = -1;
    int first = 0;  // the egg key e chose
    ScriptedUser user(
        measuring_,
        {[&] {
           title_before = output_title();
           cyan_before = cyan_pixels(measuring_.state);
         },
         key('e'),
         [&] {
           title_found = output_title();
           cyan_found = cyan_pixels(measuring_.state);
           first = egg_in_title(title_found);
         },
         [&] {
           if (!c.click) return type_key('g');
           const DemoObject& other = kTwoEggs[first == 1 ? 1 : 0];
           const cv::Point at = in_view(measuring_.state, {other.center_x, other.center_y});
           click_output(at.x, at.y);
         },
         [&] { title_second = output_title(); }, key('\r'),
         [&] { title_after_save = output_title(); }, key('\r')});
    testing::internal::CaptureStdout();
    const std::optional<SessionResult> result = measuring_.measure_photo(path, start);
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(user.finished());
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->accepted());

    // Before key e nothing is numbered; then the other egg is outlined in cyan, the chosen one in
    // the outline's yellow.
    EXPECT_EQ(title_before.find(" of 2"), std::string::npos) << title_before;
    EXPECT_EQ(cyan_before, 0);
    EXPECT_GT(cyan_found, 100);
    ASSERT_NE(first, 0) << title_found;
    const int second = 3 - first;
    EXPECT_EQ(egg_in_title(title_second), second) << title_second;
    EXPECT_EQ(egg_in_title(title_after_save), first) << title_after_save;
    EXPECT_NE(output.find("2 eggs found, this is egg " + std::to_string(first)), std::string::npos)
        << output;

    // The other egg was saved first, then the one key e chose; each fitted to its own outline.
    ASSERT_EQ(saved.size(), 2u);
    const int order[] = {second, first};
    for (int k = 0; k < 2; ++k) {
      SCOPED_TRACE(k);
      const SessionResult& r = saved[k];
      const DemoObject& truth = kTwoEggs[order[k] - 1];
      EXPECT_EQ(r.egg.index, order[k]);
      EXPECT_EQ(r.egg.count, 2);
      EXPECT_NEAR(r.egg.centre_in_photo.x, truth.center_x, 8.0);
      EXPECT_NEAR(r.egg.centre_in_photo.y, truth.center_y, 8.0);
      EXPECT_TRUE(r.egg.box_in_photo.contains(cv::Point(truth.center_x, truth.center_y)));
      EXPECT_NEAR(r.egg.box_in_photo.height,
                  truth.height * std::cos(truth.rotation_deg * CV_PI / 180), 0.15 * truth.height);
      EXPECT_TRUE(r.segmented);
      EXPECT_NEAR(r.model.translation_x, truth.center_x, 3.0);
      EXPECT_NEAR(r.model.translation_y, truth.center_y, 3.0);
      const std::optional<EggDimensions> egg =
          egg_dimensions_of_model(r.model.lambda_milli, r.model.width, r.model.height);
      ASSERT_TRUE(egg);
      EXPECT_NEAR(egg->length, truth.height, 0.03 * truth.height);
    }
    EXPECT_EQ(result->egg.index, first);
  }
}

TEST_F(EggChoiceKeys, KeyGWithoutSeveralEggsSaysWhyAndChangesNothing) {
  const std::string path = write_photo(dir_, "one.png", 400, 300);
  const struct {
    const char* what;
    std::vector<char> keys;
    const char* said;
  } cases[] = {
      {"before key e", {'g'}, "No eggs to choose from: key e finds them.\n"},
      {"one egg found", {'e', 'g'}, "Only one egg was found.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::function<void()>> steps;
    for (char k : c.keys) steps.push_back(key(k));
    steps.push_back(key('\r'));
    int saves = 0;
    SessionStart start;
    start.save = [&](const SessionResult&) {
      ++saves;
      return SaveOutcome{true, ""};
    };
    ScriptedUser user(measuring_, steps);
    testing::internal::CaptureStdout();
    const std::optional<SessionResult> result = measuring_.measure_photo(path, start);
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->accepted());
    EXPECT_EQ(saves, 1);  // ENTER saves once and ends the session
    EXPECT_NE(output.find(c.said), std::string::npos) << output;
    EXPECT_EQ(result->egg.count, c.keys.size() == 2 ? 1 : 0);
  }
}

// A clutch with two eggs that touch: the window finds, cuts apart, numbers and flags the eggs as
// the batch's finding does, so that egg n saved here is egg n of `meravel fit --objects all`.
TEST_F(EggChoiceKeys, TouchingEggsAreCutApartAndNumberedAsTheBatchNumbersThem) {
  const DemoClutch demo = make_demo_clutch(cv::Size(720, 540), 3, ClutchGround::kCloth, 4);
  const std::string path = dir_.file("clutch.png");
  cv::imwrite(path, demo.photo);
  const Clutch batch =
      find_clutch(segment_photograph(demo.photo, 640, {}, true), demo.photo.size());
  ASSERT_EQ(batch.eggs.size(), 3u);

  std::vector<SessionResult> saved;
  SessionStart start;
  start.save = [&](const SessionResult& accepted) {
    saved.push_back(accepted);
    return SaveOutcome{true, ""};
  };
  ScriptedUser user(measuring_, {key('e'), key('\r'), key('\r'), key('\r')});
  testing::internal::CaptureStdout();
  const std::optional<SessionResult> result = measuring_.measure_photo(path, start);
  const std::string output = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(user.finished());
  ASSERT_TRUE(result);
  EXPECT_NE(output.find("3 eggs found"), std::string::npos) << output;

  ASSERT_EQ(saved.size(), 3u);
  std::vector<int> numbers;
  int touching = 0;
  for (const SessionResult& r : saved) {
    SCOPED_TRACE(r.egg.index);
    ASSERT_GE(r.egg.index, 1);
    ASSERT_LE(r.egg.index, 3);
    EXPECT_EQ(r.egg.count, 3);
    numbers.push_back(r.egg.index);
    const ClutchEgg& same = batch.eggs[r.egg.index - 1];
    EXPECT_NEAR(r.egg.centre_in_photo.x, same.centre_px.x, 0.5);
    EXPECT_NEAR(r.egg.centre_in_photo.y, same.centre_px.y, 0.5);
    EXPECT_EQ(r.egg.box_in_photo, same.box_px);
    EXPECT_EQ(r.warnings.egg_touching, same.touching);
    touching += r.warnings.egg_touching;
  }
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(touching, 2);
}
