// The report's page: one HTML file with everything in it (pictures as data: URIs, no script, no
// link out), so that it opens from a USB stick in any browser.
#pragma once

#include <string>
#include <vector>

#include "report/report_contents.h"

namespace meravel {

// A PNG picture with its size in pixels; `id` names its <img> element.
struct PagePicture {
  std::string id;
  std::string title;
  std::string png;  // the PNG file's bytes
  int width = 0;
  int height = 0;
};

// The page of `contents` for the series in `series_directory`: the unblinding notice, the notes,
// the counts, the repeatability table, `plots`, the photographs' table (id "summary") and the
// review `tiles` of the photographs whose repeats disagree.
std::string report_page(const ReportContents& contents, const std::string& series_directory,
                        const std::vector<PagePicture>& plots,
                        const std::vector<PagePicture>& tiles);

// `text` with &, <, > and " written as entities.
std::string html_text(const std::string& text);

}  // namespace meravel
