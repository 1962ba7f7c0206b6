#include "batch/review_sheet.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "fit/top_end.h"

namespace meravel {

const cv::Scalar kReviewFlagColour(0, 0, 255);
const cv::Scalar kReviewFrameColour(70, 70, 70);
const cv::Scalar kReviewOutlineColour(0, 255, 255);
const cv::Scalar kReviewModelColour(0, 0, 255);
const cv::Scalar kReviewAxisColour(0, 255, 0);
const cv::Scalar kReviewFlagTextColour(80, 80, 255);

namespace {

constexpr int kPictureSize = kReviewTileSize - 2 * kReviewFrameWidth;
const cv::Scalar kGround(120, 120, 120);

cv::Rect box_of(const std::vector<cv::Point>& points) {
  return points.empty() ? cv::Rect() : cv::boundingRect(points);
}

cv::Rect unite(const cv::Rect& a, const cv::Rect& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a | b;
}

// The points moved into the scaled cut: (p - origin) * scale + offset.
std::vector<cv::Point> scaled(const std::vector<cv::Point>& points, cv::Point origin, double scale,
                              cv::Point offset) {
  std::vector<cv::Point> out;
  out.reserve(points.size());
  for (const cv::Point& p : points) {
    out.emplace_back(cvRound((p.x - origin.x + 0.5) * scale - 0.5) + offset.x,
                     cvRound((p.y - origin.y + 0.5) * scale - 0.5) + offset.y);
  }
  return out;
}

// The model's axis from its bottom end to its top end and a filled triangle beyond the top end,
// pointing away from the model, as the Output window shows them: so that a tile tells an axis
// lying across the object and a top at the wrong end.
void draw_axis_and_top(cv::Mat& picture, const ModelParameters& model, cv::Point origin,
                       double scale, cv::Point offset) {
  const auto at = [&](const cv::Point2d& p) {
    return cv::Point2d((p.x - origin.x + 0.5) * scale - 0.5 + offset.x,
                       (p.y - origin.y + 0.5) * scale - 0.5 + offset.y);
  };
  const cv::Point2d top = at(model_top_end(model));
  const cv::Point2d bottom = at(model_bottom_end(model));
  const cv::Point2d along = top - bottom;
  const double length = std::hypot(along.x, along.y);
  if (length < 1.0) return;
  cv::line(picture, bottom, top, kReviewAxisColour, 1, cv::LINE_8);
  const cv::Point2d u = along / length;
  const cv::Point2d across(-u.y, u.x);
  const double size = std::clamp(0.12 * length, 8.0, 16.0);
  const cv::Point corners[] = {top + u * size, top + u * 2.0 + across * (size / 2),
                               top + u * 2.0 - across * (size / 2)};
  cv::fillConvexPoly(picture, corners, 3, kReviewAxisColour, cv::LINE_8);
}

}  // namespace

cv::Mat review_picture(const cv::Mat& image, const std::vector<cv::Point>& outline,
                       const ModelParameters& model, const CutOffs& cut_offs) {
  cv::Mat picture(kPictureSize, kPictureSize, CV_8UC3, cv::Scalar::all(0));
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  std::ostringstream ignored;
  generate_w_curve(parameter_vector(model), cut_offs, left, right, ignored);

  const cv::Rect image_rect(0, 0, image.cols, image.rows);
  cv::Rect around = unite(box_of(outline), unite(box_of(left), box_of(right))) & image_rect;
  if (around.empty()) around = image_rect;
  const int margin = std::max(around.width, around.height) / 12 + 2;
  around = cv::Rect(around.x - margin, around.y - margin, around.width + 2 * margin,
                    around.height + 2 * margin) &
           image_rect;
  if (around.empty()) return picture;

  const double scale =
      std::min(1.0 * kPictureSize / around.width, 1.0 * kPictureSize / around.height);
  const cv::Size size(std::clamp(cvRound(around.width * scale), 1, kPictureSize),
                      std::clamp(cvRound(around.height * scale), 1, kPictureSize));
  const cv::Point offset((kPictureSize - size.width) / 2, (kPictureSize - size.height) / 2);
  cv::Mat cut;
  cv::resize(image(around), cut, size, 0, 0, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
  // Dimmed a little, so that the lines stand out on a light object.
  cut.convertTo(picture(cv::Rect(offset, size)), -1, 0.75);

  const cv::Point origin = around.tl();
  if (!outline.empty()) {
    const std::vector<std::vector<cv::Point>> lines{scaled(outline, origin, scale, offset)};
    cv::polylines(picture, lines, true, kReviewOutlineColour, 5, cv::LINE_8);
  }
  for (const std::vector<cv::Point>* half : {&left, &right}) {
    if (half->empty()) continue;
    const std::vector<std::vector<cv::Point>> lines{scaled(*half, origin, scale, offset)};
    cv::polylines(picture, lines, false, kReviewModelColour, 1, cv::LINE_8);
  }
  if (!left.empty()) draw_axis_and_top(picture, model, origin, scale, offset);
  return picture;
}

cv::Rect review_tile_rect(size_t index) {
  const int column = static_cast<int>(index % kReviewColumns);
  const int row = static_cast<int>(index / kReviewColumns);
  return cv::Rect(column * kReviewTileSize, row * kReviewTileSize, kReviewTileSize,
                  kReviewTileSize);
}

cv::Mat compose_review_sheet(const std::vector<ReviewTile>& tiles) {
  if (tiles.empty()) return cv::Mat();
  const int columns = static_cast<int>(std::min<size_t>(tiles.size(), kReviewColumns));
  const int rows = static_cast<int>((tiles.size() + kReviewColumns - 1) / kReviewColumns);
  cv::Mat sheet(rows * kReviewTileSize, columns * kReviewTileSize, CV_8UC3, kGround);
  for (size_t i = 0; i < tiles.size(); ++i) {
    const ReviewTile& tile = tiles[i];
    cv::Mat area = sheet(review_tile_rect(i));
    area.setTo(tile.flagged ? kReviewFlagColour : kReviewFrameColour);
    cv::Mat inner =
        area(cv::Rect(kReviewFrameWidth, kReviewFrameWidth, kPictureSize, kPictureSize));
    if (tile.picture.size() == inner.size() && tile.picture.type() == CV_8UC3) {
      tile.picture.copyTo(inner);
    } else {
      inner.setTo(cv::Scalar::all(0));
    }
    const std::string label =
        std::to_string(tile.position) + (tile.egg > 0 ? "." + std::to_string(tile.egg) : "");
    int baseline = 0;
    const cv::Size text = cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, 0.6, 2, &baseline);
    cv::rectangle(inner, cv::Rect(0, 0, text.width + 8, text.height + baseline + 6),
                  cv::Scalar::all(0), cv::FILLED);
    cv::putText(inner, label, cv::Point(4, text.height + 3), cv::FONT_HERSHEY_SIMPLEX, 0.6,
                cv::Scalar::all(255), 2, cv::LINE_AA);
    // The flags by short name, one a line from the tile's foot up, on a dark band.
    const int line_height = 13;
    for (size_t f = 0; f < tile.flags.size(); ++f) {
      const int foot = kPictureSize - 3 - static_cast<int>(tile.flags.size() - 1 - f) * line_height;
      cv::rectangle(inner, cv::Rect(0, foot - line_height + 2, kPictureSize, line_height),
                    cv::Scalar::all(0), cv::FILLED);
      cv::putText(inner, tile.flags[f], cv::Point(3, foot - 2), cv::FONT_HERSHEY_SIMPLEX, 0.38,
                  kReviewFlagTextColour, 1, cv::LINE_8);
    }
  }
  return sheet;
}

bool write_review_sheet(const std::string& path, const std::vector<ReviewTile>& tiles,
                        std::string* error) {
  const cv::Mat sheet = compose_review_sheet(tiles);
  if (sheet.empty()) {
    *error = "no fit to show";
    return false;
  }
  try {
    if (cv::imwrite(path, sheet, {cv::IMWRITE_PNG_COMPRESSION, 3})) return true;
    *error = "cannot be written";
  } catch (const cv::Exception& e) {
    *error = e.what();
  }
  return false;
}

}  // namespace meravel
