// The mouse modes' geometry, by hand: clicks in the view to image pixels, key m's top and bottom
// clicks to translation, height and rotation, key s's corners to regions, and nested regions in
// pixels of the whole photograph.
#include "fit/click_geometry.h"

#include <gtest/gtest.h>

#include "fit/fit_W.h"

using namespace meravel;

// Rotation: 0 down, 90 left, 180 up, 270 right. The diagonals are 3-4-5 triangles (dx 30, dy 40,
// distance 50, a = asin(0.8) = 53.130 degrees), so every number can be checked by hand.
TEST(TopAndBottomClicks, SetTranslationHeightAndRotation) {
  const struct {
    const char* what;
    cv::Point top, bottom;
    int translation_x, translation_y, height;
    int rotation;  // -1: none
  } cases[] = {
      {"bottom straight below", {100, 100}, {100, 300}, 100, 200, 200, 0},
      {"bottom to the right", {100, 100}, {300, 100}, 200, 100, 200, 270},
      {"bottom to the left", {300, 100}, {100, 100}, 200, 100, 200, 90},
      {"bottom above", {300, 300}, {300, 100}, 300, 200, 200, 180},
      // 270 + 53.130, 90 - 53.130, 270 - 53.130, 90 + 53.130, each truncated.
      {"diagonal down and right", {100, 100}, {130, 140}, 115, 120, 50, 323},
      {"diagonal down and left", {130, 100}, {100, 140}, 115, 120, 50, 36},
      {"diagonal up and right", {100, 140}, {130, 100}, 115, 120, 50, 216},
      {"diagonal up and left", {130, 140}, {100, 100}, 115, 120, 50, 143},
      // dx -31: the half is -15 toward zero; the distance sqrt(2561) = 50.6 is truncated to 50,
      // so a = asin(40 / 50) again.
      {"odd difference to the left", {131, 100}, {100, 140}, 116, 120, 50, 36},
      // 1 to the right and 1 down: distance sqrt(2) truncated to 1, asin(1) = 90 degrees, so
      // 270 + 90: the inclusive top of the range.
      {"neighbouring pixel, diagonal", {50, 50}, {51, 51}, 50, 50, 1, 360},
      {"coincident clicks: no direction", {200, 200}, {200, 200}, 200, 200, 0, -1},
      {"clicks outside the image", {-10, -10}, {-10, 90}, -10, 40, 100, 0},
      {"far apart", {0, 0}, {60000, 80000}, 30000, 40000, 100000, 323},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const TopBottomPlacement p = placement_from_top_and_bottom(c.top, c.bottom);
    EXPECT_EQ(p.translation_x, c.translation_x);
    EXPECT_EQ(p.translation_y, c.translation_y);
    EXPECT_EQ(p.height, c.height);
    if (c.rotation < 0) {
      EXPECT_FALSE(p.rotation.has_value());
    } else {
      ASSERT_TRUE(p.rotation.has_value());
      EXPECT_EQ(*p.rotation, c.rotation);
    }
  }
}

// s = W / 800 when the view is 800 wide, H / 600 when it is 600 high; products truncated.
TEST(ClickInTheView, MapsToTheImagePixelUnderIt) {
  const struct {
    cv::Size image;
    cv::Point click, image_point;
  } cases[] = {
      {{1600, 1200}, {400, 300}, {800, 600}},  // 800 x 600 view, s = 2
      {{600, 1200}, {100, 300}, {200, 600}},   // taller than 4:3: 300 x 600 view, s = 2
      {{1000, 500}, {333, 111}, {416, 138}},   // s = 1.25, truncated
      {{800, 600}, {799, 599}, {799, 599}},    // shown at its own size
      {{400, 300}, {799, 599}, {399, 299}},    // s = 0.5: the view is larger than the image
      {{6000, 4000}, {400, 300}, {3000, 2250}},
      {{1000, 500}, {-3, -1}, {-3, -1}},  // outside the view: toward zero, -3.75 to -3
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.image << " at " << c.click);
    bool fit_width = false;
    display_size(c.image.width, c.image.height, &fit_width);
    EXPECT_EQ(image_point_of_click(c.click, c.image, fit_width), c.image_point);
  }
}

// Key k's two ends of a scale bar land on the same photograph pixels whichever cut of the
// photograph the view shows, so the distance between them (the scale) does not depend on the cut.
TEST(ScaleClicks, LandOnPixelsOfTheWholePhotograph) {
  const struct {
    const char* what;
    cv::Size image;    // the image shown: the photograph or a cut of it
    cv::Point origin;  // where that image begins in the photograph
    cv::Point first_click, second_click;
    cv::Point first, second;  // in pixels of the photograph
  } cases[] = {
      // A 1200 x 900 photograph whose bar runs from x 60 to x 420 on row 738, shown whole at
      // s = 1.5.
      {"whole photograph", {1200, 900}, {0, 0}, {40, 492}, {280, 492}, {60, 738}, {420, 738}},
      // Cut to its lower left 600 x 300: a view 800 wide, s = 0.75.
      {"cut to the bar", {600, 300}, {0, 600}, {80, 184}, {560, 184}, {60, 738}, {420, 738}},
      // A cut that begins right of and below the photograph's corner: s = 0.5.
      {"cut inside", {400, 300}, {40, 700}, {40, 76}, {760, 76}, {60, 738}, {420, 738}},
      // Clicked in the other order, and off the image: points may lie outside the photograph.
      {"right end first", {1200, 900}, {0, 0}, {280, 492}, {40, 492}, {420, 738}, {60, 738}},
      {"outside the view", {400, 300}, {40, 700}, {-20, -10}, {900, 700}, {30, 695}, {490, 1050}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool fit_width = false;
    display_size(c.image.width, c.image.height, &fit_width);
    const cv::Point first = photo_point_of_click(c.first_click, c.image, fit_width, c.origin);
    const cv::Point second = photo_point_of_click(c.second_click, c.image, fit_width, c.origin);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
  }
}

TEST(RegionCorners, GiveTheSameRegionInEitherOrder) {
  const struct {
    const char* what;
    cv::Point first, second;
    cv::Rect region;
  } cases[] = {
      {"top left, then bottom right", {100, 50}, {300, 250}, {100, 50, 200, 200}},
      {"bottom right, then top left", {300, 250}, {100, 50}, {100, 50, 200, 200}},
      {"top right, then bottom left", {300, 50}, {100, 250}, {100, 50, 200, 200}},
      {"bottom left, then top right", {100, 250}, {300, 50}, {100, 50, 200, 200}},
      {"one column", {120, 50}, {120, 250}, {120, 50, 0, 200}},
      {"one row", {300, 80}, {100, 80}, {100, 80, 200, 0}},
      {"coincident corners", {70, 40}, {70, 40}, {70, 40, 0, 0}},
      {"a corner outside the image", {-20, 30}, {100, 900}, {-20, 30, 120, 870}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(region_between_corners(c.first, c.second), c.region);
  }
}

TEST(RegionFits, OnlyInsideTheImage) {
  const cv::Size image(800, 600);
  const struct {
    cv::Rect region;
    bool fits;
  } cases[] = {
      {{100, 50, 200, 200}, true},
      {{0, 0, 800, 600}, true},
      {{600, 500, 200, 100}, true},
      {{601, 500, 200, 100}, false},
      {{600, 501, 200, 100}, false},
      {{-20, 30, 120, 870}, false},
      {{-1, 0, 0, 0}, false},
      {{10, 10, -5, 20}, false},
      {{100, 50, 0, 300}, true},
      {{800, 600, 0, 0}, true},
      {{801, 0, 0, 0}, false},
      {{2147483000, 0, 2000, 10}, false},  // the sum is formed without overflow
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.region);
    EXPECT_EQ(region_fits(c.region, image), c.fits);
  }
}

// The region handed back is in pixels of the whole photograph: a region chosen in a view of a cut
// photograph is moved by where that cut begins, however deep the cuts are nested.
TEST(RegionInPhoto, AddsTheOriginsOfNestedCuts) {
  // The photograph 1000 x 800 cut to (100, 50, 400, 300), shown at 800 x 600 (s = 0.5).
  const cv::Point first_cut(100, 50);
  const cv::Size cut_size(400, 300);
  bool fit_width = false;
  display_size(cut_size.width, cut_size.height, &fit_width);
  const cv::Rect second =
      region_between_corners(image_point_of_click({220, 120}, cut_size, fit_width),
                             image_point_of_click({20, 20}, cut_size, fit_width));
  EXPECT_EQ(second, cv::Rect(10, 10, 100, 50));
  EXPECT_EQ(region_in_photo(second, first_cut), cv::Rect(110, 60, 100, 50));
  // A third cut inside that one, at (5, 7) of the second.
  const cv::Point second_cut = region_in_photo(second, first_cut).tl();
  EXPECT_EQ(region_in_photo(cv::Rect(5, 7, 20, 10), second_cut), cv::Rect(115, 67, 20, 10));
  // No cut: the region stays where it is; a dropped region keeps its corner.
  EXPECT_EQ(region_in_photo(cv::Rect(5, 7, 20, 10), {0, 0}), cv::Rect(5, 7, 20, 10));
  EXPECT_EQ(region_in_photo(cv::Rect(5, 7, 0, 0), first_cut), cv::Rect(105, 57, 0, 0));
}
