#include "tools/demo_photo_clutch.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "fit/geometry.h"
#include "tools/demo_photo_conditions.h"

namespace meravel {

namespace {

bool overlap(cv::Size size, const DemoObject& a, const DemoObject& b) {
  return cv::countNonZero((egg_coverage(size, a) > 0) & (egg_coverage(size, b) > 0)) > 0;
}

}  // namespace

DemoClutch make_demo_clutch(cv::Size size, int egg_count, ClutchGround ground, unsigned seed,
                            bool touching_pair) {
  cv::RNG rng(seed * 104729u + 7u);
  DemoClutch clutch;
  egg_count = std::clamp(egg_count, 1, 6);
  const int rows = egg_count > 3 ? 2 : 1;
  const int columns = (egg_count + rows - 1) / rows;
  // The card keeps its foot for the ruler.
  const double usable_height = ground == ClutchGround::kCardWithRuler ? 0.84 : 1.0;
  const double cell_w = static_cast<double>(size.width) / columns;
  const double cell_h = usable_height * size.height / rows;
  const double length = 0.72 * std::min(cell_w, cell_h);
  for (int i = 0; i < egg_count; ++i) {
    DemoObject egg;
    egg.lambda = std::round(1000.0 * rng.uniform(0.85, 1.3)) / 1000.0;
    egg.height = std::round(length * rng.uniform(0.9, 1.05));
    egg.width = std::round(
        width_for_pixel_width(egg.lambda, egg.height, rng.uniform(0.7, 0.8) * egg.height));
    egg.rotation_deg = std::floor(rng.uniform(0.0, 360.0));
    const int row = i / columns, column = i % columns;
    egg.center_x = std::round((column + 0.5 + rng.uniform(-0.04, 0.04)) * cell_w);
    egg.center_y = std::round((row + 0.5 + rng.uniform(-0.04, 0.04)) * cell_h);
    clutch.eggs.push_back(egg);
  }
  if (touching_pair && egg_count >= 2) {
    // Egg 1 slides towards egg 0 to the last whole pixel at which the two do not overlap.
    DemoObject& a = clutch.eggs[0];
    DemoObject& b = clutch.eggs[1];
    const double dx = a.center_x - b.center_x, dy = a.center_y - b.center_y;
    const double gap = std::hypot(dx, dy);
    double low = 0.0, high = gap;
    const auto moved = [&](double step) {
      DemoObject m = b;
      m.center_x = std::round(b.center_x + dx / gap * step);
      m.center_y = std::round(b.center_y + dy / gap * step);
      return m;
    };
    while (high - low > 0.5) {
      const double mid = (low + high) / 2;
      (overlap(size, a, moved(mid)) ? high : low) = mid;
    }
    b = moved(low);
    clutch.touching[0] = 0;
    clutch.touching[1] = 1;
  }

  clutch.photo = render_demo_clutch(size, clutch.eggs, ground, seed);
  return clutch;
}

cv::Mat render_demo_clutch(cv::Size size, const std::vector<DemoObject>& eggs, ClutchGround ground,
                           unsigned seed, int first_shell) {
  cv::RNG rng(seed * 7u + 3u);
  const bool card = ground == ClutchGround::kCardWithRuler;
  const cv::Scalar ground_colour = card ? cv::Scalar(214, 220, 224) : cv::Scalar(52, 58, 128);
  cv::Mat photo(size, CV_32FC3, ground_colour);
  if (!card) weave(photo, 0.12, seed);
  const double unit = std::min(size.width, size.height) / 100.0;
  if (card) {
    const cv::Rect ruler(static_cast<int>(0.08 * size.width), static_cast<int>(0.88 * size.height),
                         static_cast<int>(0.84 * size.width), static_cast<int>(6 * unit));
    cv::rectangle(photo, ruler & cv::Rect({0, 0}, size), cv::Scalar(150, 205, 235), cv::FILLED);
    for (int k = 0, x = ruler.x + 2; x < ruler.br().x - 2; ++k, x += std::max(2, int(unit))) {
      const int tick = ruler.height / (k % 10 == 0 ? 2 : 4);
      cv::line(photo, {x, ruler.y}, {x, ruler.y + tick}, cv::Scalar(25, 25, 25), 1);
    }
  }
  // Each egg casts a soft shadow towards the lower right, then lies on the ground.
  cv::Mat all_eggs = cv::Mat::zeros(size, CV_32FC1);
  std::vector<cv::Mat> coverage;
  for (const DemoObject& egg : eggs) {
    coverage.push_back(egg_coverage(size, egg));
    all_eggs = cv::max(all_eggs, coverage.back());
  }
  {
    cv::Mat shadow;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 1.5 * unit, 0, 1, 1.2 * unit);
    cv::warpAffine(all_eggs, shadow, shift, size);
    cv::GaussianBlur(shadow, shadow, cv::Size(), 1.5 * unit);
    cv::Mat factor = 1.0 - (card ? 0.3 : 0.2) * shadow;
    cv::Mat three;
    cv::merge(std::vector<cv::Mat>{factor, factor, factor}, three);
    cv::multiply(photo, three, photo);
  }
  const cv::Scalar card_shells[] = {{70, 110, 165}, {120, 160, 170}, {150, 185, 205}};
  const cv::Scalar cloth_shells[] = {{200, 218, 230}, {225, 230, 232}, {180, 205, 220}};
  for (size_t i = 0; i < eggs.size(); ++i) {
    const DemoObject& egg = eggs[i];
    const size_t look = i + static_cast<size_t>(first_shell);
    const cv::Scalar colour = card ? card_shells[look % 3] : cloth_shells[look % 3];
    cv::Mat shell(size, CV_32FC3, colour);
    const cv::Rect box = cv::boundingRect(coverage[i] > 0);
    // Lit from the upper left, and on every other egg dark speckles.
    for (int y = box.y; y < box.br().y; ++y) {
      cv::Vec3f* row = shell.ptr<cv::Vec3f>(y);
      for (int x = box.x; x < box.br().x; ++x) {
        const double along = ((x - egg.center_x) + (y - egg.center_y)) / egg.height;
        row[x] *= static_cast<float>(1.0 - 0.12 * std::clamp(along, -1.0, 1.0));
      }
    }
    if (look % 2 == 1) {
      for (int k = 0; k < 60; ++k) {
        const cv::Point at(rng.uniform(box.x, box.br().x), rng.uniform(box.y, box.br().y));
        cv::circle(shell, at, std::max(1, static_cast<int>(rng.uniform(0.1, 0.5) * unit)),
                   colour * 0.45, cv::FILLED, cv::LINE_AA);
      }
    }
    cv::Mat alpha3, rest;
    cv::merge(std::vector<cv::Mat>{coverage[i], coverage[i], coverage[i]}, alpha3);
    cv::multiply(photo, cv::Scalar(1, 1, 1) - alpha3, rest);
    cv::multiply(shell, alpha3, shell);
    photo = rest + shell;
  }

  cv::GaussianBlur(photo, photo, cv::Size(), std::max(0.7, 0.1 * unit));
  cv::Mat noise(size, CV_32FC3);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, 3.0);
  photo += noise;
  cv::Mat out;
  photo.convertTo(out, CV_8UC3);
  return out;
}

}  // namespace meravel
