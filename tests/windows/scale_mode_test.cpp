// Key k on "Output": two clicks on the ends of a known length, handed to the session's scale step
// in pixels of the whole photograph also from a cut view, and the keys the session records.
#include "windows/scale_mode.h"

#include <QColor>
#include <QImage>
#include <opencv2/highgui.hpp>

#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class ScaleMode : public WindowTest {
 protected:
  TempDirectory dir_;
};

}  // namespace

// The geometry of the clicks is click_geometry_test's; here the wiring: the clicks of a cut view
// reach the step in pixels of the photograph, once, and the session goes on after it.
TEST_F(ScaleMode, TwoClicksReachTheScaleStepInPixelsOfThePhotograph) {
  const std::string photo = write_photo(dir_, "a.png", 1200, 900);
  const struct {
    const char* what;
    std::vector<std::function<void()>> cut;  // steps before key k
    cv::Point first_click, second_click;
    cv::Point2d first, second;
    const char* keys;
  } cases[] = {
      // Shown whole at s = 1.5.
      {"whole photograph", {}, {40, 492}, {280, 492}, {60, 738}, {420, 738}, "k"},
      // Cut by key s to (0, 600, 600, 300), shown 800 wide at s = 0.75.
      {"cut view",
       {key('s'), click(0, 400), click(400, 600)},
       {80, 184},
       {560, 184},
       {60, 738},
       {420, 738},
       "s k"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ScaleClicks> handed;
    bool waiting_inside_step = true;
    SessionStart start;
    start.set_scale = [&](const ScaleClicks& clicks) {
      handed.push_back(clicks);
      waiting_inside_step = measuring_.waiting_for_key();
    };
    std::vector<std::function<void()>> steps = c.cut;
    steps.push_back(key('k'));
    steps.push_back(click(c.first_click.x, c.first_click.y));
    steps.push_back(click(c.second_click.x, c.second_click.y));
    steps.push_back(click(700, 100));  // the mode is spent: a third click hands nothing on
    steps.push_back(key('x'));         // not a key of the session: not recorded
    steps.push_back(key('\r'));
    testing::internal::CaptureStdout();
    ScriptedUser user(measuring_, steps);
    const std::optional<SessionResult> result = measuring_.measure_photo(photo, start);
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(user.finished());
    ASSERT_TRUE(result && result->accepted());
    ASSERT_EQ(handed.size(), 1u) << output;
    EXPECT_EQ(handed[0].first, c.first);
    EXPECT_EQ(handed[0].second, c.second);
    EXPECT_FALSE(waiting_inside_step);  // the step runs outside the key wait, as a dialog must
    EXPECT_EQ(result->keys, c.keys);
    EXPECT_EQ(result->photo_size, cv::Size(1200, 900));
    EXPECT_NE(output.find("You can click the two ends of a known length (a ruler or scale bar) "
                          "for the scale. First one end, then the other.\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("First end is at: (60,738)\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Second end is at: (420,738)\n"), std::string::npos) << output;
  }
}

// The segment is drawn over "Output" while the scale is being set, and is gone once the scale step
// has returned.
TEST_F(ScaleMode, TheSegmentIsShownWhileTheScaleIsSet) {
  // Shown at its own size; the segment runs along row 50 over the dark background.
  const std::string photo = write_photo(dir_, "a.png", 800, 600);
  auto shown_green = [](cv::Point p) {
    const QImage view = viewport_of(kOutputWindow)->grab().toImage();
    const QColor colour = view.pixelColor(p.x, p.y);
    return colour.green() > 200 && colour.red() < 60 && colour.blue() < 60;
  };
  bool during = false, after_first = false;
  bool after = true;
  SessionStart start;
  start.set_scale = [&](const ScaleClicks&) { during = shown_green({100, 50}); };
  testing::internal::CaptureStdout();
  ScriptedUser user(measuring_, {key('k'), click(20, 50),
                                 [&] {
                                   after_first = shown_green({23, 50});
                                 },
                                 click(180, 50),
                                 [&] {
                                   after = shown_green({100, 50});
                                 },
                                 key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(photo, start);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(user.finished());
  ASSERT_TRUE(result && result->accepted());
  EXPECT_TRUE(after_first);  // the first end is marked by a ring of radius 3
  EXPECT_TRUE(during);
  EXPECT_FALSE(after);
}

// Keys are kept on every end, in order, without the ENTER or ESC that ended the session; a session
// without a scale step says so for key k and carries on.
TEST_F(ScaleMode, KeysAreRecordedInOrderAndKWithoutAStepSaysSo) {
  const std::string photo = write_photo(dir_, "a.png", 800, 600);
  const struct {
    const char* what;
    std::vector<std::function<void()>> steps;
    SessionEnd end;
    const char* keys;
  } cases[] = {
      {"reset and automatic fit", {key('r'), key('a'), key('\r')}, SessionEnd::kAccepted, "r a"},
      {"cancelled",
       {key('m'), click(100, 100), click(100, 300), key('u'), key(27)},
       SessionEnd::kCancelled,
       "m u"},
      {"k without a step",
       {key('k'), click(10, 10), click(110, 10), key('\r')},
       SessionEnd::kAccepted,
       "k"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::internal::CaptureStdout();
    ScriptedUser user(measuring_, c.steps);
    const std::optional<SessionResult> result = measuring_.measure_photo(photo, SessionStart());
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->end, c.end);
    EXPECT_EQ(result->keys, c.keys);
    const bool k_pressed = std::string(c.keys).find('k') != std::string::npos;
    EXPECT_EQ(output.find("No scale can be set here") != std::string::npos, k_pressed) << output;
  }
}
