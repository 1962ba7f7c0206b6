// The report of a large series: 2,000 photographs measured three times each, with every column
// of the details file, a standard error for lambda and a few withdrawals. Reading and computing
// alone is measured beside the whole report (plots, page and files) in the same run.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>
#include <random>

#include "bench_stats.h"
#include "measurement/session_record.h"
#include "report/report_contents.h"
#include "report/report_writer.h"
#include "report/series_records.h"
#include "series/details_file.h"
#include "test_support.h"

using namespace meravel;

namespace {

constexpr int kPhotographs = 2000;
constexpr int kRepeats = 3;

// Writes the series into `dir`; the photographs themselves are absent, as on a machine that
// keeps only the records.
void write_large_series(const TempDirectory& dir) {
  std::mt19937 random(7);
  std::normal_distribution<double> shape(1.25, 0.08);
  std::normal_distribution<double> repeat(0.0, 0.01);
  std::string order;
  std::string measures = "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n";
  std::string details = format_details_header();
  // A stated error of lambda, appended at the end as a later version adds its columns.
  details.insert(details.size() - 1, ",lambda_se");
  std::vector<int> truth(kPhotographs);
  for (int p = 0; p < kPhotographs; ++p) {
    truth[p] = static_cast<int>(shape(random) * 1000);
    order += "IMG_" + std::to_string(10000 + p) + ".jpg;" + std::to_string(random()) + ";\n";
  }
  for (int r = 0; r < kRepeats; ++r) {
    for (int p = 0; p < kPhotographs; ++p) {
      DetailsRecord row;
      row.file = "IMG_" + std::to_string(10000 + p) + ".jpg";
      row.lambda_milli = truth[p] + static_cast<int>(repeat(random) * 1000);
      row.width = 150;
      row.height_px = 800 + p % 50;
      row.rotation_deg = 90;
      row.translation_x_px = 2000;
      row.translation_y_px = 1500;
      set_details_dimensions(row, ScaleLookup{});
      row.scale_source = ScaleSource::series;
      row.px_per_mm = 14.5;
      std::string line = format_details_row(row);
      line.insert(line.size() - 1, ",0.004");
      details += line;
      measures += row.file + ";;2026-12-01 10:00:00;" + std::to_string(row.lambda_milli / 1000.0) +
                  ";0.5;\n";
    }
  }
  dir.write("random_order.csv", order);
  dir.write("measures.csv", measures);
  dir.write("measures_details.csv", details);
  dir.write("measures_withdrawals.csv",
            "file,measurement,withdrawn_at,reason\nIMG_10005.jpg,2,2026-12-02T10:00:00Z,slip\n"
            "IMG_10500.jpg,1,2026-12-02T10:00:00Z,axis\n");
}

const TempDirectory& large_series() {
  static const TempDirectory dir;
  static const bool written = (write_large_series(dir), true);
  (void)written;
  return dir;
}

void BM_ReadAndCompute(benchmark::State& state) {
  const std::string directory = large_series().path();
  for (auto _ : state) {
    const SeriesRecords records = read_series_records(directory);
    benchmark::DoNotOptimize(report_contents(records).used);
  }
}

void BM_WholeReport(benchmark::State& state) {
  const TempDirectory& dir = large_series();
  for (auto _ : state) {
    const ReportOutcome outcome = write_report(dir.path(), dir / "report");
    if (!outcome.written) state.SkipWithError(outcome.error.c_str());
  }
}

}  // namespace

BENCHMARK(BM_ReadAndCompute)->Unit(benchmark::kMillisecond)->Apply([](auto* b) {
  with_min_max(b);
});
BENCHMARK(BM_WholeReport)->Unit(benchmark::kMillisecond)->Apply([](auto* b) { with_min_max(b); });

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
