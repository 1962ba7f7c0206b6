// Withdrawing a measurement by position, and the batch run honouring withdrawals and measuring the
// flagged photographs again.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "batch/withdraw_command.h"
#include "batch_test_support.h"
#include "fit/geometry.h"
#include "series/csv_text.h"
#include "series/random_order_file.h"
#include "series/withdrawals_file.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

struct Withdrawn {
  int status;
  std::string out;
  std::string err;
};

Withdrawn withdraw(const std::string& directory, int position, int measurement,
                   const std::string& reason = "") {
  std::ostringstream out, err;
  const int status = withdraw_measurement({directory, position, measurement, reason}, out, err,
                                          fixed_measuring_time);
  return {status, out.str(), err.str()};
}

std::string name_at(const TempDirectory& series, int position) {
  std::vector<SeriesEntry> entries;
  EXPECT_TRUE(read_random_order_file(series.file("random_order.csv"), entries));
  std::stable_sort(entries.begin(), entries.end());
  return entries.at(position - 1).name;
}

}  // namespace

TEST(Withdraw, AppendsOneRowByPositionAndTheNextRunMeasuresThatPhotographAgain) {
  TempDirectory series;
  make_demo_series(series);
  EXPECT_EQ(withdraw(series.path(), 1, 1).status, 2);  // no order yet: nothing to withdraw
  run_batch_on(series.path(), 2);

  const Withdrawn done = withdraw(series.path(), 3, 1, "shadow, taken in");
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out, "Withdrawn: measurement 1 of file 3.\n");
  const std::string expected = "file,measurement,withdrawn_at,reason\n" + name_at(series, 3) +
                               ",1," + iso8601_time(fixed_measuring_time()) +
                               ",\"shadow, taken in\"\n";
  EXPECT_EQ(series.read("measures_withdrawals.csv"), expected);

  const struct {
    int position, measurement, status;
    const char* says;
  } cases[] = {
      {3, 1, 0, "withdrawn already"},
      {9, 1, 2, "the series has 8 photographs"},
      {0, 1, 2, "No file 0"},
      {2, 2, 2, "it has 1 measurement."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    const Withdrawn w = withdraw(series.path(), c.position, c.measurement);
    EXPECT_EQ(w.status, c.status);
    EXPECT_NE((w.out + w.err).find(c.says), std::string::npos) << w.out << w.err;
    EXPECT_EQ((w.out + w.err).find(name_at(series, 3)), std::string::npos);
  }
  EXPECT_EQ(series.read("measures_withdrawals.csv"), expected);

  // The withdrawn measurement is no record: the next run measures that photograph only.
  const BatchRunResult next = run_batch_on(series.path(), 2);
  EXPECT_EQ(next.summary.measured, 1u) << next.progress;
  EXPECT_EQ(next.summary.skipped, 7u);
  EXPECT_NE(next.progress.find("file 3: lambda"), std::string::npos) << next.progress;
}

TEST(Withdraw, AgainFlaggedMeasuresOnlyPhotographsWhoseLastStandingMeasurementWasFlagged) {
  TempDirectory series;
  make_demo_series(series);
  write_cut_object_photo(series.file("IMG_cut.jpg"));
  const BatchRunResult first = run_batch_on(series.path(), 2);
  ASSERT_EQ(first.summary.flagged.size(), 1u) << first.out;
  const unsigned flagged = first.summary.flagged[0].position;

  BatchSettings settings;
  settings.directory = series.path();
  settings.jobs = 2;
  settings.again_flagged = true;
  const auto run_flagged = [&] {
    std::ostringstream out, progress;
    BatchEnvironment environment{out, progress};
    environment.clock = fixed_measuring_time;
    return run_batch(settings, environment);
  };
  const BatchSummary again = run_flagged();
  EXPECT_EQ(again.measured, 1u);
  EXPECT_EQ(again.skipped, 8u);
  ASSERT_EQ(again.flagged.size(), 1u);
  EXPECT_EQ(again.flagged[0].position, flagged);

  // Both of its measurements withdrawn, it has no flagged measurement standing.
  EXPECT_EQ(withdraw(series.path(), flagged, 1).status, 0);
  EXPECT_EQ(withdraw(series.path(), flagged, 2).status, 0);
  const BatchSummary none = run_flagged();
  EXPECT_EQ(none.measured, 0u);
  EXPECT_EQ(none.skipped, 9u);
}
