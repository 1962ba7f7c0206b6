#include "report/report_command.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "report/report_writer.h"

namespace meravel {

namespace {

constexpr int kUsageError = 2;

int usage_error(const std::string& message) {
  std::cerr << "meravel: " << message << std::endl
            << "Usage: meravel report DIR [--out REPORT_DIR]" << std::endl
            << "See 'meravel report --help'." << std::endl;
  return kUsageError;
}

}  // namespace

bool is_report_command(int argc, char** argv) {
  return argc >= 2 && std::strcmp(argv[1], "report") == 0;
}

int run_report_command(int argc, char** argv) {
  // The charts are drawn into images: no window is shown, so no display is needed.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QCoreApplication::setApplicationName(QStringLiteral("meravel"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Writes the report of a measured series: summary.csv (mean, SD and range of every value "
      "per photograph), repeatability.csv (ICC(1,1) with its 95 % interval, within-photograph "
      "SD, CV) and report.html (the tables, plots and review tiles in one file). The report "
      "names the photographs: it unblinds the series."));
  parser.addPositionalArgument(QStringLiteral("report"), QStringLiteral("The command: report."));
  parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The series directory."));
  const QCommandLineOption help_option(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                       QStringLiteral("Show this help and end."));
  const QCommandLineOption out_option(
      QStringLiteral("out"),
      QStringLiteral("The folder the report goes to (default: DIR/unblinded_report)."),
      QStringLiteral("REPORT_DIR"));
  parser.addOption(help_option);
  parser.addOption(out_option);
  if (!parser.parse(QCoreApplication::arguments())) {
    return usage_error(parser.errorText().toStdString());
  }
  if (parser.isSet(help_option)) {
    std::cout << parser.helpText().toStdString();
    return 0;
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.size() != 2) return usage_error("report takes one series directory");
  const std::string directory = QFile::encodeName(positional[1]).toStdString();
  const std::string out = parser.isSet(out_option)
                              ? QFile::encodeName(parser.value(out_option)).toStdString()
                              : default_report_directory(directory);

  const ReportOutcome outcome = write_report(directory, out);
  for (const std::string& note : outcome.notes) std::cout << "Note: " << note << std::endl;
  if (!outcome.written) {
    std::cerr << "meravel: " << outcome.error << std::endl;
    return 1;
  }
  std::cout << "Report written to " << out
            << " (summary.csv, repeatability.csv, report.html). It names the photographs: "
               "the series is unblinded for whoever reads it."
            << std::endl;
  return 0;
}

}  // namespace meravel
