// Several eggs in the "Output" view: each plausible egg's outline and number over the view, and
// the title's words for which one is measured.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace meravel {

// Draws each outline of `outlines` (egg number n is element n - 1, in pixels of the image the
// view shows the part `shown` of) as a thin line over `view` (CV_8UC3), the current one's in the
// outline's yellow and the others' in cyan, with its number in a dark-edged label at the centre
// of its box. A `shown` with no area draws nothing.
void draw_numbered_eggs(cv::Mat& view, cv::Rect shown,
                        const std::vector<std::vector<cv::Point>>& outlines, int current);

// "egg 2 of 5" for egg `number` of `count`; empty when there are fewer than two.
std::string egg_of_count_text(int number, int count);

}  // namespace meravel
