#include "series/clutch_counts.h"

#include <gtest/gtest.h>

#include "series/file_overview.h"
#include "test_support.h"

using namespace meravel;

namespace {

// A photograph measured as a clutch of three, then as one object, then as a clutch of two; a
// one-egg photograph measured twice; a row of a photograph not in the series. The clutch's three
// measurements are shown with the last one's eggs; the one-egg photograph keeps its count.
TEST(ClutchCounts, AClutchCountsAsItsMeasurementsWithItsEggs) {
  TempDirectory series;
  series.write("measures_details.csv",
               "file,lambda,egg_index,egg_count\n"
               "a.jpg,1.1,1,3\n"
               "a.jpg,1.2,2,3\n"
               "a.jpg,1.3,3,3\n"
               "b.jpg,1.1,,\n"
               "a.jpg,1.1,,\n"
               "a.jpg,1.1,1,2\n"
               "a.jpg,1.2,2,2\n"
               "b.jpg,1.1,,\n"
               "c.jpg,1.1,1,1\n");
  const std::vector<SeriesEntry> entries = {{"a.jpg", 0}, {"b.jpg", 1}};
  const std::vector<ClutchRecords> clutches =
      count_clutch_records(series.file("measures_details.csv"), entries);
  ASSERT_EQ(clutches.size(), 2u);
  EXPECT_EQ(clutches[0].rows, 5);
  EXPECT_EQ(clutches[0].measurements, 2);
  EXPECT_EQ(clutches[0].eggs, 2);
  EXPECT_EQ(clutches[1].rows, 0);

  std::vector<int> eggs;
  const std::vector<int> counts = measurements_with_clutches({6, 2}, clutches, &eggs);
  EXPECT_EQ(counts, (std::vector<int>{3, 2}));
  EXPECT_EQ(eggs, (std::vector<int>{2, 0}));
  EXPECT_EQ(overview_html(counts, 1, {}, eggs),
            "File 1 (3 measures, 2 eggs)<br><b>File 2 (2 measures) &#60;-- </b><br>");
}

TEST(ClutchCounts, NoneWithoutTheEggColumnsOrTheFile) {
  TempDirectory series;
  series.write("old.csv", "file,lambda\na.jpg,1.1\n");
  for (const std::string& path : {series.file("old.csv"), series.file("missing.csv")}) {
    SCOPED_TRACE(path);
    const std::vector<ClutchRecords> clutches = count_clutch_records(path, {{"a.jpg", 0}});
    ASSERT_EQ(clutches.size(), 1u);
    EXPECT_EQ(clutches[0].rows, 0);
  }
}

}  // namespace
