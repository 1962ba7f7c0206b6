// The review sheet: one tile per fit in the order given, labelled by position, flagged tiles
// framed in red; and the sheet a run writes.
#include "batch/review_sheet.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "batch_test_support.h"
#include "fit/geometry.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

// Whether the whole frame of the tile at `rect` has `colour`.
bool framed_in(const cv::Mat& sheet, const cv::Rect& rect, const cv::Scalar& colour) {
  const cv::Vec3b expected(colour[0], colour[1], colour[2]);
  const cv::Mat tile = sheet(rect);
  for (int y = 0; y < tile.rows; ++y) {
    for (int x = 0; x < tile.cols; ++x) {
      const bool frame = x < kReviewFrameWidth || y < kReviewFrameWidth ||
                         x >= tile.cols - kReviewFrameWidth || y >= tile.rows - kReviewFrameWidth;
      if (frame && tile.at<cv::Vec3b>(y, x) != expected) return false;
    }
  }
  return true;
}

// How many pixels of `picture` have exactly `colour`.
int pixels_of(const cv::Mat& picture, const cv::Scalar& colour) {
  cv::Mat mask;
  cv::inRange(picture, colour, colour, mask);
  return cv::countNonZero(mask);
}

TEST(ReviewSheet, OneTilePerFitInRowsFlaggedOnesFramedRed) {
  const cv::Mat picture(kReviewTileSize - 2 * kReviewFrameWidth,
                        kReviewTileSize - 2 * kReviewFrameWidth, CV_8UC3, cv::Scalar(10, 80, 10));
  struct Case {
    size_t count;
    int columns, rows;
  };
  for (const Case c : {Case{1, 1, 1}, Case{8, 8, 1}, Case{9, 8, 2}, Case{17, 8, 3}}) {
    SCOPED_TRACE(c.count);
    std::vector<ReviewTile> tiles;
    for (size_t i = 0; i < c.count; ++i)
      tiles.push_back({static_cast<int>(3 * i + 1), picture, i % 3 == 1, {}});
    const cv::Mat sheet = compose_review_sheet(tiles);
    EXPECT_EQ(sheet.cols, c.columns * kReviewTileSize);
    EXPECT_EQ(sheet.rows, c.rows * kReviewTileSize);
    for (size_t i = 0; i < c.count; ++i) {
      SCOPED_TRACE(i);
      const cv::Rect rect = review_tile_rect(i);
      EXPECT_EQ(framed_in(sheet, rect, kReviewFlagColour), tiles[i].flagged);
      EXPECT_EQ(framed_in(sheet, rect, kReviewFrameColour), !tiles[i].flagged);
      // The picture is inside, under its label in the upper left corner.
      const cv::Mat inner = sheet(rect).rowRange(kReviewTileSize / 2, kReviewTileSize - 8);
      EXPECT_GT(pixels_of(inner, cv::Scalar(10, 80, 10)), 0);
      EXPECT_GT(pixels_of(sheet(rect)(cv::Rect(kReviewFrameWidth, kReviewFrameWidth, 30, 20)),
                          cv::Scalar::all(255)),
                0);
    }
  }
  EXPECT_TRUE(compose_review_sheet({}).empty());
}

TEST(ReviewSheet, ThePictureShowsTheOutlineAndTheModel) {
  DemoObject object;
  object.lambda = 1.0;
  object.height = 300;
  object.width = 700;
  object.center_x = 800;
  object.center_y = 600;
  const cv::Mat photo = render_demo_photo(cv::Size(1600, 1200), object);
  std::vector<cv::Point> outline;
  for (const cv::Point2d& p : demo_object_outline(object)) outline.emplace_back(p);
  ModelParameters model{1000, 700, 300, 0, 800, 600};
  const cv::Mat picture = review_picture(photo, outline, model, CutOffs{1, 5});
  ASSERT_EQ(picture.cols, kReviewTileSize - 2 * kReviewFrameWidth);
  // Cut around the object: both lines are long in the picture, not a speck in a whole photograph.
  EXPECT_GT(pixels_of(picture, kReviewOutlineColour), 300);
  EXPECT_GT(pixels_of(picture, kReviewModelColour), 300);
  // The axis and the top mark: the model's top (rotation 0) lies up, so the triangle stands above
  // the outline's top, and nothing green lies below the outline's bottom.
  const auto box_of = [&](const cv::Scalar& colour) {
    cv::Mat mask;
    cv::inRange(picture, colour, colour, mask);
    return cv::boundingRect(mask);
  };
  const cv::Rect marked = box_of(kReviewAxisColour);
  const cv::Rect drawn = box_of(kReviewOutlineColour);
  ASSERT_GT(marked.height, drawn.height / 2);
  EXPECT_LT(marked.y, drawn.y);
  EXPECT_LE(marked.y + marked.height, drawn.y + drawn.height);
  EXPECT_NEAR(marked.x + marked.width / 2.0, drawn.x + drawn.width / 2.0, 3);
}

// A flagged tile names its flags at its foot; an unflagged one shows none.
TEST(ReviewSheet, FlaggedTilesNameTheirFlags) {
  const cv::Mat picture(kReviewTileSize - 2 * kReviewFrameWidth,
                        kReviewTileSize - 2 * kReviewFrameWidth, CV_8UC3, cv::Scalar(10, 80, 10));
  std::vector<ReviewTile> tiles = {{1, picture, false, {}},
                                   {2, picture, true, {"length < breadth", "not convex"}}};
  const cv::Mat sheet = compose_review_sheet(tiles);
  const auto foot = [&](size_t i) {
    return sheet(review_tile_rect(i)).rowRange(kReviewTileSize - 40, kReviewTileSize - 8);
  };
  EXPECT_EQ(pixels_of(foot(0), kReviewFlagTextColour), 0);
  EXPECT_GT(pixels_of(foot(1), kReviewFlagTextColour), 20);
  EXPECT_EQ(pixels_of(foot(1), cv::Scalar(10, 80, 10)) > 0, true);  // the picture above them
}

// A run writes review.png into the series when a fit is flagged: one tile per measured
// photograph, the flagged one framed.
TEST(ReviewSheet, ARunWithAFlaggedFitWritesTheSheet) {
  TempDirectory series;
  make_demo_series(series);
  write_cut_object_photo(series.file("IMG_cut.jpg"));
  const BatchRunResult run = run_batch_on(series.path(), 2);
  ASSERT_EQ(run.summary.measured, 9u) << run.progress;
  ASSERT_EQ(run.summary.flagged.size(), 1u) << run.out;
  EXPECT_EQ(run.summary.review_sheet, series.file("review.png"));
  EXPECT_NE(run.out.find("Flagged: file " + std::to_string(run.summary.flagged[0].position) +
                         ": the outline touches the frame"),
            std::string::npos)
      << run.out;

  const cv::Mat sheet = cv::imread(series.file("review.png"));
  ASSERT_EQ(sheet.cols, 8 * kReviewTileSize);
  ASSERT_EQ(sheet.rows, 2 * kReviewTileSize);
  for (size_t i = 0; i < 9; ++i) {
    const bool flagged = i + 1 == run.summary.flagged[0].position;
    EXPECT_EQ(framed_in(sheet, review_tile_rect(i), kReviewFlagColour), flagged) << i;
  }
  // Asked for, the sheet is written without flags too.
  TempDirectory clean;
  make_demo_series(clean);
  const BatchRunResult asked = run_batch_on(clean.path(), 2, false, clean.file("sheet.png"));
  EXPECT_TRUE(asked.summary.flagged.empty());
  EXPECT_EQ(cv::imread(clean.file("sheet.png")).cols, 8 * kReviewTileSize);
  EXPECT_FALSE(clean.exists("review.png"));
  TempDirectory unasked;
  make_demo_series(unasked);
  run_batch_on(unasked.path(), 2);
  EXPECT_FALSE(unasked.exists("review.png"));
}

}  // namespace
