// Rebuilding the file overview of a large series: 10,000 files, a measures file of 50,000 lines.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTextBrowser>
#include <cstdlib>
#include <random>

#include "app/myqtapp.h"
#include "app/overview_view.h"
#include "bench_stats.h"
#include "series/file_overview.h"
#include "series/series_state.h"
#include "test_support.h"

using namespace meravel;

namespace {

constexpr int kFiles = 10000;
constexpr int kMeasureLines = 50000;

// A series directory whose measures file holds records of the series' files and of others, in
// random order, behind the header.
struct LargeSeries {
  TempDirectory dir;
  std::vector<SeriesEntry> entries;

  LargeSeries() {
    std::mt19937 random(2012);
    for (int i = 0; i < kFiles; ++i)
      entries.push_back({"IMG_" + std::to_string(10000 + i) + ".JPG", static_cast<int>(random())});
    std::string text = "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n";
    std::uniform_int_distribution<int> file(0, kFiles * 6 / 5);
    for (int i = 1; i < kMeasureLines; ++i)
      text += "IMG_" + std::to_string(10000 + file(random)) +
              ".JPG;2012-04-01 18:00:00;2012-04-02 09:05:03;1.1;3.45679;\n";
    dir.write("measures.csv", text);
  }
};

void add_min_max(benchmark::internal::Benchmark* benchmark) { with_min_max(benchmark); }

LargeSeries& large_series() {
  static LargeSeries series;
  return series;
}

void BM_CountAndBuildHtml(benchmark::State& state) {
  LargeSeries& series = large_series();
  const std::string path = series.dir / "measures.csv";
  for (auto _ : state) {
    std::string html = overview_html(count_measures(path, series.entries), 5000);
    benchmark::DoNotOptimize(html.data());
  }
}
BENCHMARK(BM_CountAndBuildHtml)->Unit(benchmark::kMillisecond)->Apply(add_min_max);

// The whole rebuild as the window does it: counts, HTML, the overview put into the text browser
// and laid out, the scroll to the anchor.
void BM_UpdateFileList(benchmark::State& state) {
  LargeSeries& series = large_series();
  SeriesState& series_state_ref = series_state();
  series_state_ref.file_list = series.entries;
  series_state_ref.series_directory = series.dir.path();
  series_state_ref.current_index = 5000;
  myQtApp window;
  window.show();
  QApplication::processEvents();
  for (auto _ : state) {
    window.update_file_list();
    QApplication::processEvents();
  }
}
BENCHMARK(BM_UpdateFileList)->Unit(benchmark::kMillisecond)->Apply(add_min_max);

// Showing the same 10,000-line HTML in the window's text browser: Qt's HTML import (one block of
// 10,000 lines) against the overview's own import (one block per line), with the layout of the
// whole document and the scroll to the anchor in both.
void show_in_window(benchmark::State& state, bool qt_import) {
  const std::string html = overview_html(
      count_measures(large_series().dir / "measures.csv", large_series().entries), 5000);
  myQtApp window;
  window.show();
  QApplication::processEvents();
  QTextBrowser* browser =
      window.findChild<QTextBrowser*>(QStringLiteral("textBrowser_file_overview"));
  for (auto _ : state) {
    if (qt_import) {
      browser->clear();
      browser->setHtml(QString::fromLatin1(html.data(), static_cast<int>(html.size())));
    } else {
      show_overview_html(browser, html);
    }
    browser->scrollToAnchor(QString::fromLatin1(kOverviewAnchor));
    QApplication::processEvents();
  }
}
void BM_ShowHtml_QtImport(benchmark::State& state) { show_in_window(state, true); }
void BM_ShowHtml_OverviewImport(benchmark::State& state) { show_in_window(state, false); }
BENCHMARK(BM_ShowHtml_QtImport)->Unit(benchmark::kMillisecond)->Apply(add_min_max);
BENCHMARK(BM_ShowHtml_OverviewImport)->Unit(benchmark::kMillisecond)->Apply(add_min_max);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
