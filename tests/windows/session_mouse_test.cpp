// The session's two mouse modes and its region of interest, clicked on "Output" as a user would.
#include <opencv2/highgui.hpp>

#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class SessionMouse : public WindowTest {
 protected:
  TempDirectory dir_;
};

}  // namespace

// The wiring of key m; the geometry of every kind of click pair is click_geometry_test's.
TEST_F(SessionMouse, TopAndBottomClicksSetTranslationHeightAndRotation) {
  // 800 x 600 is shown at its own size, so view and image pixels agree.
  const std::string photo = write_photo(dir_, "a.png", 800, 600);
  struct Case {
    cv::Point top, bottom;
    int translation_x, translation_y, height, rotation;
  } const cases[] = {
      {{100, 100}, {130, 140}, 115, 120, 50, 323},  // down and right: 270 + asin(0.8)
      {{50, 300}, {750, 300}, 400, 300, 700, 270},  // lying, longer than the photograph is high
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.top << " to " << c.bottom);
    SessionValues values;
    int positions[4] = {-1, -1, -1, -1};
    testing::internal::CaptureStdout();
    ScriptedUser user(measuring_,
                      {key('m'), click(c.top.x, c.top.y), click(c.bottom.x, c.bottom.y),
                       [&] {
                         const char* labels[] = {kTranslationXTrackbar, kTranslationYTrackbar,
                                                 kHeightTrackbar, kRotationTrackbar};
                         for (int i = 0; i < 4; ++i) {
                           positions[i] = cv::getTrackbarPos(labels[i], kTrackbarsWindow);
                         }
                       },
                       click(700, 500),  // the mode is spent: a third click changes nothing
                       key('\r')});
    values.run(measuring_, photo);
    const std::string output = testing::internal::GetCapturedStdout();
    const FitState& s = measuring_.state;
    EXPECT_EQ(s.model.translation_x, c.translation_x);
    EXPECT_EQ(s.model.translation_y, c.translation_y);
    EXPECT_EQ(s.model.height, c.height);
    EXPECT_EQ(s.model.rotation, c.rotation);
    EXPECT_EQ(positions[0], c.translation_x);
    EXPECT_EQ(positions[1], c.translation_y);
    EXPECT_EQ(positions[2], c.height);
    EXPECT_EQ(positions[3], c.rotation);
    const std::string top_line =
        "Top is at: (" + std::to_string(c.top.x) + "," + std::to_string(c.top.y) + ")\n";
    const std::string bottom_line =
        "Bottom is at: (" + std::to_string(c.bottom.x) + "," + std::to_string(c.bottom.y) + ")\n";
    EXPECT_NE(output.find("You can click the coordinates for the lambda curve's top and bottom. "
                          "First top, then bottom.\n"),
              std::string::npos);
    EXPECT_NE(output.find(top_line), std::string::npos) << output;
    EXPECT_NE(output.find(bottom_line), std::string::npos);
    EXPECT_EQ(output.find("is at: (700,500)"), std::string::npos);
  }
}

// The wiring of the click mapping; its cases are click_geometry_test's.
TEST_F(SessionMouse, ClicksMapFromTheScaledViewToImagePixels) {
  struct Case {
    int width, height;
    cv::Point click, image_point;
  } const cases[] = {
      {1600, 1200, {400, 300}, {800, 600}},  // 800 x 600 view, s = 2
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const std::string photo = write_photo(dir_, "a.png", c.width, c.height);
    SessionValues values;
    testing::internal::CaptureStdout();
    ScriptedUser user(measuring_, {key('m'), click(c.click.x, c.click.y), key(27)});
    values.run(measuring_, photo);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(measuring_.state.clicks.first().x, c.image_point.x);
    EXPECT_EQ(measuring_.state.clicks.first().y, c.image_point.y);
    EXPECT_NE(output.find("Top is at: (" + std::to_string(c.image_point.x) + "," +
                          std::to_string(c.image_point.y) + ")\n"),
              std::string::npos);
  }
}

// The wiring of key s; the corners in every order are click_geometry_test's.
TEST_F(SessionMouse, RegionCornersInEitherOrderCropTheSameRegion) {
  const std::string photo = write_photo(dir_, "a.png", 800, 600);
  struct Case {
    cv::Point first, second;
  } const cases[] = {{{300, 250}, {100, 50}}};  // bottom right, then top left
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    SessionValues values;
    cv::Size cropped;
    int width_after = -1;
    testing::internal::CaptureStdout();
    ScriptedUser user(measuring_,
                      {key('s'), click(c.first.x, c.first.y), click(c.second.x, c.second.y),
                       [&] {
                         cropped = measuring_.state.source_image.size();
                         width_after = cv::getTrackbarPos(kWidthTrackbar, kTrackbarsWindow);
                       },
                       key('\r')});
    values.run(measuring_, photo);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(cropped, cv::Size(200, 200));
    EXPECT_EQ(width_after, 1200);  // set up again: 6 W of the cut image
    EXPECT_EQ(values.roi_x, 100);
    EXPECT_EQ(values.roi_y, 50);
    EXPECT_EQ(values.roi_width, 200);
    EXPECT_EQ(values.roi_height, 200);
    EXPECT_NE(output.find("You can click the two corners of your region of interest.\n"),
              std::string::npos);
    EXPECT_NE(output.find("First corner is at: (" + std::to_string(c.first.x) + "," +
                          std::to_string(c.first.y) + ")\n"),
              std::string::npos);
    EXPECT_NE(output.find("Second corner is at: (" + std::to_string(c.second.x) + "," +
                          std::to_string(c.second.y) + ")\n"),
              std::string::npos);
  }
}

TEST_F(SessionMouse, RegionFromTheCallerIsCutOrDropped) {
  struct Case {
    int width, height;
    int roi[4];
    cv::Size shown;
    int returned[4];
  } const cases[] = {
      {1000, 800, {100, 50, 400, 300}, {400, 300}, {100, 50, 400, 300}},
      {450, 800, {100, 50, 400, 300}, {450, 800}, {100, 50, 0, 0}},         // 500 > 450: dropped
      {1000, 800, {-10, 50, 400, 300}, {1000, 800}, {-10, 50, 0, 0}},       // negative: dropped
      {1000, 800, {100, 50, 0, 300}, {1000, 800}, {100, 50, 0, 300}},       // empty: nothing to cut
      {1000, 800, {600, 500, 400, 300}, {400, 300}, {600, 500, 400, 300}},  // to the very edge
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " (" << c.roi[0] << ","
                                    << c.roi[1] << "," << c.roi[2] << "," << c.roi[3] << ")");
    const std::string photo = write_photo(dir_, "a.png", c.width, c.height);
    SessionValues values;
    values.roi_x = c.roi[0], values.roi_y = c.roi[1];
    values.roi_width = c.roi[2], values.roi_height = c.roi[3];
    cv::Size shown;
    ScriptedUser user(measuring_,
                      {[&] { shown = measuring_.state.source_image.size(); }, key('\r')});
    values.run(measuring_, photo);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(values.roi_x, c.returned[0]);
    EXPECT_EQ(values.roi_y, c.returned[1]);
    EXPECT_EQ(values.roi_width, c.returned[2]);
    EXPECT_EQ(values.roi_height, c.returned[3]);
  }
}

TEST_F(SessionMouse, QAfterACropShowsTheWholePhotograph) {
  const std::string photo = write_photo(dir_, "a.png", 1000, 800);
  SessionValues values;
  values.roi_x = 100, values.roi_y = 50, values.roi_width = 400, values.roi_height = 300;
  cv::Size shown;
  ScriptedUser user(measuring_,
                    {key('q'), [&] { shown = measuring_.state.source_image.size(); }, key('\r')});
  values.run(measuring_, photo);
  EXPECT_EQ(shown, cv::Size(1000, 800));
  EXPECT_EQ(values.roi_x, 100);
  EXPECT_EQ(values.roi_y, 50);
  EXPECT_EQ(values.roi_width, 0);
  EXPECT_EQ(values.roi_height, 0);
}

TEST_F(SessionMouse, NestedCropIsHandedBackInPixelsOfThePhotograph) {
  const cv::Mat full =
      make_photo(1000, 800, cv::Point(300, 200), cv::Size(80, 60));  // textured: every crop differs
  const std::string photo = dir_.file("a.png");
  cv::imwrite(photo, full);
  // The carried-in region cuts 400 x 300 at (100, 50), shown at 800 x 600 (s = 0.5); the corners
  // (20, 20) and (220, 120) of the view are (10, 10) and (110, 60) of the cut image.
  SessionValues values;
  values.roi_x = 100, values.roi_y = 50, values.roi_width = 400, values.roi_height = 300;
  cv::Mat shown;
  ScriptedUser user(measuring_,
                    {key('s'), click(20, 20), click(220, 120),
                     [&] { shown = measuring_.state.source_image.clone(); }, key('\r')});
  values.run(measuring_, photo);
  EXPECT_EQ(values.roi_x, 110);
  EXPECT_EQ(values.roi_y, 60);
  EXPECT_EQ(values.roi_width, 100);
  EXPECT_EQ(values.roi_height, 50);
  const cv::Mat expected = full(cv::Rect(110, 60, 100, 50));
  ASSERT_EQ(shown.size(), expected.size());
  EXPECT_EQ(cv::norm(shown, expected, cv::NORM_INF), 0);

  // The next session, given the region handed back, cuts the same place.
  cv::Mat next_shown;
  ScriptedUser next_user(measuring_,
                         {[&] { next_shown = measuring_.state.source_image.clone(); }, key(27)});
  values.run(measuring_, photo);
  ASSERT_EQ(next_shown.size(), expected.size());
  EXPECT_EQ(cv::norm(next_shown, expected, cv::NORM_INF), 0);
}

TEST_F(SessionMouse, ArmingTheOtherModeTakesOverTheNextClick) {
  const std::string photo = write_photo(dir_, "a.png", 800, 600);
  SessionValues values;
  ScriptedUser user(measuring_, {key('m'), click(100, 100), key('s'), click(100, 50),
                                 click(300, 250), key('\r')});
  values.run(measuring_, photo);
  EXPECT_EQ(values.roi_x, 100);
  EXPECT_EQ(values.roi_y, 50);
  EXPECT_EQ(values.roi_width, 200);
  EXPECT_EQ(values.roi_height, 200);
  EXPECT_EQ(measuring_.state.model.height,
            150);  // set up on the 200 x 200 cut, not by a bottom click
}
