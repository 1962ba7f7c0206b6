// make_scale_series DIR KIND COUNT [WIDTH HEIGHT [SEED]]: writes COUNT photographs of an egg
// beside a scale reference into DIR (created when missing), KIND ruler, marker, disc or none, each
// at its own scale (scale_photo.h), and beside them scale_truth.csv: for each photograph its file,
// the reference, the true pixels per millimetre, the marker's side or disc's diameter in
// millimetres, the egg's length in millimetres, and the region around the egg (x,y,w,h) that
// keeps the reference out of the fit. Default size 1600 x 1200, seed 1.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/scale_photo.h"

using namespace meravel;

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: %s DIR ruler|marker|disc|none COUNT [WIDTH HEIGHT [SEED]]\n",
                 argv[0]);
    return 2;
  }
  const std::string directory = argv[1], kind = argv[2];
  const int count = std::atoi(argv[3]);
  const cv::Size size(argc >= 6 ? std::atoi(argv[4]) : 1600, argc >= 6 ? std::atoi(argv[5]) : 1200);
  const unsigned seed = argc == 7 ? static_cast<unsigned>(std::atoi(argv[6])) : 1;
  if (kind != "ruler" && kind != "marker" && kind != "disc" && kind != "none") {
    std::fprintf(stderr, "%s: KIND is ruler, marker, disc or none\n", argv[0]);
    return 2;
  }
  if (count < 1 || size.width < 200 || size.height < 200) {
    std::fprintf(stderr, "%s: COUNT at least 1, WIDTH and HEIGHT at least 200\n", argv[0]);
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  std::ofstream truth(directory + "/scale_truth.csv");
  truth << "file,reference,px_per_mm,reference_mm,egg_length_mm,region\n";
  for (int i = 0; i < count; ++i) {
    const ScaleScene scene = random_scale_scene(size, kind, seed * 1000 + i);
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04d.JPG", i + 1);
    DemoExif exif;
    exif.date_time = "2026:12:11 09:00:00";
    if (!write_demo_jpeg(directory + "/" + name, render_scale_photo(scene), 95, exif)) {
      std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], directory.c_str(), name);
      return 1;
    }
    const double reference_mm = kind == "marker"  ? scene.marker.side_mm
                                : kind == "disc"  ? scene.disc.diameter_mm
                                : kind == "ruler" ? scene.ruler.length_mm
                                                  : 0.0;
    const double reach = 0.62 * scene.egg.height;
    const cv::Rect region =
        cv::Rect(cvRound(scene.egg.center_x - reach), cvRound(scene.egg.center_y - reach),
                 cvRound(2 * reach), cvRound(2 * reach)) &
        cv::Rect(0, 0, size.width, size.height);
    char line[256];
    std::snprintf(line, sizeof line, "%s,%s,%.17g,%.17g,%.17g,\"%d,%d,%d,%d\"\n", name,
                  kind.c_str(), scene.px_per_mm, reference_mm, scene.egg.height / scene.px_per_mm,
                  region.x, region.y, region.width, region.height);
    truth << line;
  }
  return truth.good() ? 0 : 1;
}
