// Lines of the random order file, read and written.
#include "series/random_order_file.h"

#include <gtest/gtest.h>

#include <climits>

#include "test_support.h"

using namespace meravel;

TEST(RandomOrderLine, NameEndsAtTheFirstSeparatorAfterPositionZero) {
  struct Case {
    std::string line;
    bool valid;
    std::string name;
    int key;
  } const cases[] = {
      {"IMG_0001.JPG;17421;", true, "IMG_0001.JPG", 17421},
      {"IMG_0001.JPG;17421;\r", true, "IMG_0001.JPG", 17421},
      {"name;12;34;", true, "name", 12},
      {"name;-5;", true, "name", -5},
      {"name; +7;", true, "name", 7},
      {"name;7x;", true, "name", 7},
      {"name;x7;", true, "name", 0},
      {"name;;", true, "name", 0},
      {"n;2147483647;", true, "n", INT_MAX},
      {";lead;3;", true, ";lead", 3},
      {";;4;", true, ";", 4},
      {"name;12", false, "", 0},
      {"name;12\r", false, "", 0},
      {"name", false, "", 0},
      {";", false, "", 0},
      {";;", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    SeriesEntry entry{"unchanged", 99};
    EXPECT_EQ(parse_random_order_line(c.line, entry), c.valid);
    EXPECT_EQ(entry.name, c.valid ? c.name : "unchanged");
    EXPECT_EQ(entry.order_key, c.valid ? c.key : 99);
  }
}

TEST(RandomOrderFile, WritesWholeLinesAndReadsThemBack) {
  TempDirectory dir;
  const std::vector<SeriesEntry> entries = {{"b.jpg", 5}, {"a.JPG", 0}, {"c c.jpg", 2147483647}};
  ASSERT_TRUE(write_random_order_file(dir / "random_order.csv", entries));
  EXPECT_EQ(dir.read("random_order.csv"), "b.jpg;5;\na.JPG;0;\nc c.jpg;2147483647;\n");
  EXPECT_EQ(dir.names(), std::set<std::string>{"random_order.csv"});

  std::vector<SeriesEntry> read_back = {{"stale.jpg", 1}};
  ASSERT_TRUE(read_random_order_file(dir / "random_order.csv", read_back));
  ASSERT_EQ(read_back.size(), 3u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(read_back[i].name, entries[i].name);
    EXPECT_EQ(read_back[i].order_key, entries[i].order_key);
  }
}

TEST(RandomOrderFile, FailuresLeaveNothingBehind) {
  TempDirectory dir;
  EXPECT_FALSE(write_random_order_file(dir / "missing/random_order.csv", {{"a.jpg", 1}}));
  EXPECT_TRUE(dir.names().empty());

  std::vector<SeriesEntry> entries = {{"stale.jpg", 1}};
  EXPECT_FALSE(read_random_order_file(dir / "random_order.csv", entries));
  EXPECT_TRUE(entries.empty());
}
