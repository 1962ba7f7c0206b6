// Record files as saves leave them, for tests that start from a series with records: the details
// file that goes with measures.csv lines written by hand (a save refuses files out of step).
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "series/details_file.h"

using namespace meravel;

// Writes the details file at `path` with the header and one row for each of `names`, in order.
inline void write_details_rows(const std::string& path, const std::vector<std::string>& names) {
  std::string text = format_details_header();
  for (const std::string& name : names) {
    DetailsRecord record;
    record.file = name;
    text += format_details_row(record);
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
