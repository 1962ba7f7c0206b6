#include "windows/egg_view.h"

#include <opencv2/imgproc.hpp>

namespace meravel {

namespace {

// Sub-pixel positions for the drawing calls: 1/16 of a view pixel.
constexpr int kShift = 4;
constexpr double kUnit = 1 << kShift;

}  // namespace

void draw_numbered_eggs(cv::Mat& view, cv::Rect shown,
                        const std::vector<std::vector<cv::Point>>& outlines, int current) {
  if (view.empty() || shown.area() <= 0) return;
  const double sx = static_cast<double>(view.cols) / shown.width;
  const double sy = static_cast<double>(view.rows) / shown.height;
  const auto in_view = [&](cv::Point2d p) {
    return cv::Point2d((p.x - shown.x) * sx, (p.y - shown.y) * sy);
  };
  const cv::Scalar yellow(0, 255, 255), cyan(255, 255, 0), dark(0, 0, 0);
  for (size_t n = 0; n < outlines.size(); ++n) {
    if (outlines[n].empty()) continue;
    std::vector<cv::Point> scaled;
    scaled.reserve(outlines[n].size());
    for (const cv::Point& p : outlines[n]) {
      const cv::Point2d q = in_view(cv::Point2d(p));
      scaled.emplace_back(cvRound(q.x * kUnit), cvRound(q.y * kUnit));
    }
    const bool is_current = static_cast<int>(n) == current;
    cv::polylines(view, scaled, true, is_current ? yellow : cyan, 1, cv::LINE_8, kShift);

    const cv::Rect box = cv::boundingRect(outlines[n]);
    const cv::Point2d centre =
        in_view(cv::Point2d(box.x + box.width / 2.0, box.y + box.height / 2.0));
    const std::string label = std::to_string(n + 1);
    const int font = cv::FONT_HERSHEY_SIMPLEX;
    const double size = 0.6;
    int baseline = 0;
    const cv::Size text = cv::getTextSize(label, font, size, 2, &baseline);
    const cv::Point at(cvRound(centre.x) - text.width / 2, cvRound(centre.y) + text.height / 2);
    cv::putText(view, label, at, font, size, dark, 4, cv::LINE_AA);
    cv::putText(view, label, at, font, size, is_current ? yellow : cyan, 2, cv::LINE_AA);
  }
}

std::string egg_of_count_text(int number, int count) {
  if (count < 2) return "";
  return "egg " + std::to_string(number) + " of " + std::to_string(count);
}

}  // namespace meravel
