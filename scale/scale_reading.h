// The scale of a photograph read from the photograph itself: a ruler with millimetre ticks, a
// printed square marker of known size, or a round reference (a disc, a coin) of known diameter.
//
// Computing core: takes a grey photograph (CV_8UC1, upright, whole), returns values; no window.
// Every position is in pixels of that photograph, x to the right and y downwards, pixel centres
// at whole numbers. A reading that is not found has px_per_mm 0 and says why in `note`.
#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace meravel {

// Where a photograph's scale came from.
enum class ScaleMethod { none, ruler, marker, disc, given, carried, clicked };

// "none", "ruler", "marker", "disc", "given", "carried", "clicked".
const char* scale_method_name(ScaleMethod method);

struct ScaleReading {
  ScaleMethod method = ScaleMethod::none;
  double px_per_mm = 0.0;     // > 0 when found
  double px_per_mm_se = 0.0;  // its standard error, pixels per millimetre
  std::string note;           // when not found: why; when found: what was read, in a few words

  // What to draw. Ruler: the centres of the ticks used and the ruler's unit direction (along the
  // ruler, across its ticks). Marker: its four corners, in the marker's own order. Disc: its
  // fitted ellipse.
  std::vector<cv::Point2f> ticks;
  cv::Point2f ruler_direction;
  std::vector<cv::Point2f> corners;
  cv::RotatedRect ellipse;

  // Doubt. Ruler: the tick spacing changes along the ruler by more than kRulerSpacingChange
  // (perspective, a bent tape). Marker: its two directions differ in scale by more than
  // kMarkerSteepAspect (seen at a steep angle); disc: its ellipse is as flat as that.
  bool spacing_varies = false;
  bool steep_angle = false;

  bool found() const { return px_per_mm > 0.0; }
};

// A ruler's spacing from one end of the ticks used to the other may change by this fraction.
inline constexpr double kRulerSpacingChange = 0.01;
// A marker whose side lengths in its two directions differ by more than this fraction, or a disc
// whose ellipse's axes do, is seen at a steep angle: about 11 degrees off square-on.
inline constexpr double kMarkerSteepAspect = 0.02;

// The ruler with millimetre ticks that shows the most ticks, if any: its ticks' spacing measured
// over all of them (the ticks' sub-pixel centres along the ruler fitted by a straight line of tick
// number). Ticks must be 1 mm apart, at least 3 px apart in the photograph, and at least
// kRulerMinTicks of them in a row must be seen.
inline constexpr int kRulerMinTicks = 15;
ScaleReading find_ruler_scale(const cv::Mat& grey);

// A printed square marker (ArUco, dictionaries 4x4, 5x5, 6x6 and the original one) whose black
// outer square is `side_mm` long: the scale of its four corners, refined to sub-pixel. The largest
// marker when several are seen.
ScaleReading find_marker_scale(const cv::Mat& grey, double side_mm);

// Whether a printed marker of any known dictionary is seen at all (whatever its size).
bool marker_seen(const cv::Mat& grey);

// A round reference of `diameter_mm` (a disc or a coin, lighter or darker than what lies around
// it): the roundest large blob, its fitted ellipse's major axis giving the scale (the major axis
// keeps its length when the disc is tilted).
ScaleReading find_disc_scale(const cv::Mat& grey, double diameter_mm);

}  // namespace meravel
