#include "report/report_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "batch/review_sheet.h"
#include "report/report_contents.h"
#include "report/report_page.h"
#include "report/report_plots.h"
#include "report/series_records.h"

namespace meravel {

const char kSummaryFileName[] = "summary.csv";
const char kRepeatabilityFileName[] = "repeatability.csv";
const char kReportPageName[] = "report.html";

namespace {

PagePicture picture_of(const std::string& id, const std::string& title, const QImage& image) {
  const QByteArray png = png_bytes(image);
  return {id, title, png.toStdString(), image.width(), image.height()};
}

std::vector<PagePicture> plots_of(const ReportContents& c) {
  std::vector<double> lambdas;
  std::vector<QPointF> by_length;
  const bool mm = std::find(c.values.begin(), c.values.end(), "length_mm") != c.values.end();
  const std::string length = mm ? "length_mm" : "length_px";
  for (const PhotographRow& row : c.photographs) {
    for (const RecordedMeasurement* m : row.used) {
      const auto lambda = m->values.find("lambda");
      if (lambda == m->values.end()) continue;
      lambdas.push_back(lambda->second);
      if (const auto l = m->values.find(length); l != m->values.end())
        by_length.emplace_back(l->second, lambda->second);
    }
  }
  std::vector<QPointF> pairs;
  for (const RepeatPair& pair : c.lambda_pairs) pairs.emplace_back(pair.mean, pair.difference);
  const QString length_title = mm ? QStringLiteral("length (mm)") : QStringLiteral("length (px)");
  return {
      picture_of("plot-histogram", "Histogram of lambda, every measurement used",
                 histogram_plot(lambdas, QStringLiteral("lambda"), QStringLiteral("lambda"))),
      picture_of("plot-length",
                 by_length.empty() ? "Lambda against length: no length in the records"
                                   : "Lambda against length, every measurement used",
                 scatter_plot(by_length, QStringLiteral("lambda against length"), length_title,
                              QStringLiteral("lambda"))),
      picture_of("plot-differences",
                 pairs.empty() ? "Repeat differences of lambda: no repeats"
                               : "Repeat differences of lambda with the limits of agreement",
                 difference_plot(pairs, c.lambda_agreement,
                                 QStringLiteral("repeat differences of lambda"))),
  };
}

// The review tiles of the measurements of each photograph whose repeats disagree.
std::vector<PagePicture> tiles_of(const ReportContents& c, const std::string& directory,
                                  std::vector<std::string>& notes) {
  std::vector<PagePicture> tiles;
  int photographs = 0;
  int left_out = 0;
  int unreadable = 0;
  for (const PhotographRow& row : c.photographs) {
    if (!row.disagrees) continue;
    if (++photographs > kMostTiledPhotographs) {
      ++left_out;
      continue;
    }
    const bool has_fit = std::any_of(row.used.begin(), row.used.end(),
                                     [](const RecordedMeasurement* m) { return m->model; });
    if (!has_fit) continue;  // without the details there is no fit to draw
    const std::string path = directory + "/" + row.file;
    const cv::Mat photograph = QFile::exists(QFile::decodeName(path.c_str()))
                                   ? cv::imread(path, cv::IMREAD_COLOR)
                                   : cv::Mat();
    if (photograph.empty()) {
      ++unreadable;
      continue;
    }
    for (const RecordedMeasurement* m : row.used) {
      if (!m->model) continue;
      cv::Mat seen = photograph;
      const cv::Rect roi(m->roi_x_px, m->roi_y_px, m->roi_width_px, m->roi_height_px);
      if (roi.area() > 0 && (roi & cv::Rect(0, 0, photograph.cols, photograph.rows)) == roi) {
        seen = photograph(roi);
      }
      const cv::Mat tile = review_picture(seen, {}, *m->model, m->cut_offs);
      std::vector<unsigned char> png;
      cv::imencode(".png", tile, png);
      const auto lambda = m->values.find("lambda");
      tiles.push_back({"tile-" + std::to_string(tiles.size() + 1),
                       row.file + ", measurement " + std::to_string(m->number) +
                           (lambda == m->values.end()
                                ? std::string()
                                : ", lambda " + QString::number(lambda->second).toStdString()),
                       std::string(png.begin(), png.end()), tile.cols, tile.rows});
    }
  }
  if (left_out > 0) {
    notes.push_back(std::to_string(left_out) +
                    " more photograph(s) whose repeats disagree have "
                    "no tile on the page; summary.csv lists every photograph.");
  }
  return tiles;
}

// Replaces `path` with `bytes` whole, or leaves it as it was and says why.
bool write_whole(const QString& path, const std::string& bytes, std::string& error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.commit()) {
    error = "Cannot write " + QFile::encodeName(path).toStdString() + ": " +
            file.errorString().toStdString();
    return false;
  }
  return true;
}

}  // namespace

std::string default_report_directory(const std::string& series_directory) {
  return series_directory + "/unblinded_report";
}

ReportOutcome write_report(const std::string& series_directory,
                           const std::string& report_directory) {
  ReportOutcome outcome;
  if (!QFileInfo(QFile::decodeName(series_directory.c_str())).isDir()) {
    outcome.error = series_directory + " is not a directory";
    return outcome;
  }
  const SeriesRecords records = read_series_records(series_directory);
  ReportContents contents = report_contents(records);
  const std::vector<PagePicture> plots = plots_of(contents);
  const std::vector<PagePicture> tiles = tiles_of(contents, series_directory, contents.notes);
  outcome.notes = contents.notes;

  const QString out = QFile::decodeName(report_directory.c_str());
  if (!QDir().mkpath(out)) {
    outcome.error = "Cannot make the folder " + report_directory;
    return outcome;
  }
  const QDir folder(out);
  outcome.page = QFile::encodeName(folder.filePath(kReportPageName)).toStdString();
  outcome.written =
      write_whole(folder.filePath(kSummaryFileName), summary_csv(contents), outcome.error) &&
      write_whole(folder.filePath(kRepeatabilityFileName), repeatability_csv(contents),
                  outcome.error) &&
      write_whole(folder.filePath(kReportPageName),
                  report_page(contents, series_directory, plots, tiles), outcome.error);
  return outcome;
}

}  // namespace meravel
