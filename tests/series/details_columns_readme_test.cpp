// The README's table of the details file names every column of the column table, in file order,
// so that the documented list cannot drift from what is written.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "series/details_file.h"

using namespace meravel;

namespace {

// The names in backquotes of the first cell of each row of the table under `heading`, in order.
std::vector<std::string> first_column_names(std::istream& markdown, const std::string& heading) {
  std::vector<std::string> names;
  bool in_section = false;
  for (std::string line; std::getline(markdown, line);) {
    if (line.rfind("#", 0) == 0) {
      if (in_section) break;
      in_section = line == heading;
      continue;
    }
    if (!in_section || line.rfind("| `", 0) != 0) continue;
    const std::string cell = line.substr(1, line.find('|', 1) - 1);
    for (size_t open = cell.find('`'); open != std::string::npos;) {
      const size_t close = cell.find('`', open + 1);
      if (close == std::string::npos) break;
      names.push_back(cell.substr(open + 1, close - open - 1));
      open = cell.find('`', close + 1);
    }
  }
  return names;
}

}  // namespace

TEST(DetailsColumnsReadme, FirstColumnNamesOfATableAreReadInOrder) {
  std::istringstream markdown(
      "## Other\n| `not_this` | x |\n### `measures_details.csv`\nText with `code`.\n\n"
      "| column | meaning |\n|---|---|\n| `a` | one |\n| `b`, `c` | two, `not_a_name` |\n"
      "### Next\n| `nor_this` | y |\n");
  EXPECT_EQ(first_column_names(markdown, "### `measures_details.csv`"),
            (std::vector<std::string>{"a", "b", "c"}));
}

TEST(DetailsColumnsReadme, TheReadmeListsEveryColumnInFileOrder) {
  std::ifstream readme(std::string(MERAVEL_TEST_DATA) + "/../../README.md");
  ASSERT_TRUE(readme.good());
  EXPECT_EQ(first_column_names(readme, "### `measures_details.csv`"), kDetailsColumns);
}
