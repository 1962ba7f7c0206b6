// The review sheet: one picture of every fit of a run, so that a researcher finds the fits to redo
// by hand at a glance. Tiles are labelled by the photograph's position in the measuring order,
// never by its name, so that the review stays blind.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "fit/model.h"

namespace meravel {

// Every tile is a square of this many pixels, its frame included.
constexpr int kReviewTileSize = 200;
// The frame around a tile's picture; red on a flagged tile.
constexpr int kReviewFrameWidth = 4;
// Tiles per row of a sheet (fewer when there are fewer tiles).
constexpr int kReviewColumns = 8;
// Colours (blue, green, red).
extern const cv::Scalar kReviewFlagColour;      // the frame of a flagged tile: pure red
extern const cv::Scalar kReviewFrameColour;     // the frame of any other tile: dark grey
extern const cv::Scalar kReviewOutlineColour;   // yellow
extern const cv::Scalar kReviewModelColour;     // red
extern const cv::Scalar kReviewAxisColour;      // green: the model's axis and its top mark
extern const cv::Scalar kReviewFlagTextColour;  // light red: the flags' short names

// The picture inside one tile (kReviewTileSize - 2 kReviewFrameWidth square, CV_8UC3): `image`
// (the photograph the fit was made on, CV_8UC3) cut around the outline and the model with a
// margin, scaled to fit, and on it the outline (broad, yellow), the model's two halves (thin,
// red, on top) and, as the Output window marks them, the model's axis with a filled triangle
// beyond its top end (green).
cv::Mat review_picture(const cv::Mat& image, const std::vector<cv::Point>& outline,
                       const ModelParameters& model, const CutOffs& cut_offs);

struct ReviewTile {
  int position = 0;  // 1-based place in the measuring order: the tile's label
  cv::Mat picture;   // a review_picture
  bool flagged = false;
  std::vector<std::string> flags;  // short names, written at the tile's foot
  // The egg's index in a clutch measured egg by egg, labelled "position.egg"; 0 for one object.
  int egg = 0;
};

// Where the tile at `index` (0-based, in the order given) lies on its sheet.
cv::Rect review_tile_rect(size_t index);

// The sheet of `tiles` in the order given, rows of kReviewColumns, on a grey ground; empty for
// none.
cv::Mat compose_review_sheet(const std::vector<ReviewTile>& tiles);

// Writes the sheet of `tiles` as a PNG file at `path`; false, with the reason in *error, when it
// cannot be written.
bool write_review_sheet(const std::string& path, const std::vector<ReviewTile>& tiles,
                        std::string* error);

}  // namespace meravel
