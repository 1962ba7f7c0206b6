#include "batch/batch_run.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "batch/clutch_fit.h"
#include "batch/flagged_records.h"
#include "batch/left_out_files.h"
#include "batch/photograph_fit.h"
#include "batch/progress.h"
#include "batch/quality_flags.h"
#include "batch/review_sheet.h"
#include "measurement/session_record.h"
#include "series/details_file.h"
#include "series/file_overview.h"
#include "series/measurement_save.h"
#include "series/photo_file.h"
#include "series/scale_file.h"
#include "series/series_lock.h"
#include "series/series_state.h"
#include "series/withdrawals_file.h"

namespace meravel {

namespace {

// A photograph measured as one object, as the fits of a clutch of it.
ClutchPhotographFit one_object(PhotographFit fit) {
  ClutchPhotographFit one;
  if (fit.measured()) {
    one.eggs.push_back(std::move(fit));
  } else {
    one.failure = std::move(fit.failure);
  }
  return one;
}

// The photographs to measure, fitted by `jobs` threads in parallel while the caller takes the
// results in order. A thread takes the next photograph only while no stop is requested.
class FitQueue {
 public:
  FitQueue(std::vector<std::string> paths, const SessionStart& start, bool automatic,
           bool every_egg, const ScaleRequest& scale, unsigned jobs, const std::atomic<bool>* stop)
      : paths_(std::move(paths)),
        start_(start),
        automatic_(automatic),
        every_egg_(every_egg),
        scale_(scale),
        stop_(stop),
        results_(paths_.size()) {
    const unsigned threads = std::max(1u, std::min<unsigned>(jobs, paths_.size()));
    running_ = threads;
    for (unsigned t = 0; t < threads; ++t) threads_.emplace_back([this] { work(); });
  }
  ~FitQueue() {
    abandon_ = true;
    for (std::thread& thread : threads_) thread.join();
  }
  FitQueue(const FitQueue&) = delete;
  FitQueue& operator=(const FitQueue&) = delete;

  // The fits of photograph `index`, waiting for them; nothing when it was never started (a stop).
  std::optional<ClutchPhotographFit> take(size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return results_[index].has_value() || running_ == 0; });
    std::optional<ClutchPhotographFit> fit = std::move(results_[index]);
    results_[index].reset();
    return fit;
  }

 private:
  bool stop_requested() const { return abandon_ || (stop_ && stop_->load()); }

  void work() {
    std::ostringstream errors;  // the automatic fit's messages of candidates without points
    while (!stop_requested()) {
      const size_t index = next_++;
      if (index >= paths_.size()) break;
      ClutchPhotographFit fit =
          every_egg_
              ? fit_clutch_photograph(paths_[index], start_, true, errors, scale_)
              : one_object(fit_photograph(paths_[index], start_, true, errors, automatic_, scale_));
      errors.str(std::string());
      std::lock_guard<std::mutex> lock(mutex_);
      results_[index] = std::move(fit);
      done_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    done_.notify_all();
  }

  const std::vector<std::string> paths_;
  const SessionStart start_;
  const bool automatic_;
  const bool every_egg_;
  const ScaleRequest scale_;
  const std::atomic<bool>* stop_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> abandon_{false};
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<std::optional<ClutchPhotographFit>> results_;
  unsigned running_ = 0;
  std::vector<std::thread> threads_;
};

// The line with the photograph's path taken out: a blind run names photographs by position only.
std::string without_path(std::string line, const std::string& path) {
  for (size_t at; !path.empty() && (at = line.find(path)) != std::string::npos;) {
    const size_t from = at > 0 && line[at - 1] == ' ' ? at - 1 : at;
    line.erase(from, at + path.size() - from);
  }
  return line;
}

// The lines a save writes for a photograph without a capture date (report_missing_capture_date).
bool is_capture_date_note(const std::string& line) {
  return line.rfind("File not readable or no EXIF data in file ", 0) == 0 ||
         line == "Exif entry not found!";
}

// The phrase a batch run flags a fit with for the warning `flag`.
const char* warning_text(bool FitWarnings::*flag) {
  for (const FitWarningKind& kind : fit_warning_kinds()) {
    if (kind.flag == flag) return kind.batch_text;
  }
  return "";
}

// The scale of `details`: `scale` when found (carried from the photograph `from` when that is
// not empty), else none, so that scale.csv is not used either; its doubts join `held` and
// `warnings`.
void record_scale(DetailsRecord& details, FitWarnings& held, const ScaleReading& scale,
                  const std::string& from, std::vector<std::string>& warnings) {
  if (!scale.found()) {
    details.scale_method = scale_method_name(ScaleMethod::none);
    details.scale_source = ScaleSource::none;
    return;
  }
  const bool carried = !from.empty();
  details.scale_method = scale_method_name(carried ? ScaleMethod::carried : scale.method);
  details.scale_source =
      carried || scale.method == ScaleMethod::given ? ScaleSource::series : ScaleSource::photograph;
  details.px_per_mm = scale.px_per_mm;
  details.px_per_mm_se = scale.px_per_mm_se;
  details.scale_from = from;
  held.scale_spacing_varies = scale.spacing_varies;
  held.scale_steep_angle = scale.steep_angle;
  if (scale.spacing_varies) warnings.push_back(warning_text(&FitWarnings::scale_spacing_varies));
  if (scale.steep_angle) warnings.push_back(warning_text(&FitWarnings::scale_steep_angle));
}

// The median of `values` (the lower middle one of an even count).
double median_of(std::vector<double> values) {
  const size_t middle = (values.size() - 1) / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  return values[middle];
}

// The scale carried from the photograph `path` for the series `series`, and the source as the
// details record it: its position in the measuring order, or its path when it is none of the
// series. Not found: the line saying why.
struct CarriedScale {
  ScaleReading reading;
  std::string from;
  std::string problem;
};

CarriedScale carried_scale(const std::string& path, ScaleRequest request,
                           const SeriesState& series) {
  CarriedScale carried;
  if (request.kind == ScaleRequest::Kind::none) request.kind = ScaleRequest::Kind::automatic;
  const PhotographFile source = load_photograph_file(path);
  if (source.status != PhotographFile::loaded) {
    carried.problem = source.message;
    return carried;
  }
  cv::Mat grey;
  cv::cvtColor(source.image, grey, cv::COLOR_BGR2GRAY);
  carried.reading = read_scale(grey, request);
  if (!carried.reading.found()) {
    carried.problem = "No scale found in " + path + " (" + carried.reading.note + ")";
    return carried;
  }
  std::error_code error;
  const std::filesystem::path wanted = std::filesystem::weakly_canonical(path, error);
  carried.from = path;
  for (size_t i = 0; i < series.file_list.size(); ++i) {
    const std::filesystem::path member = std::filesystem::weakly_canonical(
        series.series_directory + "/" + series.file_list[i].name, error);
    if (!error && member == wanted) carried.from = std::to_string(i + 1);
  }
  return carried;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

// The series set up exactly like "Read!" (its own lines are those "Read!" prints), with its lock
// taken (one held by another instance is said) and its record files opened: a save cut short is
// taken back, and files that no save may append to stop the run before hours of fitting are
// spent. False, with `summary` saying why, when nothing is to be measured.
bool open_series(const BatchSettings& settings, BatchEnvironment& environment, SeriesState& series,
                 SeriesLock& series_lock, BatchSummary& summary) {
  const SetupOutcome outcome = set_up_series(series, settings.directory, environment.seed);
  // An order file that lists no photograph (empty, or no line of its form) is no series either.
  if ((outcome != SetupOutcome::complete && outcome != SetupOutcome::complete_order_not_stored) ||
      series.file_list.empty()) {
    environment.progress << "No photographs to measure in " << settings.directory << std::endl;
    return false;
  }
  summary.series_found = true;
  if (outcome == SetupOutcome::complete_order_not_stored) {
    environment.progress << "The measuring order is not stored (random_order.csv cannot be "
                            "written): it will change at the next run."
                         << std::endl;
  }
  if (series_lock.acquire(series.series_directory) == SeriesLock::State::held_by_other) {
    const long other = series_lock.other_process_id();
    environment.progress << "This series is open in another instance of the program too"
                         << (other > 0 ? " (process " + std::to_string(other) + ")" : "")
                         << ": both save, one record after the other." << std::endl;
  }
  const std::string& directory = series.series_directory;
  const SeriesRecords records = open_series_records(directory);
  for (const std::string& file : records.rolled_back) {
    environment.progress << "An unfinished save was taken back from " << file << "." << std::endl;
  }
  if (!records.problem.empty()) {
    summary.records_problem = records.problem;
    environment.progress << "Nothing is measured: " << records.problem << std::endl;
    return false;
  }
  summary.left_out = count_left_out_files(regular_file_names(directory));
  return true;
}

// The scale, settled before anything is measured: a scale asked for and not to be had, or a
// scale.csv that cannot be used, stops the run (false, summary.scale_refused), rather than leaving
// millimetres out unnoticed. A scale carried from another photograph goes to `carried`.
bool settle_scale(const BatchSettings& settings, const SeriesState& series,
                  BatchEnvironment& environment, std::optional<CarriedScale>& carried,
                  BatchSummary& summary) {
  if (!settings.scale_from.empty()) {
    carried = carried_scale(settings.scale_from, settings.scale, series);
    if (!carried->problem.empty()) {
      environment.progress << carried->problem << ": nothing was measured." << std::endl;
      summary.scale_refused = true;
      return false;
    }
    environment.out << "Scale carried from " << settings.scale_from << ": "
                    << format_measure_number(carried->reading.px_per_mm) << " px/mm ("
                    << scale_method_name(carried->reading.method) << ")." << std::endl;
  } else if (settings.scale.kind == ScaleRequest::Kind::none) {
    const ScaleFile scale_file = read_scale_file(series.series_directory + "/" + kScaleFileName);
    if (!scale_file.problem.empty()) {
      environment.progress << scale_file.problem << std::endl
                           << "Nothing was measured: correct or remove it, or give --scale."
                           << std::endl;
      summary.scale_refused = true;
      return false;
    }
  }
  return true;
}

// The photographs a run measures, in measuring order: their 1-based places in it, their paths,
// and how often measures.csv listed each (a save finds the same count, or another run has saved
// it meanwhile).
struct PhotographsToMeasure {
  std::vector<unsigned> positions;
  std::vector<std::string> paths;
  std::vector<int> records_at_start;
};

// Those without a standing record (every one with --again; with --again-flagged only those whose
// last standing measurement was flagged); the others are counted as skipped, in one line.
PhotographsToMeasure photographs_to_measure(const BatchSettings& settings,
                                            const SeriesState& series,
                                            BatchEnvironment& environment, BatchSummary& summary) {
  const std::string& directory = series.series_directory;
  const std::vector<int> counts =
      count_measures(directory + "/" + kMeasuresFileName, series.file_list);
  // A withdrawn measurement is no record: its photograph is measured again.
  const std::set<std::pair<std::string, int>> withdrawn =
      read_withdrawals(directory + "/" + kWithdrawalsFileName);
  const StandingRecords standing =
      withdrawn.empty() && !settings.again_flagged
          ? StandingRecords()
          : standing_records(directory + "/" + kDetailsFileName, withdrawn);
  PhotographsToMeasure chosen;
  for (size_t i = 0; i < series.file_list.size(); ++i) {
    const std::string& name = series.file_list[i].name;
    int records = counts[i];
    if (!withdrawn.empty()) {
      const auto found = standing.standing.find(name);
      records = found == standing.standing.end() ? 0 : std::min(counts[i], found->second);
    }
    const bool skip = settings.again_flagged ? standing.last_flagged.count(name) == 0
                                             : records > 0 && !settings.again;
    if (skip) {
      ++summary.skipped;
      continue;
    }
    chosen.positions.push_back(static_cast<unsigned>(i + 1));
    chosen.paths.push_back(directory + "/" + series.file_list[i].name);
    chosen.records_at_start.push_back(counts[i]);
  }
  if (summary.skipped > 0 && settings.again_flagged) {
    environment.progress << summary.skipped << " of " << series.file_list.size()
                         << " photographs have no flagged measurement and are skipped."
                         << std::endl;
  } else if (summary.skipped > 0) {
    environment.progress << summary.skipped << " of " << series.file_list.size()
                         << " photographs have a record already and are skipped (--again "
                            "measures them again)."
                         << std::endl;
  }
  return chosen;
}

// What the eggs saved in a run leave for the series-wide checks and the review sheet: one entry
// per egg saved, in measuring order.
struct SavedFits {
  std::vector<ReviewTile> tiles;
  std::vector<double> energies;
  std::vector<double> read_scales;  // px/mm read from each tile's photograph, 0 when none
  std::vector<std::vector<std::string>> warnings;
};

// What every save of a run reads and adds to.
struct RunContext {
  const BatchSettings& settings;
  BatchEnvironment& environment;
  const SeriesState& series;
  const std::optional<CarriedScale>& carried;
  bool scale_asked;
  Progress& progress;
  BatchSummary& summary;
  SavedFits& saved;
};

enum class EggSave { saved, failed, saved_meanwhile };

// The details row of one egg's fit of the photograph `name`, as ENTER writes it: the fit's
// warnings as its flags, the scale asked for (the line saying why there is none goes to the
// progress, `file` naming the egg), the egg's place in its clutch.
DetailsRecord egg_details(RunContext& run, PhotographFit& fit, const std::string& name,
                          const std::string& file, FitWarnings& held) {
  DetailsRecord details = details_record_of(fit.result, name);
  details.uncertainty = details_uncertainty_of(fit.uncertainty);
  held = fit.result.warnings;
  const ScaleReading& scale = run.carried ? run.carried->reading : fit.scale;
  if (run.scale_asked) {
    record_scale(details, held, scale, run.carried ? run.carried->from : "", fit.warnings);
    if (!scale.found()) run.progress.message(file + ": " + scale_not_found_line(scale));
  }
  details.warnings_held = held_warning_columns(held);
  details.flags = joined(fit.warnings);
  details.egg_index = fit.egg_index;
  details.egg_count = fit.egg_count;
  details.egg_centre_px = fit.egg_centre_px;
  details.egg_box_px = fit.egg_box_px;
  return details;
}

// One photograph of the run: its 1-based place in the measuring order, its path (left out of its
// lines), how often measures.csv listed it at the start, and how many of its eggs this run saved.
struct PhotographToSave {
  unsigned position = 0;
  const std::string& path;
  int records_at_start = 0;
  int saved_here = 0;
};

// Saves one egg's fit of `photograph` when measures.csv lists the photograph as often as at the
// start and with the eggs saved before it (any count with --again). Its lines go to the progress,
// `done` ending them; a saved egg joins run.saved.
EggSave save_egg(RunContext& run, PhotographFit& fit, const PhotographToSave& photograph,
                 const std::string& file, const std::function<void(const std::string&)>& done) {
  const unsigned position = photograph.position;
  const std::string& path = photograph.path;
  if (!fit.measured()) {
    run.progress.message(file + ": " + without_path(fit.failure, path));
    done(file + ": failed");
    return EggSave::failed;
  }
  const std::string& name = run.series.file_list[position - 1].name;
  FitWarnings held;
  const DetailsRecord details = egg_details(run, fit, name, file, held);
  std::ostringstream notes;  // the capture date's lines, as ENTER prints them
  const AppendOutcome saved = save_measurement_with_details(
      run.series.series_directory, fit.capture_date, fit.result.lambda, details, notes,
      run.environment.clock, posix_file_operations(),
      run.settings.again
          ? SaveIf::always()
          : SaveIf::records_unchanged(photograph.records_at_start + photograph.saved_here));
  if (saved.already_measured) {
    run.progress.step(file + ": skipped, another run saved it meanwhile");
    return EggSave::saved_meanwhile;
  }
  // A missing capture date is common (most cameras' exports, scans) and harmless: it is counted
  // for the summary instead of a line each, whose path would name the photograph beside its
  // position.
  if (photograph.saved_here == 0 && fit.capture_date.status != CaptureDate::found)
    ++run.summary.no_capture_date;
  std::istringstream note_lines(notes.str());
  for (std::string line; std::getline(note_lines, line);) {
    if (is_capture_date_note(line)) continue;
    run.progress.message(file + ": " + line);
  }
  if (!saved.saved) {
    run.progress.message(file + ": " + saved.failure);
    done(file + ": failed");
    return EggSave::failed;
  }
  ++run.summary.eggs_measured;
  const ScaleReading& scale = run.carried ? run.carried->reading : fit.scale;
  std::ostringstream line;
  line << file << ": lambda " << format_measure_number(fit.result.lambda) << ", energy "
       << format_measure_number(fit.result.energy)
       << (run.scale_asked && scale.found() ? ", " + format_measure_number(scale.px_per_mm) +
                                                  " px/mm (" + details.scale_method + ")"
                                            : "")
       << (fit.warnings.empty() ? "" : " (" + joined(fit.warnings) + ")");
  done(line.str());
  run.saved.tiles.push_back({static_cast<int>(position), std::move(fit.review_picture), false,
                             warning_short_names(held), fit.egg_index});
  run.saved.energies.push_back(fit.result.energy);
  const bool read_here = !run.carried && scale.found() && scale.method != ScaleMethod::given;
  run.saved.read_scales.push_back(read_here ? scale.px_per_mm : 0.0);
  run.saved.warnings.push_back(std::move(fit.warnings));
  return EggSave::saved;
}

// Saves the eggs of one photograph's fits, each its own record after those saved before it, and
// counts the photograph: measured when any egg of it was saved, skipped when another run saved it
// meanwhile, else failed.
void save_photograph(RunContext& run, ClutchPhotographFit& fits, PhotographToSave photograph) {
  BatchSummary& summary = run.summary;
  const std::string photograph_file = "file " + std::to_string(photograph.position);
  if (!fits.failure.empty()) {
    ++summary.failed;
    run.progress.message(photograph_file + ": " + without_path(fits.failure, photograph.path));
    run.progress.step(photograph_file + ": failed");
    return;
  }
  if (fits.cut_by_border > 0) {
    run.progress.message(photograph_file + ": " + std::to_string(fits.cut_by_border) +
                         (fits.cut_by_border == 1 ? " egg" : " eggs") +
                         " cut by the border left out, not measured");
  }
  int failed_here = 0;
  bool saved_meanwhile = false;
  const size_t egg_count = fits.eggs.size();
  for (size_t e = 0; e < egg_count && !saved_meanwhile; ++e) {
    PhotographFit& fit = fits.eggs[e];
    const std::string file =
        photograph_file + (fit.egg_count > 0 ? "." + std::to_string(fit.egg_index) : "");
    // The photograph's last egg moves the progress on; the others are lines of their own.
    const auto done = [&](const std::string& line) {
      if (e + 1 == egg_count) {
        run.progress.step(line);
      } else {
        run.progress.message(line);
      }
    };
    switch (save_egg(run, fit, photograph, file, done)) {
      case EggSave::saved:
        ++photograph.saved_here;
        break;
      case EggSave::failed:
        ++failed_here;
        break;
      case EggSave::saved_meanwhile:
        saved_meanwhile = true;
        break;
    }
  }
  if (saved_meanwhile && photograph.saved_here == 0) {
    ++summary.skipped;
  } else if (photograph.saved_here > 0) {
    ++summary.measured;
  } else if (failed_here > 0) {
    ++summary.failed;
  }
  if (photograph.saved_here > 0 && failed_here > 0) summary.eggs_failed += failed_here;
}

// Fits the photographs `chosen` in parallel and saves them in measuring order, until a stop
// leaves the rest not started.
void measure_photographs(RunContext& run, const PhotographsToMeasure& chosen) {
  const BatchSettings& settings = run.settings;
  const std::vector<std::string>& paths = chosen.paths;
  FitQueue queue(paths, settings.start, settings.automatic_segmentation, settings.every_egg,
                 run.carried ? ScaleRequest{} : settings.scale, settings.jobs,
                 run.environment.stop);
  for (size_t k = 0; k < paths.size(); ++k) {
    std::optional<ClutchPhotographFit> fits = queue.take(k);
    if (!fits) {
      run.summary.not_started = paths.size() - k;
      return;
    }
    save_photograph(run, *fits, {chosen.positions[k], paths[k], chosen.records_at_start[k], 0});
  }
}

// The checks against the whole series, once every fit is saved: an energy far above the series'
// median, a scale read far from the median of those read (three at least). A fit with any warning
// is flagged on its tile and in the summary.
void flag_against_series(SavedFits& saved, BatchSummary& summary) {
  std::vector<ReviewTile>& tiles = saved.tiles;
  std::vector<std::vector<std::string>>& warnings = saved.warnings;
  const std::vector<double>& read_scales = saved.read_scales;
  const std::vector<bool> far_above = far_above_series_median(saved.energies);
  std::vector<double> found_scales;
  for (double px_per_mm : read_scales) {
    if (px_per_mm > 0) found_scales.push_back(px_per_mm);
  }
  const double median_scale = found_scales.size() >= 3 ? median_of(found_scales) : 0.0;
  for (size_t t = 0; t < tiles.size(); ++t) {
    if (far_above[t]) {
      warnings[t].push_back(kFarAboveMedianWarning);
      tiles[t].flags.push_back("energy vs median");
    }
    if (median_scale > 0 && read_scales[t] > 0 &&
        std::abs(read_scales[t] / median_scale - 1) > kScaleMedianTolerance) {
      warnings[t].push_back(warning_text(&FitWarnings::scale_off_series_median));
      for (const FitWarningKind& kind : fit_warning_kinds()) {
        if (kind.flag == &FitWarnings::scale_off_series_median)
          tiles[t].flags.push_back(kind.short_name);
      }
    }
    if (warnings[t].empty()) continue;
    tiles[t].flagged = true;
    summary.flagged.push_back(
        {static_cast<unsigned>(tiles[t].position), warnings[t], tiles[t].egg});
  }
}

// The review sheet of `tiles`: at --review's path, or review.png in the series when a fit is
// flagged; none without a tile. A sheet that cannot be written is said and the run goes on.
void write_review(const BatchSettings& settings, const std::string& directory,
                  const std::vector<ReviewTile>& tiles, BatchEnvironment& environment,
                  BatchSummary& summary) {
  std::string review_path = settings.review_path;
  if (review_path.empty() && !summary.flagged.empty()) review_path = directory + "/review.png";
  if (review_path.empty() || tiles.empty()) return;
  std::string error;
  if (write_review_sheet(review_path, tiles, &error)) {
    summary.review_sheet = review_path;
  } else {
    environment.progress << "The review sheet " << review_path << " was not written: " << error
                         << std::endl;
  }
}

// The run's closing lines: a stop, the counts, the eggs of clutches, the photographs without a
// capture date, the files left out, each flagged fit and the review sheet.
void print_summary(const BatchSettings& settings, const BatchSummary& summary, std::ostream& out) {
  if (summary.stopped()) {
    out << "Stopped: " << summary.not_started << " photographs not started." << std::endl;
  }
  out << "Measured " << summary.measured << ", skipped " << summary.skipped << ", failed "
      << summary.failed << ", flagged " << summary.flagged.size() << "." << std::endl;
  if (settings.every_egg) {
    out << summary.eggs_measured << (summary.eggs_measured == 1 ? " egg" : " eggs")
        << " measured, each its own record"
        << (summary.eggs_failed > 0
                ? "; " + std::to_string(summary.eggs_failed) + " more could not be measured"
                : "")
        << "." << std::endl;
  }
  if (summary.no_capture_date > 0) {
    out << summary.no_capture_date
        << (summary.no_capture_date == 1 ? " photograph had" : " photographs had")
        << " no capture date; " << (summary.no_capture_date == 1 ? "its" : "their")
        << " date is empty." << std::endl;
  }
  for (const std::string& line : left_out_lines(summary.left_out)) out << line << std::endl;
  for (const FlaggedFit& flagged : summary.flagged) {
    out << "Flagged: file " << flagged.position
        << (flagged.egg > 0 ? "." + std::to_string(flagged.egg) : "") << ": "
        << joined(flagged.warnings) << std::endl;
  }
  if (!summary.review_sheet.empty()) out << "Review sheet: " << summary.review_sheet << std::endl;
}

}  // namespace

BatchSummary run_batch(const BatchSettings& settings, BatchEnvironment& environment) {
  BatchSummary summary;
  SeriesState series;
  SeriesLock series_lock;
  if (!open_series(settings, environment, series, series_lock, summary)) return summary;
  std::optional<CarriedScale> carried;
  if (!settle_scale(settings, series, environment, carried, summary)) return summary;
  const bool scale_asked = carried || settings.scale.kind != ScaleRequest::Kind::none;
  const PhotographsToMeasure chosen =
      photographs_to_measure(settings, series, environment, summary);

  Progress progress(environment.progress, environment.terminal, chosen.paths.size());
  SavedFits saved;
  RunContext run{settings, environment, series, carried, scale_asked, progress, summary, saved};
  measure_photographs(run, chosen);
  progress.finish();

  flag_against_series(saved, summary);
  write_review(settings, series.series_directory, saved.tiles, environment, summary);
  print_summary(settings, summary, environment.out);
  return summary;
}

int batch_exit_status(const BatchSummary& summary) {
  if (!summary.series_found || summary.scale_refused) return 2;
  if (summary.failed > 0 || summary.stopped() || !summary.records_problem.empty()) return 1;
  return 0;
}

}  // namespace meravel
