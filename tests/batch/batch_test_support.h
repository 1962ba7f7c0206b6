// Series directories for the batch tests: the demo series, copies of a series, and a run of the
// batch measuring in-process with the fixed clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "fit/geometry.h"
#include "test_support.h"
#include "tools/demo_photo.h"

using namespace meravel;

// The demo series (eight photographs of 640x480 to 1600x1200) in `directory`.
inline void make_demo_series(const TempDirectory& directory) {
  const std::string command =
      std::string(MERAVEL_BUILD_DIR) + "/make_demo_series " + directory.path() + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

// Every regular file of `from` copied into `to` (the photographs, the order file, ...).
inline void copy_series(const TempDirectory& from, const TempDirectory& to) {
  for (const auto& entry : std::filesystem::directory_iterator(from.path())) {
    if (entry.is_regular_file())
      std::filesystem::copy_file(entry.path(), to.path() + "/" + entry.path().filename().string());
  }
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What one run printed and summed up.
struct BatchRunResult {
  BatchSummary summary;
  std::string out;
  std::string progress;
};

// run_batch with `settings`, the fixed measuring clock and a fixed order seed, reporting into
// strings (not a terminal).
inline BatchRunResult run_batch_with(const BatchSettings& settings) {
  std::ostringstream out;
  std::ostringstream progress;
  BatchEnvironment environment{out, progress};
  environment.clock = fixed_measuring_time;
  environment.seed = [] { return 1234u; };
  BatchRunResult result;
  result.summary = run_batch(settings, environment);
  result.out = out.str();
  result.progress = progress.str();
  return result;
}

// run_batch on `directory`, as run_batch_with does.
inline BatchRunResult run_batch_on(const std::string& directory, unsigned jobs, bool again = false,
                                   std::string review_path = {},
                                   const SessionStart& start = SessionStart()) {
  BatchSettings settings;
  settings.start = start;
  settings.directory = directory;
  settings.jobs = jobs;
  settings.again = again;
  settings.review_path = std::move(review_path);
  return run_batch_with(settings);
}

// Writes to `path` a 400 x 300 JPEG of one object 150 px high and 110 px wide reaching the right
// edge: cut, so a fit of it is flagged, but a model inside the photograph can still be scored (one
// that reaches beyond it cannot, and is no measurement).
inline void write_cut_object_photo(const std::string& path) {
  DemoObject cut;
  cut.lambda = 1.2;
  cut.height = 150;
  cut.width = std::round(width_for_pixel_width(1.2, 150, 110));
  cut.center_x = 344;
  cut.center_y = 150;
  ASSERT_TRUE(write_demo_jpeg(path, render_demo_photo(cv::Size(400, 300), cut), 90, DemoExif{}));
}
