// The session's keys for the binarisation's polarity (n) and the model's top (f), typed into
// "Output" as a user would.
#include <cmath>
#include <opencv2/highgui.hpp>

#include "fit/geometry.h"
#include "fit/segmentation.h"
#include "stdout_capture.h"
#include "tools/demo_photo_conditions.h"
#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class SessionViewKeys : public WindowTest {
 protected:
  TempDirectory dir_;
};

// A dark ellipse centred at (200, 150), half axes 60 x 90, on a light, slightly textured ground.
std::string write_dark_on_light(const TempDirectory& dir) {
  cv::Mat photo = make_photo(400, 300, cv::Point(200, 150), cv::Size(60, 90));
  cv::bitwise_not(photo, photo);
  const std::string path = dir.file("dark.png");
  cv::imwrite(path, photo);
  return path;
}

}  // namespace

TEST_F(SessionViewKeys, KeyNFindsADarkObjectOnALightGroundAndCarriesOver) {
  const std::string photo = write_dark_on_light(dir_);
  struct Case {
    const char* what;
    ObjectPolarity start;
    std::vector<char> keys;  // before a and ENTER
    ObjectPolarity expected;
  } const cases[] = {
      {"n once", ObjectPolarity::kLightOnDark, {'n'}, ObjectPolarity::kDarkOnLight},
      {"carried over from the start",
       ObjectPolarity::kDarkOnLight,
       {},
       ObjectPolarity::kDarkOnLight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionStart start;
    start.polarity = c.start;
    int outline_height = 0;
    std::vector<std::function<void()>> steps;
    for (char k : c.keys) steps.push_back(key(k));
    steps.push_back(key('a'));
    steps.push_back([&] { outline_height = measuring_.state.outline_height; });
    steps.push_back(key('\r'));
    ScriptedUser user(measuring_, steps);
    const std::optional<SessionResult> result = measuring_.measure_photo(photo, start);
    ASSERT_TRUE(user.finished());
    ASSERT_TRUE(result && result->accepted());
    EXPECT_EQ(result->polarity, c.expected);
    EXPECT_NEAR(outline_height, 180, 2);
    EXPECT_LT(result->energy, 1.5);
    EXPECT_FALSE(result->warnings.outline_is_image_frame);
    EXPECT_NEAR(result->lambda, 1.0, 0.05);
  }
}

TEST_F(SessionViewKeys, WithoutKeyNTheDarkObjectsGroundIsTheOutlineAndTheTitleSaysTryKeyN) {
  const std::string photo = write_dark_on_light(dir_);
  std::string title;
  StdoutCapture out;
  ScriptedUser user(measuring_,
                    {[&] { title = window(kOutputWindow)->windowTitle().toStdString(); }, key('n'),
                     key('n'), key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(photo, SessionStart());
  ASSERT_TRUE(user.finished());
  ASSERT_TRUE(result && result->accepted());
  EXPECT_EQ(result->polarity, ObjectPolarity::kLightOnDark);  // n twice switches back
  EXPECT_TRUE(result->warnings.outline_is_image_frame);
  EXPECT_NE(title.find("try key n"), std::string::npos) << title;
  const std::string console = out.text();
  EXPECT_NE(console.find("Binarisation: dark object on a light ground.\n"), std::string::npos);
  EXPECT_NE(console.find("Binarisation: light object on a dark ground.\n"), std::string::npos);
}

TEST_F(SessionViewKeys, KeyFPutsTheTopAtTheOtherEndAndFTwiceReturns) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  ModelParameters fitted, flipped, back;
  double fitted_energy = 0, flipped_energy = 0;
  ScriptedUser user(measuring_, {key('a'),
                                 [&] {
                                   fitted = measuring_.state.model;
                                   fitted_energy = measuring_.state.energy;
                                 },
                                 key('f'),
                                 [&] {
                                   flipped = measuring_.state.model;
                                   flipped_energy = measuring_.state.energy;
                                 },
                                 key('f'), [&] { back = measuring_.state.model; }, key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(photo, SessionStart());
  ASSERT_TRUE(user.finished());
  EXPECT_NEAR(degrees_between(flipped.rotation, fitted.rotation), 180, 3);
  EXPECT_NEAR(flipped.lambda_milli, 1e6 / fitted.lambda_milli, 1);
  EXPECT_LE(flipped_energy, fitted_energy + 0.3);
  EXPECT_NEAR(flipped.height, fitted.height, 4);
  EXPECT_EQ(back, fitted);
  ASSERT_TRUE(result && result->accepted());
  EXPECT_EQ(result->model, fitted);
}

TEST_F(SessionViewKeys, KeysSAndQKeepAFitThatStaysInsideTheNewView) {
  // The light ellipse is centred at (200, 150) of a 400 x 300 photograph; the view is 800 x 600.
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    const char* what;
    cv::Point corner1, corner2;  // view clicks
    bool kept;
  } const cases[] = {
      {"region round the object", {160, 60}, {640, 540}, true},
      {"region cutting the object", {300, 60}, {640, 540}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModelParameters fitted, after_s, after_q;
    double energy_fitted = 0, energy_after_s = 0;
    ScriptedUser user(measuring_,
                      {key('a'),
                       [&] {
                         fitted = measuring_.state.model;
                         energy_fitted = measuring_.state.energy;
                       },
                       key('s'), click(c.corner1.x, c.corner1.y), click(c.corner2.x, c.corner2.y),
                       [&] {
                         after_s = measuring_.state.model;
                         energy_after_s = measuring_.state.energy;
                       },
                       key('q'), [&] { after_q = measuring_.state.model; }, key(27)});
    measuring_.measure_photo(photo, SessionStart());
    ASSERT_TRUE(user.finished());
    const cv::Point corner(c.corner1.x / 2, c.corner1.y / 2);
    ModelParameters moved = fitted;
    moved.translation_x -= corner.x;
    moved.translation_y -= corner.y;
    if (c.kept) {
      EXPECT_EQ(after_s, moved);
      EXPECT_NEAR(energy_after_s, energy_fitted, 0.05);
      EXPECT_EQ(after_q, fitted);
    } else {
      EXPECT_NE(after_s, moved);  // the set-up's placement in the new view
    }
  }
}

TEST_F(SessionViewKeys, KeyZShowsAPartAtFullResolutionAndKeepsTheFit) {
  // 1600 x 1200: the whole photograph is shown at half size, 800 x 600.
  const std::string photo = write_photo(dir_, "big.png", 1600, 1200);
  ModelParameters fitted, zoomed, back;
  double fitted_energy = 0, zoomed_energy = 0;
  cv::Size zoomed_view, back_view;
  int lambda_after_l = 0;
  ScriptedUser user(measuring_,
                    {key('a'),
                     [&] {
                       fitted = measuring_.state.model;
                       fitted_energy = measuring_.state.energy;
                     },
                     key('z'), click(200, 100), click(500, 400),
                     [&] {
                       zoomed = measuring_.state.model;
                       zoomed_energy = measuring_.state.energy;
                       zoomed_view = measuring_.state.output_display.size();
                     },
                     key('z'),
                     [&] {
                       back = measuring_.state.model;
                       back_view = measuring_.state.output_display.size();
                     },
                     key('z'), click(100, 100), click(700, 500), key('l'),
                     [&] { lambda_after_l = measuring_.state.model.lambda_milli; }, key(27)});
  measuring_.measure_photo(photo, SessionStart());
  ASSERT_TRUE(user.finished());
  EXPECT_EQ(zoomed, fitted);
  EXPECT_EQ(zoomed_energy, fitted_energy);
  EXPECT_EQ(zoomed_view, cv::Size(600, 600));  // the 600 x 600 part, pixel for pixel
  EXPECT_EQ(back, fitted);
  EXPECT_EQ(back_view, cv::Size(800, 600));
  EXPECT_EQ(lambda_after_l, 1000);  // keys work while a part is shown
}

// Key e on a brown egg on white paper: the Threshold trackbar and the polarity are set to those
// the segmentation found, the outline is the egg's, and key a then measures it; without e the
// start's threshold 131 and light-on-dark polarity find the paper.
TEST_F(SessionViewKeys, KeyEFindsTheEggAndSetsTheThresholdTrackbarAndThePolarity) {
  const cv::Size size(480, 360);
  const DemoObject egg = demo_condition_egg(size, 2);
  const std::string photo = dir_.file("brown.png");
  cv::imwrite(photo, render_condition_photo(size, egg, DemoCondition::kBrownOnPaper, 2));
  const Segmentation expected = segment_photograph(cv::imread(photo));
  ASSERT_TRUE(expected.found());

  int slider_after_e = -1;
  std::vector<cv::Point> outline;
  StdoutCapture out;
  ScriptedUser user(measuring_, {key('e'),
                                 [&] {
                                   slider_after_e = slider(kThresholdTrackbar)->value();
                                   outline = measuring_.state.target.outline_contour;
                                 },
                                 key('a'), key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(photo, SessionStart());
  ASSERT_TRUE(user.finished());
  ASSERT_TRUE(result && result->accepted());
  EXPECT_EQ(slider_after_e, expected.threshold);
  EXPECT_EQ(result->threshold, expected.threshold);
  EXPECT_EQ(result->polarity, ObjectPolarity::kDarkOnLight);
  EXPECT_EQ(outline, expected.candidates[expected.chosen].outline);
  EXPECT_EQ(result->keys, "e a");
  EXPECT_NEAR(result->model.height, egg.height, 0.03 * egg.height);
  EXPECT_NE(out.text().find("Egg found: threshold "), std::string::npos) << out.text();
  EXPECT_TRUE(result->segmented);
  EXPECT_EQ(result->candidate_score, expected.chosen_score());
  EXPECT_EQ(result->runner_up_score, expected.runner_up_score());
}

// The record says the egg was found automatically only while its outline is the target: a key
// that binarises again (n twice: the same polarity and threshold, whose largest outline is the
// card beside the egg) ends that.
TEST_F(SessionViewKeys, AnOutlineFoundAgainAfterKeyEIsTheThresholdsOwn) {
  const cv::Size size(480, 360);
  const std::string photo = dir_.file("egg.png");
  cv::imwrite(photo, render_condition_photo(size, demo_condition_egg(size, 1),
                                            DemoCondition::kLargeCard, 1));
  ScriptedUser user(measuring_, {key('e'), key('n'), key('n'), key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(photo, SessionStart());
  ASSERT_TRUE(user.finished());
  ASSERT_TRUE(result && result->accepted());
  EXPECT_EQ(result->keys, "e n n");
  EXPECT_FALSE(result->segmented);
}

TEST_F(SessionViewKeys, KeyEOnAPhotographWithoutAnEggSaysSoAndChangesNothing) {
  const std::string photo = dir_.file("empty.png");
  cv::imwrite(photo, cv::Mat(300, 400, CV_8UC3, cv::Scalar(40, 40, 40)));
  StdoutCapture out;
  ScriptedUser user(measuring_, {key('e'), key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(photo, SessionStart());
  ASSERT_TRUE(user.finished());
  ASSERT_TRUE(result && result->accepted());
  EXPECT_EQ(result->threshold, 131);
  EXPECT_EQ(result->polarity, ObjectPolarity::kLightOnDark);
  EXPECT_NE(out.text().find("No egg found: no object stands out from the ground with an egg's "
                            "shape.\n"),
            std::string::npos)
      << out.text();
}
