// The measurement series: the files of one directory in their fixed random measuring order.
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

namespace meravel {

struct SeriesEntry {
  std::string name;   // file name without directory, the bytes the listing or order file gave
  int order_key = 0;  // random key; entries are measured in ascending order of it
};

// Entries are ordered by key alone, compared as signed integers.
bool operator<(const SeriesEntry& a, const SeriesEntry& b);

struct SeriesState {
  std::vector<SeriesEntry> file_list;  // the series in measuring order
  unsigned current_index = 0;          // index of the current file in file_list
  std::string series_directory;        // the directory as entered, no trailing separator added
  // Carried from one accepted measurement to the next, across files and set-ups.
  // The region of interest in pixels of the whole upright photograph; a width or height of 0
  // means none.
  cv::Rect saved_region_in_photo;
  // The cut-offs in percent, top and bottom; none before the first accepted measurement, when a
  // session starts from its own start values.
  struct CutOffPercents {
    int top = 0;
    int bottom = 0;
  };
  std::optional<CutOffPercents> saved_cut_offs;
  bool saved_dark_object = false;  // binarisation for a dark object on a light ground
};

// The program-wide series.
SeriesState& series_state();

}  // namespace meravel
