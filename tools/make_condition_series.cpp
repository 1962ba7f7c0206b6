// make_condition_series DIR [WIDTH HEIGHT [SEEDS]]: writes realistic photographs of one egg into
// DIR (created when missing), SEEDS (default 3) for each condition (demo_photo_conditions.h), named
// CONDITION_SEED.jpg, at WIDTH x HEIGHT (default 1200 x 900), and beside them
// condition_truth.csv with each egg's exact curve and its length and breadth in pixels.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale>
#include <string>
#include <system_error>

#include "fit/egg_dimensions.h"
#include "tools/demo_photo_conditions.h"

using namespace meravel;

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s DIR [WIDTH HEIGHT [SEEDS]]\n", argv[0]);
    return 2;
  }
  const std::string directory = argv[1];
  const cv::Size size(argc >= 4 ? std::atoi(argv[2]) : 1200, argc >= 4 ? std::atoi(argv[3]) : 900);
  const int seeds = argc == 5 ? std::atoi(argv[4]) : 3;
  if (size.width < 100 || size.height < 100 || seeds < 1) {
    std::fprintf(stderr, "%s: the size must be at least 100 x 100 and SEEDS at least 1\n", argv[0]);
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  std::ofstream truth(directory + "/condition_truth.csv");
  truth.imbue(std::locale::classic());
  truth.precision(17);
  truth << "file,condition,lambda,width,height,rotation,center_x,center_y,length_px,breadth_px\n";
  for (const DemoConditionInfo& info : kDemoConditions) {
    for (int seed = 1; seed <= seeds; ++seed) {
      const DemoObject egg = demo_condition_egg(size, static_cast<unsigned>(seed));
      const std::string name = std::string(info.name) + "_" + std::to_string(seed) + ".jpg";
      const cv::Mat photo =
          render_condition_photo(size, egg, info.condition, static_cast<unsigned>(seed));
      if (!write_demo_jpeg(directory + "/" + name, photo, 92, {})) {
        std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], directory.c_str(), name.c_str());
        return 1;
      }
      const auto dims = egg_dimensions(egg.lambda, egg.lambda * egg.width, egg.height);
      truth << name << ',' << info.name << ',' << egg.lambda << ',' << egg.width << ','
            << egg.height << ',' << egg.rotation_deg << ',' << egg.center_x << ',' << egg.center_y
            << ',' << (dims ? dims->length : 0.0) << ',' << (dims ? dims->breadth : 0.0) << '\n';
    }
  }
  truth.close();
  return truth ? 0 : 1;
}
