// Synthetic photographs of one object whose outline is a closed W-curve of known parameters: the
// demo series, and test and benchmark photographs with a known answer.
//
// The object is the region enclosed by the two halves of the W-curve with the same parameters and
// the same sample formula as the fitting engine's model (lambda, horizontal scale lambda * width,
// height, rotation, centre), but evaluated in doubles without truncation and without cut-offs,
// densely enough that neighbouring outline points are at most a quarter pixel apart. So the
// object's edge is the true curve; the engine's truncated model can only approximate it.
//
// Default look: a light, slightly warm object (grey level about 180-220) on a dark background
// (grey level about 25-55), so that the program's default threshold 131 separates them with a wide
// margin even with the default noise. Light on dark, not the other way round: the program's
// outline is the contour with the most points, and a light background gives a contour just inside
// the image's pixel frame (2 (W + H) points) that beats any object of a smaller perimeter.
// dark_object_look() gives the other way round, for tests of exactly that.
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace meravel {

// The object's geometry, in pixels of the photograph (x to the right, y downwards).
struct DemoObject {
  double lambda = 1.1;      // shape exponent, > 0
  double width = 2800.0;    // width factor: the horizontal scale of the curve is lambda * width
  double height = 300.0;    // distance from the top point to the bottom point on the axis
  double rotation_deg = 0;  // degrees, as the model's rotation: 0 top point up, 180 upside down
  double center_x = 400.0;  // image position of the axis' midpoint
  double center_y = 300.0;
};

// How the photograph looks around the object. Grey levels are 0..255.
struct DemoLook {
  double background_level = 40.0;     // mean grey of the background
  double background_gradient = 30.0;  // background varies by this much across the image
  double gradient_angle_deg = 30.0;   // direction of brightening, 0 = towards +x, 90 = towards +y
  double object_level = 200.0;        // mean grey of the object
  double object_shading = 20.0;       // the object varies by this much, darker to its lower right
  double noise_sigma = 3.0;           // Gaussian noise per channel, after blur
  double blur_sigma = 0.7;            // Gaussian blur of the rendered scene; 0 for none
  unsigned noise_seed = 1;            // the same seed gives the same noise
};

// A dark object (grey about 65) on a light background (about 215).
DemoLook dark_object_look();

// A scale bar lying beside the object along the image's x axis: a light strip exactly length_mm
// long and 4 mm wide, with dark ticks every millimetre (longer every 5 and 10 mm), and its length
// written below it ("30 mm"). The ticks lie inside the strip, not at its edge, so the strip's
// outline stays a plain rectangle: far fewer contour points than an object of the same size.
struct DemoScaleBar {
  double length_mm = 0.0;  // 0: no bar
  double px_per_mm = 0.0;
  double left_px = 0.0;  // image x of the bar's left end
  double top_px = 0.0;   // image y of its upper edge
  double level = 225.0;  // grey level of the strip and the label
};

// The two ends of the known length, in image coordinates: the middles of the bar's left and right
// edges, length_mm * px_per_mm apart.
std::pair<cv::Point2d, cv::Point2d> demo_scale_bar_ends(const DemoScaleBar& bar);

// The box the bar and its label cover, in image coordinates; empty without a bar.
cv::Rect2d demo_scale_bar_box(const DemoScaleBar& bar);

// The automatic fit's test photographs: a flat light object (grey 200) on a flat dark background
// (60), clean, or noisy (Gaussian noise sigma 6 after a blur of 1.0) with the noise of `seed`.
DemoLook fit_test_look(bool noisy, unsigned seed);

// The closed outline of `object` in image coordinates: the right half from the top point down to
// the bottom point, then the left half back up. Neighbouring points are at most 0.25 px apart.
std::vector<cv::Point2d> demo_object_outline(const DemoObject& object);

// Renders a photograph of `size_px` (CV_8UC3, BGR): the object filled with anti-aliased edges over
// the background, and the scale bar when it has a length, then blurred and with noise.
// Deterministic for equal arguments. Away from the bar (beyond the blur's reach) the photograph is
// the same with and without it.
cv::Mat render_demo_photo(cv::Size size_px, const DemoObject& object, const DemoLook& look = {},
                          const DemoScaleBar& scale_bar = {});

// EXIF data to embed. With neither text set, an EXIF block with only a camera make is written, so
// a reader finds EXIF data but no capture date; without `present`, no EXIF block at all.
struct DemoExif {
  bool present = true;
  std::optional<std::string> date_time;           // tag 0x0132 of IFD 0, e.g. "2012:04:02 09:05:03"
  std::optional<std::string> date_time_original;  // tag 0x9003 of the EXIF IFD
};

// Encodes `bgr` as JPEG with `quality` (0..100) and inserts the EXIF block, built with libexif, as
// an APP1 segment right after the start-of-image marker. The texts are stored byte for byte.
// Returns false when encoding or writing fails (nothing useful is left at `path` then).
bool write_demo_jpeg(const std::string& path, const cv::Mat& bgr, int quality,
                     const DemoExif& exif);

}  // namespace meravel
