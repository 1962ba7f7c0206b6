// Realistic photographs of a clutch with an exact answer: two to six eggs of known shape side by
// side, two of them touching, on woven cloth or on a light card with a ruler. For tests and
// benchmarks of measuring every egg of a photograph.
#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "tools/demo_photo.h"

namespace meravel {

enum class ClutchGround {
  kCloth,          // cream and white eggs on dark red woven cloth
  kCardWithRuler,  // brown, olive and speckled eggs on a light card, a ruler along its foot
};

struct DemoClutch {
  cv::Mat photo;                 // CV_8UC3 BGR
  std::vector<DemoObject> eggs;  // the true eggs, in no particular order
  int touching[2] = {-1, -1};    // the indices in `eggs` of the pair that touch; -1 when none
};

// `egg_count` (1..6) eggs laid out on a grid of up to three columns and two rows over `size_px`,
// each turned and shifted a little by `seed`, with eggs 0 and 1 pushed together until they touch
// when `touching_pair` holds and there are two. Deterministic for equal arguments; every egg is
// wholly inside the photograph.
DemoClutch make_demo_clutch(cv::Size size_px, int egg_count, ClutchGround ground, unsigned seed,
                            bool touching_pair = true);

// The photograph of `eggs` on `ground` at `size_px` (CV_8UC3 BGR), as make_demo_clutch renders
// them; the shells' colours and speckles go by each egg's place in `eggs` plus `first_shell`
// (so that one egg of a clutch rendered alone looks as it does in the clutch).
cv::Mat render_demo_clutch(cv::Size size_px, const std::vector<DemoObject>& eggs,
                           ClutchGround ground, unsigned seed, int first_shell = 0);

}  // namespace meravel
