// make_demo_series DIR: writes a small series of synthetic photographs into DIR (created when
// missing), each of one light object on a dark ground whose outline is a W-curve of known
// parameters and a scale bar of known length below and to the left of it, with an EXIF capture
// date, and beside them ground_truth.csv with the parameters of each object and the scale of
// each photograph.
//
// Every parameter is one a trackbar can hold (lambda in thousandths, whole pixels and degrees), so
// a perfect fit is reachable. Existing photographs of the same names are overwritten; nothing else
// in DIR is touched.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>
#include <string>
#include <system_error>

#include "fit/geometry.h"
#include "tools/demo_photo.h"

namespace meravel {

namespace {

struct DemoShot {
  int image_width;
  int image_height;
  int lambda_milli;
  int height_px;
  double width_to_height;  // the object's pixel width over its height
  int rotation_deg;
  double center_x_fraction;  // of the image width
  double center_y_fraction;
  const char* date_time;
  double px_per_mm;  // the scale: objects 45 to 57 mm long, as eggs are
  int scale_bar_mm;  // the bar's length, a whole number of pixels at that scale
};

// Sizes, shapes and positions vary, but every object lies within reach of the optimiser key p from
// the session's start (model centred, height 3/4 of the image, rotation 325 degrees, lambda 0.9 to
// 1.3 with the default lambda field): p and ENTER measure any of them. The scale bar lies in the
// lower left corner, which the objects (tilted with their tops to the upper left) leave free, far
// enough from the object that its outline is the same pixel for pixel as without the bar.
const DemoShot kShots[] = {
    {800, 600, 1100, 450, 0.58, 325, 0.50, 0.50, "2012:04:01 18:00:00", 8.0, 30},
    {1024, 768, 1200, 570, 0.52, 322, 0.49, 0.51, "2012:04:01 18:03:12", 10.0, 30},
    {640, 480, 1000, 360, 0.62, 328, 0.51, 0.49, "2012:04:01 18:07:45", 8.0, 25},
    {1200, 900, 1250, 680, 0.50, 321, 0.50, 0.50, "2012:04:02 08:15:30", 12.0, 30},
    {800, 600, 1050, 445, 0.60, 327, 0.49, 0.50, "2012:04:02 08:20:02", 8.8, 25},
    {1600, 1200, 1150, 905, 0.55, 324, 0.51, 0.50, "2012:04:02 08:31:17", 16.0, 30},
    {960, 720, 1220, 545, 0.48, 329, 0.50, 0.51, "2012:04:03 10:02:55", 10.8, 25},
    {1280, 960, 950, 725, 0.66, 323, 0.50, 0.49, "2012:04:03 10:09:41", 14.0, 30},
};

constexpr const char* kUsage =
    "Usage: make_demo_series DIR\n"
    "Writes eight synthetic photographs IMG_0001.JPG to IMG_0008.JPG of egg-shaped objects with\n"
    "known parameters and a scale bar, and ground_truth.csv describing them, into DIR (created\n"
    "when missing). Measure them with 'meravel fit DIR' or in the main window.\n";

}  // namespace

}  // namespace meravel

using namespace meravel;

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // A folder named like an option is far more often a mistyped option than a wish.
  if (argc != 2 || first.empty() || first[0] == '-') {
    if (argc == 2 && !first.empty())
      std::fprintf(stderr, "make_demo_series: unknown option '%s'\n", argv[1]);
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::filesystem::path directory = argv[1];
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    std::fprintf(stderr, "cannot create %s: %s\n", argv[1], error.message().c_str());
    return 1;
  }

  std::ostringstream truth;
  truth.imbue(std::locale::classic());
  truth << "file;lambda;width;height;rotation;center_x;center_y;object_width_px;"
        << "image_width;image_height;capture_date;px_per_mm;scale_bar_mm;"
        << "scale_bar_x1;scale_bar_y1;scale_bar_x2;scale_bar_y2;\n";
  int number = 0;
  for (const DemoShot& shot : kShots) {
    ++number;
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04d.JPG", number);
    DemoObject object;
    object.lambda = shot.lambda_milli / 1000.0;
    object.height = shot.height_px;
    // A whole width factor, as the Width trackbar holds it.
    object.width = std::lround(
        width_for_pixel_width(object.lambda, object.height, shot.width_to_height * shot.height_px));
    object.rotation_deg = shot.rotation_deg;
    object.center_x = std::lround(shot.center_x_fraction * shot.image_width);
    object.center_y = std::lround(shot.center_y_fraction * shot.image_height);
    DemoLook look;
    look.noise_seed = static_cast<unsigned>(number);
    look.gradient_angle_deg = 40.0 * number;
    DemoScaleBar bar;
    bar.length_mm = shot.scale_bar_mm;
    bar.px_per_mm = shot.px_per_mm;
    bar.left_px = std::lround(0.05 * shot.image_width);
    bar.top_px = std::lround(0.82 * shot.image_height);
    const auto [bar_start, bar_end] = demo_scale_bar_ends(bar);
    const cv::Mat photo =
        render_demo_photo({shot.image_width, shot.image_height}, object, look, bar);
    const std::string path = (directory / name).string();
    if (!write_demo_jpeg(path, photo, 92, {true, std::string(shot.date_time), std::nullopt})) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    truth << name << ';' << object.lambda << ';' << object.width << ';' << object.height << ';'
          << object.rotation_deg << ';' << object.center_x << ';' << object.center_y << ';'
          << std::lround(pixel_width_for_width(object.lambda, object.height, object.width) * 100) /
                 100.0
          << ';' << shot.image_width << ';' << shot.image_height << ';' << shot.date_time << ';'
          << shot.px_per_mm << ';' << shot.scale_bar_mm << ';' << bar_start.x << ';' << bar_start.y
          << ';' << bar_end.x << ';' << bar_end.y << ";\n";
  }

  const std::string truth_path = (directory / "ground_truth.csv").string();
  std::ofstream file(truth_path, std::ios::trunc);
  file << truth.str();
  file.close();
  if (!file) {
    std::fprintf(stderr, "cannot write %s\n", truth_path.c_str());
    return 1;
  }
  std::printf("%d photographs and ground_truth.csv written to %s\n", number, argv[1]);
  return 0;
}
