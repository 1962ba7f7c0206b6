#include "series/file_overview.h"

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "series/int_to_text.h"
#include "series/regular_file.h"

namespace meravel {

const char kMeasuresFileName[] = "measures.csv";
const char kOverviewAnchor[] = "hier";

std::vector<int> count_measures(const std::string& measures_path,
                                const std::vector<SeriesEntry>& entries) {
  // One pass over the file for all names instead of one per entry; a name that occurs twice in
  // the series shares its count.
  std::unordered_map<std::string_view, int> count_of_name;
  for (const SeriesEntry& entry : entries) count_of_name.emplace(entry.name, 0);

  if (FILE* file = fopen_regular_file(measures_path)) {
    char* buffer = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&buffer, &capacity, file)) != -1) {
      std::size_t key_length = static_cast<std::size_t>(length);
      if (key_length > 0 && buffer[key_length - 1] == '\n') --key_length;
      if (const void* separator = std::memchr(buffer, ';', key_length))
        key_length = static_cast<std::size_t>(static_cast<const char*>(separator) - buffer);
      auto found = count_of_name.find(std::string_view(buffer, key_length));
      if (found != count_of_name.end()) ++found->second;
    }
    std::free(buffer);
    std::fclose(file);
  }

  std::vector<int> counts;
  counts.reserve(entries.size());
  for (const SeriesEntry& entry : entries) counts.push_back(count_of_name[entry.name]);
  return counts;
}

std::string overview_html(const std::vector<int>& counts, unsigned current_index,
                          const std::vector<std::string>& notices, const std::vector<int>& eggs) {
  std::string html;
  html.reserve(counts.size() * 32 + 64);
  for (const std::string& notice : notices) {
    html += "<b>";
    for (char c : notice) {
      if (c == '<') {
        html += "&#60;";
      } else if (c == '>') {
        html += "&#62;";
      } else if (c == '&') {
        html += "&#38;";
      } else if (c == '"') {
        html += "&#34;";
      } else {
        html += c;
      }
    }
    html += "</b><br>";
  }
  char position[40];
  char count[80];
  for (std::size_t i = 0; i < counts.size(); ++i) {
    int_to_text(static_cast<int>(i + 1), position, 10);
    int_to_text(counts[i], count, 10);
    if (i < eggs.size() && eggs[i] > 0) {
      char egg_count[40];
      int_to_text(eggs[i], egg_count, 10);
      std::strcat(count, " measures, ");
      std::strcat(count, egg_count);
      std::strcat(count, " eggs");
    } else {
      std::strcat(count, " measures");
    }
    // Three lines of context above the current one once the view is scrolled to the anchor.
    if (current_index >= 3 && current_index - 3 == i) {
      html += "<a name =\"";
      html += kOverviewAnchor;
      html += "\"></a>";
    }
    if (i == current_index) {
      html += "<b>File ";
      html += position;
      html += " (";
      html += count;
      html += ") &#60;-- </b><br>";
    } else {
      html += "File ";
      html += position;
      html += " (";
      html += count;
      html += ")<br>";
    }
  }
  return html;
}

}  // namespace meravel
