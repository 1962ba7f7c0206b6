#include "batch/batch_command.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "batch/batch_run.h"
#include "batch/withdraw_command.h"
#include "fit/parameter_table.h"

namespace meravel {

namespace {

constexpr int kUsageError = 2;

std::atomic<bool> stop_requested{false};

extern "C" void on_interrupt(int) { stop_requested = true; }

// Ctrl-C while the run goes: the photographs under way are finished and saved, no further one is
// begun. A second Ctrl-C after the first ends the program at once as usual.
class InterruptStop {
 public:
  InterruptStop() {
    stop_requested = false;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptStop() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptStop(const InterruptStop&) = delete;
  InterruptStop& operator=(const InterruptStop&) = delete;

 private:
  struct sigaction previous_ {};
};

std::optional<int> whole_number(const QString& text, int low, int high) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < low || value > high) return std::nullopt;
  return value;
}

// "A,B,..." as `count` whole numbers of at least 0.
std::optional<std::vector<int>> number_list(const QString& text, int count, int high) {
  const QStringList parts = text.split(QLatin1Char(','));
  if (parts.size() != count) return std::nullopt;
  std::vector<int> values;
  for (const QString& part : parts) {
    const std::optional<int> value = whole_number(part.trimmed(), 0, high);
    if (!value) return std::nullopt;
    values.push_back(*value);
  }
  return values;
}

// The parser's help, with the program named as the user types it rather than by the path it was
// started from.
std::string help_text(const QCommandLineParser& parser) {
  QString text = parser.helpText();
  const QString usage = QStringLiteral("Usage: ");
  const int program_end = text.indexOf(QLatin1Char(' '), usage.size());
  if (text.startsWith(usage) && program_end > 0)
    text.replace(0, program_end, usage + QStringLiteral("meravel"));
  return text.toStdString();
}

int usage_error(const QCommandLineParser& parser, const std::string& message) {
  const std::string help = help_text(parser);
  std::cerr << "meravel: " << message << std::endl
            << help.substr(0, help.find('\n')) << std::endl
            << "See 'meravel --help'." << std::endl;
  return kUsageError;
}

// `meravel withdraw DIR POSITION MEASUREMENT [--reason TEXT]`.
int withdraw_command_line() {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Withdraws a measurement without deleting anything: a row in measures_withdrawals.csv that "
      "the batch run and the reports honour. The photograph is named by its position in the "
      "measuring order, as the overview shows it."));
  parser.addPositionalArgument(QStringLiteral("withdraw"), QStringLiteral("The command."));
  parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The series directory."));
  parser.addPositionalArgument(QStringLiteral("POSITION"),
                               QStringLiteral("The photograph's position in the measuring order."));
  parser.addPositionalArgument(
      QStringLiteral("MEASUREMENT"),
      QStringLiteral("Which of its measurements, 1 for the first in measures.csv."));
  const QCommandLineOption reason_option(QStringLiteral("reason"),
                                         QStringLiteral("Why, as free text (default: none)."),
                                         QStringLiteral("TEXT"));
  parser.addOption(reason_option);
  parser.addHelpOption();
  if (!parser.parse(QCoreApplication::arguments())) {
    return usage_error(parser, parser.errorText().toStdString());
  }
  if (parser.isSet(QStringLiteral("help"))) {
    std::cout << parser.helpText().toStdString();
    return 0;
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.size() != 4) {
    return usage_error(parser, "withdraw takes DIR POSITION MEASUREMENT");
  }
  const std::optional<int> position = whole_number(positional[2], 1, 1 << 30);
  const std::optional<int> measurement = whole_number(positional[3], 1, 1 << 30);
  if (!position || !measurement) {
    return usage_error(parser, "POSITION and MEASUREMENT are whole numbers from 1");
  }
  WithdrawRequest request;
  request.directory = QFile::encodeName(positional[1]).toStdString();
  request.position = *position;
  request.measurement = *measurement;
  request.reason = parser.value(reason_option).toStdString();
  return withdraw_measurement(request, std::cout, std::cerr);
}

}  // namespace

bool is_command_line(int argc, char** argv) {
  if (argc < 2) return false;
  for (const char* word : {"fit", "withdraw", "help", "--help", "-h", "--version", "-v"}) {
    if (std::strcmp(argv[1], word) == 0) return true;
  }
  return false;
}

int run_command_line(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // Qt switches the C library to the user's locale: the numbers printed keep the decimal point.
  std::setlocale(LC_NUMERIC, "C");
  QCoreApplication::setApplicationName(QStringLiteral("meravel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(MERAVEL_VERSION));
  if (QCoreApplication::arguments().value(1) == QLatin1String("withdraw")) {
    return withdraw_command_line();
  }

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Measures every photograph of a series without a display, each with the automatic fit (key "
      "a in the window), in the series' blind measuring order. Each fit is saved as ENTER saves "
      "it: a line in measures.csv (file, capture date, measuring date, lambda, energy) and a row "
      "in measures_details.csv (the egg's length, breadth, volume and surface area in pixels, and "
      "in millimetres when the series has a scale, set with key k in the window).\n"
      "Without arguments the program opens its main window, which needs a display.\n"
      "'meravel withdraw DIR POSITION MEASUREMENT' takes a measurement back (see 'meravel "
      "withdraw --help'); 'meravel report DIR' writes the report after the measuring (see "
      "'meravel report --help')."));
  parser.addPositionalArgument(QStringLiteral("fit"), QStringLiteral("The command: fit."));
  parser.addPositionalArgument(
      QStringLiteral("DIR"),
      QStringLiteral("The folder of the series' photographs (.jpg, .JPG); the "
                     "program's files are written beside them."));
  const QCommandLineOption help_option(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                       QStringLiteral("Show this help and end."));
  const QCommandLineOption version_option(
      QStringList{QStringLiteral("v"), QStringLiteral("version")},
      QStringLiteral("Show the program's version and end."));
  const QCommandLineOption threshold_option(
      QStringLiteral("threshold"),
      QStringLiteral("Grey level 0..%1 that tells the object from the ground: brighter pixels "
                     "are the object, and the object measured is the largest outline at it. "
                     "Without it (and without --dark) the program finds the egg by itself with "
                     "its automatic segmentation; %2 with --dark alone.")
          .arg(kThresholdMax)
          .arg(kStartThreshold),
      QStringLiteral("T"), QString::number(kStartThreshold));
  const QCommandLineOption lambda_option(
      QStringLiteral("lambda"),
      QStringLiteral("The shape exponent lambda the fit starts from, 0.001..6, rounded to three "
                     "decimals (default %1; the main window's field holds it times 1000: %2). "
                     "The fit finds lambda itself.")
          .arg(kStartLambda)
          .arg(static_cast<int>(kStartLambda * 1000 + 0.5)),
      QStringLiteral("L"), QString::number(kStartLambda));
  const QCommandLineOption region_option(
      QStringLiteral("region"),
      QStringLiteral("Region of interest X,Y,WIDTH,HEIGHT in pixels of the upright photograph "
                     "(default none)."),
      QStringLiteral("X,Y,W,H"));
  const QCommandLineOption cut_offs_option(
      QStringLiteral("cut-offs"),
      QStringLiteral("Leave the top TOP per cent and the bottom BOTTOM per cent of the object's "
                     "length out of the fit, where a stand or a shadow meets the outline; 0..%1 "
                     "each (default %2,%3).")
          .arg(kCutOffMax)
          .arg(kStartCutOffs.top)
          .arg(kStartCutOffs.bottom),
      QStringLiteral("TOP,BOTTOM"),
      QStringLiteral("%1,%2").arg(kStartCutOffs.top).arg(kStartCutOffs.bottom));
  const QCommandLineOption dark_option(
      QStringLiteral("dark"),
      QStringLiteral("Dark objects on a light ground, as key n of a measurement: the grey image is "
                     "inverted before the threshold; switches the automatic segmentation off as "
                     "--threshold does (default: light objects on a dark ground)."));
  const QCommandLineOption objects_option(
      QStringLiteral("objects"),
      QStringLiteral("one: the egg the automatic segmentation chooses; all: every egg it finds, "
                     "a clutch, each egg its own record, numbered left to right by its centre "
                     "(then top to bottom), eggs that touch cut apart and flagged (default one; "
                     "all needs the automatic segmentation, so neither --threshold nor --dark)."),
      QStringLiteral("one|all"), QStringLiteral("one"));
  const QCommandLineOption jobs_option(
      QStringLiteral("jobs"),
      QStringLiteral("Photographs decoded and fitted at once (default: all cores)."),
      QStringLiteral("N"));
  const QCommandLineOption again_option(
      QStringLiteral("again"),
      QStringLiteral("Measure photographs that have a record already too."));
  const QCommandLineOption again_flagged_option(
      QStringLiteral("again-flagged"),
      QStringLiteral("Measure again only the photographs whose last measurement was flagged (a "
                     "warn_ column 1 or a flags text in measures_details.csv, withdrawn "
                     "measurements left out)."));
  const QCommandLineOption review_option(
      QStringLiteral("review"),
      QStringLiteral("Write the review sheet to FILE.png (default: review.png in DIR, written "
                     "when some fit is flagged)."),
      QStringLiteral("FILE.png"));
  const QCommandLineOption scale_option(
      QStringLiteral("scale"),
      QStringLiteral("Read each photograph's scale from it: auto (a marker of SIZE_MM with "
                     "auto:SIZE_MM if one is found, else a ruler, else none), ruler (millimetre "
                     "ticks), marker:SIZE_MM (a printed square marker's side), disc:DIAMETER_MM "
                     "(a coin or disc), or give PX_PER_MM for every photograph (default: the "
                     "series' scale.csv)."),
      QStringLiteral("HOW"));
  const QCommandLineOption scale_from_option(
      QStringLiteral("scale-from"),
      QStringLiteral("Read the scale from the photograph FILE (as --scale says, auto by default) "
                     "and carry it to every photograph: the same set-up."),
      QStringLiteral("FILE"));
  for (const QCommandLineOption* option :
       {&help_option, &version_option, &threshold_option, &lambda_option, &region_option,
        &cut_offs_option, &dark_option, &objects_option, &jobs_option, &again_option,
        &again_flagged_option, &review_option, &scale_option, &scale_from_option}) {
    parser.addOption(*option);
  }

  if (!parser.parse(QCoreApplication::arguments())) {
    return usage_error(parser, parser.errorText().toStdString());
  }
  if (parser.isSet(help_option) || parser.positionalArguments().value(0) == "help") {
    std::cout << help_text(parser);
    return 0;
  }
  if (parser.isSet(version_option)) {
    std::cout << "meravel " << MERAVEL_VERSION << std::endl;
    return 0;
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.value(0) != QLatin1String("fit")) {
    return usage_error(parser, "unknown command '" + positional.value(0).toStdString() + "'");
  }
  if (positional.size() != 2) return usage_error(parser, "fit takes one series directory");

  BatchSettings settings;
  settings.directory = QFile::encodeName(positional[1]).toStdString();
  if (DIR* listing = opendir(settings.directory.c_str())) {
    closedir(listing);
  } else {
    std::cerr << "meravel: cannot open the series directory " << settings.directory << ": "
              << std::strerror(errno) << std::endl;
    return kUsageError;
  }
  const std::optional<int> threshold =
      whole_number(parser.value(threshold_option), 0, kThresholdMax);
  if (!threshold) {
    return usage_error(parser,
                       "--threshold takes a whole number 0.." + std::to_string(kThresholdMax));
  }
  settings.start.threshold = *threshold;
  bool lambda_ok = false;
  const double lambda = parser.value(lambda_option).toDouble(&lambda_ok);
  if (!lambda_ok || !(lambda > 0.0) || lambda_milli_of(lambda) < 1 ||
      lambda_milli_of(lambda) > kLambdaMilliMax) {
    return usage_error(parser,
                       "--lambda takes a number 0.001.." + std::to_string(kLambdaMilliMax / 1000));
  }
  settings.start.lambda = lambda;
  if (parser.isSet(region_option)) {
    const auto region = number_list(parser.value(region_option), 4, 1 << 30);
    if (!region) return usage_error(parser, "--region takes X,Y,WIDTH,HEIGHT, whole numbers");
    settings.start.region = cv::Rect((*region)[0], (*region)[1], (*region)[2], (*region)[3]);
  }
  const auto cut_offs = number_list(parser.value(cut_offs_option), 2, kCutOffMax);
  if (!cut_offs) {
    return usage_error(
        parser, "--cut-offs takes TOP,BOTTOM, whole numbers 0.." + std::to_string(kCutOffMax));
  }
  settings.start.cut_offs = {(*cut_offs)[0], (*cut_offs)[1]};
  if (parser.isSet(dark_option)) settings.start.polarity = ObjectPolarity::kDarkOnLight;
  // A threshold or polarity given means the object is what that threshold shows.
  settings.automatic_segmentation = !parser.isSet(threshold_option) && !parser.isSet(dark_option);
  const QString objects = parser.value(objects_option);
  if (objects != QStringLiteral("one") && objects != QStringLiteral("all")) {
    return usage_error(parser, "--objects takes one or all");
  }
  settings.every_egg = objects == QStringLiteral("all");
  if (settings.every_egg && !settings.automatic_segmentation) {
    return usage_error(parser,
                       "--objects all finds the eggs by the automatic segmentation: leave out "
                       "--threshold and --dark");
  }
  settings.jobs = std::max(1u, std::thread::hardware_concurrency());
  if (parser.isSet(jobs_option)) {
    const std::optional<int> jobs = whole_number(parser.value(jobs_option), 1, 1024);
    if (!jobs) return usage_error(parser, "--jobs takes a whole number 1..1024");
    settings.jobs = static_cast<unsigned>(*jobs);
  }
  settings.again = parser.isSet(again_option);
  settings.again_flagged = parser.isSet(again_flagged_option);
  if (parser.isSet(review_option)) {
    settings.review_path = QFile::encodeName(parser.value(review_option)).toStdString();
  }

  if (parser.isSet(scale_option)) {
    const std::optional<ScaleRequest> scale =
        parse_scale_request(parser.value(scale_option).toStdString());
    if (!scale) {
      return usage_error(parser,
                         "--scale takes auto, auto:SIZE_MM, ruler, marker:SIZE_MM, "
                         "disc:DIAMETER_MM or a number of pixels per millimetre");
    }
    settings.scale = *scale;
  }
  if (parser.isSet(scale_from_option)) {
    if (settings.scale.kind == ScaleRequest::Kind::given) {
      return usage_error(parser,
                         "--scale-from reads the scale from a photograph: give --scale "
                         "PX_PER_MM or --scale-from, not both");
    }
    settings.scale_from = QFile::encodeName(parser.value(scale_from_option)).toStdString();
  }

  InterruptStop interrupt_stop;
  BatchEnvironment environment{std::cout, std::cerr};
  environment.terminal = isatty(STDERR_FILENO) == 1;
  environment.stop = &stop_requested;
  return batch_exit_status(run_batch(settings, environment));
}

}  // namespace meravel
