// Sub-pixel edge points along an outline: a grey-level profile across the edge at each outline
// pixel, and the place where it crosses the level halfway between object and background.
#include "fit/subpixel_edges.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "fit/fit_internal.h"
#include "fit/geometry.h"

namespace meravel {

namespace {

constexpr double kSmoothingSigma = 0.8;  // px, Gaussian applied before the profiles are read
constexpr int kTangentReach = 3;         // outline pixels on either side that give the tangent
constexpr double kEdgeGuess = 0.5;       // px: the edge lies about half a pixel outside its pixel
constexpr double kLevelReach = 3.0;      // px from the edge where object and background are read
constexpr double kSearchInside = 1.5;    // px inside the outline pixel the crossing may lie
constexpr double kSearchOutside = 2.5;   // px outside it
constexpr double kProbe = 2.0;           // px either side where the darker side is told
constexpr double kProfileStep = 0.25;    // px between profile samples
constexpr int kLevelWindow = 7;          // outline points on either side in the level's median
constexpr int kFrame = 2;                // outer rows and columns whose outline pixels are left out
constexpr int kChunk = 32;               // profiles read from one smoothed piece of the image

// A profile runs from -kReach to +kReach along the normal through its outline pixel: far enough
// for the levels read either side of a crossing 2 px from it (either direction may turn out to
// be outwards).
constexpr double kReach = 2.0 + kLevelReach + 0.5;
constexpr int kSamples = static_cast<int>(2 * kReach / kProfileStep + 0.5) + 1;

constexpr int sample_index(double s) { return static_cast<int>((s + kReach) / kProfileStep + 0.5); }

// Bilinear grey level of `grey` (CV_32FC1) at (x, y), which must lie inside it.
double bilinear(const cv::Mat& grey, double x, double y) {
  const int x0 = std::min(static_cast<int>(x), grey.cols - 2);
  const int y0 = std::min(static_cast<int>(y), grey.rows - 2);
  const double fx = x - x0, fy = y - y0;
  const float* row0 = grey.ptr<float>(y0);
  const float* row1 = grey.ptr<float>(y0 + 1);
  const double top = row0[x0] + fx * (row0[x0 + 1] - row0[x0]);
  const double bottom = row1[x0] + fx * (row1[x0 + 1] - row1[x0]);
  return top + fy * (bottom - top);
}

double median_of(std::vector<double>& values) {
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  return values[middle];
}

// The grey levels across the edge at one outline pixel, at s = -kReach, ..., +kReach along the
// normal (s grows outwards once the normal is oriented), and the levels read inside and outside.
struct Profile {
  int index = 0;   // of the outline pixel in the outline
  cv::Point2d at;  // the outline pixel's centre
  cv::Point2d normal;
  float values[kSamples];
  double inside = 0, outside = 0;
  bool usable = false;
  // Linear between the samples, s clamped to the profile.
  double at_s(double s) const {
    const double position = std::clamp((s + kReach) / kProfileStep, 0.0, kSamples - 1.0);
    const int j = std::min(static_cast<int>(position), kSamples - 2);
    return values[j] + (position - j) * (values[j + 1] - values[j]);
  }
  // The levels read at the three places a pixel apart around `reach` either side of s.
  void read_levels(double s, double reach, double* in, double* out) const {
    *in = *out = 0.0;
    for (double offset : {-0.5, 0.0, 0.5}) {
      *in += at_s(s - reach + offset) / 3.0;
      *out += at_s(s + reach + offset) / 3.0;
    }
  }
  void read_levels(double s) { read_levels(s, kLevelReach, &inside, &outside); }
};

// Reads the profiles of profiles[first, last) from the image turned grey and smoothed over just
// the piece they need: a large photograph is never copied whole.
void read_profiles(const cv::Mat& image, std::vector<Profile>& profiles, size_t first,
                   size_t last) {
  double min_x = HUGE_VAL, min_y = HUGE_VAL, max_x = -HUGE_VAL, max_y = -HUGE_VAL;
  for (size_t k = first; k < last; ++k) {
    min_x = std::min(min_x, profiles[k].at.x);
    min_y = std::min(min_y, profiles[k].at.y);
    max_x = std::max(max_x, profiles[k].at.x);
    max_y = std::max(max_y, profiles[k].at.y);
  }
  // The smoothing of a sample reads this far beyond it (the kernel OpenCV takes for the sigma).
  const int margin =
      static_cast<int>(std::ceil(kReach)) + 1 + static_cast<int>(4 * kSmoothingSigma);
  const cv::Rect piece =
      cv::Rect(
          cv::Point(static_cast<int>(min_x) - margin, static_cast<int>(min_y) - margin),
          cv::Point(static_cast<int>(max_x) + margin + 1, static_cast<int>(max_y) + margin + 1)) &
      cv::Rect(0, 0, image.cols, image.rows);
  cv::Mat grey;
  to_grey(image(piece), grey);
  grey.convertTo(grey, CV_32F);
  cv::GaussianBlur(grey, grey, cv::Size(), kSmoothingSigma, kSmoothingSigma, cv::BORDER_REPLICATE);
  for (size_t k = first; k < last; ++k) {
    Profile& profile = profiles[k];
    for (int j = 0; j < kSamples; ++j) {
      const double s = -kReach + j * kProfileStep;
      profile.values[j] =
          static_cast<float>(bilinear(grey, profile.at.x + s * profile.normal.x - piece.x,
                                      profile.at.y + s * profile.normal.y - piece.y));
    }
  }
}

// The halfway level of each profile, steadied over the neighbouring profiles along the outline
// (not across a stretch left out): the median of their halfway levels; the threshold where no
// neighbour's object is lighter than its background.
std::vector<double> halfway_levels(const std::vector<Profile>& profiles, int outline_size,
                                   int stride, int threshold) {
  const int count = static_cast<int>(profiles.size());
  std::vector<double> levels(count), window;
  for (int k = 0; k < count; ++k) {
    window.clear();
    for (int j = -kLevelWindow; j <= kLevelWindow; ++j) {
      const Profile& other = profiles[((k + j) % count + count) % count];
      const int apart = std::abs(other.index - profiles[k].index);
      if (std::min(apart, outline_size - apart) > kLevelWindow * stride) continue;
      if (other.inside > other.outside) window.push_back(0.5 * (other.inside + other.outside));
    }
    levels[k] = window.empty() ? threshold + 0.5 : median_of(window);
  }
  return levels;
}

// Where the profile falls from above `level` to below it, nearest `near` within the search range,
// and the slope there; +inf when it nowhere does.
double crossing(const Profile& profile, double level, double near, double* slope) {
  double best = HUGE_VAL;
  for (int j = sample_index(-kSearchInside); j < sample_index(kSearchOutside); ++j) {
    const double before = profile.values[j], after = profile.values[j + 1];
    if (!(before >= level && after < level)) continue;
    const double at =
        -kReach + j * kProfileStep + kProfileStep * (before - level) / (before - after);
    if (std::fabs(at - near) < std::fabs(best - near)) {
      best = at;
      *slope = (before - after) / kProfileStep;
    }
  }
  return best;
}

}  // namespace

std::vector<EdgePoint> subpixel_edges(const cv::Mat& image, const std::vector<cv::Point>& outline,
                                      int threshold, int max_points) {
  std::vector<EdgePoint> edges;
  const int n = static_cast<int>(outline.size());
  if (image.empty() || image.depth() != CV_8U || n < 4 * kTangentReach || max_points < 1 ||
      image.cols < 2 * kFrame + 2 || image.rows < 2 * kFrame + 2)
    return edges;

  const int stride = (n + max_points - 1) / max_points;
  const int count = (n + stride - 1) / stride;
  std::vector<Profile> profiles(count);
  const auto inside_image = [&](cv::Point2d p) {
    return p.x >= 0.0 && p.x <= image.cols - 1.0 && p.y >= 0.0 && p.y <= image.rows - 1.0;
  };
  for (int k = 0; k < count; ++k) {
    const int i = k * stride;
    const cv::Point p = outline[i];
    Profile& profile = profiles[k];
    if (p.x < kFrame || p.y < kFrame || p.x >= image.cols - kFrame || p.y >= image.rows - kFrame)
      continue;
    const cv::Point ahead = outline[(i + kTangentReach) % n];
    const cv::Point behind = outline[(i - kTangentReach + n) % n];
    const double tx = ahead.x - behind.x, ty = ahead.y - behind.y;
    const double length = std::hypot(tx, ty);
    if (!(length > 0.0)) continue;
    profile.index = i;
    profile.at = cv::Point2d(p.x, p.y);
    profile.normal = {ty / length, -tx / length};
    profile.usable = inside_image(profile.at + kReach * profile.normal) &&
                     inside_image(profile.at - kReach * profile.normal);
  }
  std::vector<Profile> usable;
  for (const Profile& profile : profiles)
    if (profile.usable) usable.push_back(profile);
  for (size_t first = 0; first < usable.size(); first += kChunk)
    read_profiles(image, usable, first, std::min(usable.size(), first + kChunk));
  profiles.swap(usable);
  if (profiles.empty()) return edges;

  // The normals point out of the object (towards the darker side) on most of the outline.
  int outward_votes = 0;
  for (const Profile& profile : profiles)
    outward_votes += profile.at_s(kProbe) < profile.at_s(-kProbe) ? 1 : -1;
  if (outward_votes < 0) {
    for (Profile& profile : profiles) {
      profile.normal = -profile.normal;
      std::reverse(std::begin(profile.values), std::end(profile.values));
    }
  }

  // Object and background levels, read first either side of where the edge is expected, and
  // again either side of the crossing found with them: read symmetrically about the edge, the
  // halfway level is right even where the profile has not yet levelled off.
  std::vector<double> contrasts;
  for (Profile& profile : profiles) {
    profile.read_levels(kEdgeGuess);
    contrasts.push_back(profile.inside - profile.outside);
  }
  const double typical_contrast = median_of(contrasts);
  if (!(typical_contrast > 0.0)) return edges;
  std::vector<double> crossings(profiles.size(), HUGE_VAL), slopes(profiles.size(), 0.0);
  for (int pass = 0; pass < 2; ++pass) {
    const std::vector<double> levels = halfway_levels(profiles, n, stride, threshold);
    for (size_t k = 0; k < profiles.size(); ++k) {
      const Profile& profile = profiles[k];
      if (profile.inside - profile.outside < typical_contrast / 3.0) {
        crossings[k] = HUGE_VAL;
        continue;
      }
      crossings[k] =
          crossing(profile, levels[k], pass == 0 ? kEdgeGuess : crossings[k], &slopes[k]);
    }
    if (pass == 0)
      for (size_t k = 0; k < profiles.size(); ++k)
        if (std::isfinite(crossings[k])) profiles[k].read_levels(crossings[k]);
  }
  for (size_t k = 0; k < profiles.size(); ++k) {
    if (!std::isfinite(crossings[k])) continue;
    const Profile& profile = profiles[k];
    // A Gaussian edge of contrast C and standard deviation b is steepest at its middle, with
    // slope C / (sqrt(2 pi) b); the contrast read as far out as the profile goes, where a
    // blurred edge has levelled off.
    double in, out;
    profile.read_levels(crossings[k], kReach - 1.0, &in, &out);
    const double blur = (in - out) / (std::sqrt(2.0 * kPi) * slopes[k]);
    edges.push_back({profile.at + crossings[k] * profile.normal, profile.normal, blur});
  }
  return edges;
}

}  // namespace meravel
