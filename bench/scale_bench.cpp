// The scale read from generated photographs (tools/scale_photo.h) against their exact truth, and
// its cost at 24 megapixels beside the decoding of the same photograph.
//
// Accuracy: for each reference (ruler, marker, disc) MERAVEL_SCALE_PHOTOS photographs (default
// 60) of 3000 x 2000 pixels, JPEG quality 90, each at its own scale (5 to 30 px/mm), style and
// angle; and as many with no reference at all, read with --scale auto:20 (a marker of 20 mm if
// one is found, else a ruler). A reading is right within 0.5 % of the truth; a miss is flagged
// (spacing varies, steep angle), not found, or unflagged.
//
// Speed: a 6000 x 4000 photograph with a ruler, one with a marker and one with neither, each
// read (grey conversion and read_scale, auto:20) and JPEG-decoded side by side, 5 times; the
// medians and their ratio.
//
// A plain program: arguments are ignored (scripts/bench passes Google Benchmark's).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "scale/scale_request.h"
#include "tools/scale_photo.h"

using namespace meravel;

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

cv::Mat through_jpeg(const cv::Mat& bgr, int quality, std::vector<uchar>* bytes) {
  cv::imencode(".jpg", bgr, *bytes, {cv::IMWRITE_JPEG_QUALITY, quality});
  return cv::imdecode(*bytes, cv::IMREAD_COLOR);
}

ScaleRequest request_for(const std::string& kind, const ScaleScene& scene) {
  ScaleRequest request;
  if (kind == "marker") {
    request.kind = ScaleRequest::Kind::marker;
    request.size_mm = scene.marker.side_mm;
  } else if (kind == "disc") {
    request.kind = ScaleRequest::Kind::disc;
    request.size_mm = scene.disc.diameter_mm;
  } else {
    request.kind = ScaleRequest::Kind::automatic;
    request.size_mm = 20;
  }
  return request;
}

void accuracy(int photos) {
  std::printf(
      "| reference | photographs | within 0.5 %% | missed, flagged | not found | "
      "missed, unflagged | median error | largest error |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const std::string kind : {"ruler", "marker", "disc", "none"}) {
    int right = 0, flagged = 0, not_found = 0, wrong = 0;
    std::vector<double> errors;
    for (int i = 0; i < photos; ++i) {
      const ScaleScene scene = random_scale_scene({3000, 2000}, kind, 5000 + i);
      std::vector<uchar> bytes;
      cv::Mat grey;
      cv::cvtColor(through_jpeg(render_scale_photo(scene), 90, &bytes), grey, cv::COLOR_BGR2GRAY);
      const ScaleReading reading = read_scale(grey, request_for(kind, scene));
      if (kind == "none") {
        // Anything found here is invented.
        if (reading.found())
          ++wrong;
        else
          ++not_found;
        continue;
      }
      if (!reading.found()) {
        ++not_found;
        if (std::getenv("MERAVEL_SCALE_DETAIL"))
          std::fprintf(stderr, "%s %d: %s\n", kind.c_str(), i, reading.note.c_str());
        continue;
      }
      const double error = reading.px_per_mm / scene.px_per_mm - 1;
      errors.push_back(std::abs(error));
      if (std::abs(error) <= 0.005)
        ++right;
      else if (reading.spacing_varies || reading.steep_angle)
        ++flagged;
      else
        ++wrong;
      if (std::getenv("MERAVEL_SCALE_DETAIL")) {
        std::fprintf(stderr, "%s %d: truth %.4f read %.4f (%+.3f %%)\n", kind.c_str(), i,
                     scene.px_per_mm, reading.px_per_mm, 100 * error);
      }
    }
    const double median_error = errors.empty() ? 0 : median(errors);
    const double largest = errors.empty() ? 0 : *std::max_element(errors.begin(), errors.end());
    std::printf("| %s | %d | %d | %d | %d | %d | %.3f %% | %.3f %% |\n", kind.c_str(), photos,
                right, flagged, not_found, wrong, 100 * median_error, 100 * largest);
  }
}

void speed() {
  std::printf(
      "\n| 6000 x 4000 photograph | decode (ms) | read the scale (ms) | read / decode | found |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const std::string kind : {"ruler", "marker", "none"}) {
    const ScaleScene scene = random_scale_scene({6000, 4000}, kind, 77);
    std::vector<uchar> bytes;
    through_jpeg(render_scale_photo(scene), 90, &bytes);
    ScaleRequest request;
    request.kind = ScaleRequest::Kind::automatic;
    request.size_mm = kind == "marker" ? scene.marker.side_mm : 20;
    std::vector<double> decode, read;
    bool found = false;
    for (int round = 0; round < 5; ++round) {
      Clock::time_point start = Clock::now();
      const cv::Mat bgr = cv::imdecode(bytes, cv::IMREAD_COLOR);
      decode.push_back(ms_since(start));
      start = Clock::now();
      cv::Mat grey;
      cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
      found = read_scale(grey, request).found();
      read.push_back(ms_since(start));
    }
    std::printf("| %s | %.0f | %.0f | %.2f | %s |\n", kind.c_str(), median(decode), median(read),
                median(read) / median(decode), found ? "yes" : "no");
  }
}

}  // namespace

int main() {
  const char* count = std::getenv("MERAVEL_SCALE_PHOTOS");
  speed();
  std::printf("\n");
  accuracy(count ? std::max(1, std::atoi(count)) : 60);
  return 0;
}
