// Synthetic photographs with a scale in them and its exact truth: an egg (demo_photo.h) beside a
// ruler with millimetre ticks (printed or metal, at an angle), a printed square marker, or a disc
// of known diameter. For the scale readers' tests and benchmarks.
//
// Everything is drawn with anti-aliased sub-pixel polygons on the sharp scene, which is then
// blurred and given noise as a camera would. Positions in pixels of the photograph, x to the right
// and y downwards; sizes of the references in millimetres.
#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "tools/demo_photo.h"

namespace meravel {

enum class RulerStyle {
  printed,  // white plastic, black ticks, numbers every 10 mm
  metal,    // brushed steel, darker engraved ticks, a sheen along its length
};

struct SceneRuler {
  double length_mm = 0.0;  // 0: no ruler
  double width_mm = 25.0;
  RulerStyle style = RulerStyle::printed;
  cv::Point2d centre_px;
  double angle_deg = 0.0;  // direction of increasing millimetres, 0 = towards +x
  // The spacing grows by this fraction from one end of the ruler to the other (a ruler seen in
  // perspective); 0 for a ruler flat in the egg's plane.
  double spacing_change = 0.0;
};

struct SceneMarker {
  double side_mm = 0.0;  // the black outer square's side; 0: no marker
  int id = 7;            // in the 4x4 dictionary of 50
  cv::Point2d centre_px;
  double angle_deg = 0.0;
  // The marker's second direction is shortened by this factor (a marker seen at an angle); 1 flat.
  double foreshortening = 1.0;
};

struct SceneDisc {
  double diameter_mm = 0.0;  // 0: no disc
  cv::Point2d centre_px;
  double level = 165.0;  // its grey; a darker rim is drawn round it
};

struct ScaleScene {
  cv::Size size_px{1600, 1200};
  double px_per_mm = 8.0;  // the truth, in the egg's and the references' plane
  DemoObject egg;
  DemoLook look;
  SceneRuler ruler;
  SceneMarker marker;
  SceneDisc disc;
};

// A scene of `size_px` drawn from `seed`: a field of view 110..300 mm wide, an egg 40..62 mm long,
// and the reference `kind` names ("ruler", "marker", "disc" or "none") placed apart from the egg,
// at a random angle and style. Equal arguments give equal scenes.
ScaleScene random_scale_scene(cv::Size size_px, const std::string& kind, unsigned seed);

// The photograph of `scene` (CV_8UC3, BGR).
cv::Mat render_scale_photo(const ScaleScene& scene);

}  // namespace meravel
