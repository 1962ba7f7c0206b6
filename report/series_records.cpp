#include "report/series_records.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "fit/fit_warnings.h"
#include "series/csv_text.h"
#include "series/details_file.h"
#include "series/random_order_file.h"

namespace meravel {

const std::vector<std::string> kReportValues = {
    "lambda",     "lambda_pointed_up", "length_mm", "breadth_mm",
    "volume_mm3", "surface_mm2",       "length_px", "breadth_px",
};

std::string error_column_of(const std::string& value) { return value + "_se"; }

namespace {

std::optional<std::string> file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A number as the program writes it, "inf" and "nan" included (std::nullopt for anything else).
std::optional<double> number(const std::string& text) {
  if (text == "inf") return INFINITY;
  if (text == "-inf") return -INFINITY;
  if (text == "nan" || text == "-nan") return NAN;
  return parse_number(text);
}

// measures.csv: fields each followed by ";"; the header line and lines without four ";" are not
// records. Either line break.
std::vector<RecordedMeasurement> parse_measures(const std::string& text,
                                                std::vector<std::string>& notes) {
  std::vector<RecordedMeasurement> records;
  std::map<std::string, int> counts;
  std::istringstream lines(text);
  std::string line;
  int unreadable = 0;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t end; (end = line.find(';', start)) != std::string::npos; start = end + 1) {
      fields.push_back(line.substr(start, end - start));
    }
    // The header line; a file that could not be read at some save has it again further down.
    if (fields.size() >= 4 && fields[0] == "Dateiname" && fields[3] == "Lambda") continue;
    if (fields.size() < 5 || fields[0].empty()) {
      ++unreadable;
      continue;
    }
    RecordedMeasurement m;
    m.file = fields[0];
    m.row = static_cast<int>(records.size()) + 1;
    m.number = ++counts[m.file];
    const std::optional<double> lambda = number(fields[3]);
    const std::optional<double> energy = number(fields[4]);
    m.failed = !lambda || !std::isfinite(*lambda) || !energy || !std::isfinite(*energy);
    if (lambda && std::isfinite(*lambda)) m.values["lambda"] = *lambda;
    records.push_back(std::move(m));
  }
  if (unreadable > 0) {
    notes.push_back("measures.csv: " + std::to_string(unreadable) +
                    " line(s) are not records of five fields and were left out.");
  }
  return records;
}

int column_of(const std::vector<std::string>& header, const std::string& name) {
  for (size_t i = 0; i < header.size(); ++i)
    if (header[i] == name) return static_cast<int>(i);
  return -1;
}

// Joins the details rows to the records, row by row, while the file names agree.
void join_details(const std::string& text, SeriesRecords& records) {
  const CsvText csv = parse_csv(text);
  if (csv.records.empty()) {
    records.notes.push_back("measures_details.csv is empty: only lambda from measures.csv.");
    return;
  }
  const std::vector<std::string>& header = csv.records[0].fields;
  const int file_column = column_of(header, "file");
  const int lambda_milli_column = column_of(header, "lambda_milli");
  if (file_column < 0 || column_of(header, "lambda") < 0) {
    records.notes.push_back(
        "measures_details.csv has a foreign header (no columns file and lambda): it was not "
        "used; only lambda from measures.csv is reported.");
    return;
  }
  if (!csv.problem.empty()) {
    records.notes.push_back("measures_details.csv: " + csv.problem + " at line " +
                            std::to_string(csv.problem_line) +
                            "; the rows from there on were not used.");
  }
  std::map<std::string, int> value_column;
  std::map<std::string, int> error_column;
  for (const std::string& value : kReportValues) {
    if (int c = column_of(header, value); c >= 0) value_column[value] = c;
    if (int c = column_of(header, error_column_of(value)); c >= 0) error_column[value] = c;
  }
  records.has_error_columns = !error_column.empty();
  // Each warning's column, named without its prefix, and whether the warning is an error (the fit
  // measured no egg): a measurement whose row has one counts as failed.
  struct WarnColumn {
    std::string name;
    int column;
    bool error;
  };
  std::vector<WarnColumn> warn_columns;
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i].rfind("warn_", 0) != 0) continue;
    const std::vector<FitWarningKind>& kinds = fit_warning_kinds();
    const bool error = std::any_of(kinds.begin(), kinds.end(), [&](const FitWarningKind& kind) {
      return kind.column && header[i] == kind.column && kind.severity == WarningSeverity::kError;
    });
    warn_columns.push_back({header[i].substr(5), static_cast<int>(i), error});
  }
  const int flags_column = column_of(header, "flags");
  // An egg of a clutch measured egg by egg is its own photograph: egg_index says which.
  int egg_column = column_of(header, "egg_index");
  if (egg_column < 0) egg_column = column_of(header, "egg");
  records.has_egg_column = egg_column >= 0;
  const std::vector<int> model_columns = {lambda_milli_column,
                                          column_of(header, "width"),
                                          column_of(header, "height_px"),
                                          column_of(header, "rotation_deg"),
                                          column_of(header, "translation_x_px"),
                                          column_of(header, "translation_y_px")};
  const std::vector<int> frame_columns = {column_of(header, "cut_off_top_percent"),
                                          column_of(header, "cut_off_bottom_percent"),
                                          column_of(header, "roi_x_px"),
                                          column_of(header, "roi_y_px"),
                                          column_of(header, "roi_width_px"),
                                          column_of(header, "roi_height_px")};

  const size_t rows = csv.records.size() - 1;
  size_t joined = 0;
  for (; joined < rows && joined < records.measurements.size(); ++joined) {
    const std::vector<std::string>& f = csv.records[joined + 1].fields;
    RecordedMeasurement& m = records.measurements[joined];
    auto field = [&f](int column) -> std::string {
      return column >= 0 && column < static_cast<int>(f.size()) ? f[column] : std::string();
    };
    if (field(file_column) != m.file) {
      records.notes.push_back("measures_details.csv row " + std::to_string(joined + 1) +
                              " names another photograph than record " +
                              std::to_string(joined + 1) +
                              " of measures.csv: the details from there on were not used.");
      break;
    }
    for (const auto& [value, column] : value_column) {
      if (const std::optional<double> v = number(field(column)); v && std::isfinite(*v)) {
        m.values[value] = *v;
      } else if (value != "lambda") {
        m.values.erase(value);
      }
    }
    for (const auto& [value, column] : error_column) {
      if (const std::optional<double> v = number(field(column)); v && std::isfinite(*v)) {
        m.errors[value] = *v;
      }
    }
    for (const WarnColumn& warn : warn_columns) {
      if (field(warn.column) != "1") continue;
      m.flags.push_back(warn.name);
      if (warn.error) m.failed = true;
    }
    if (!field(flags_column).empty()) m.flags.push_back(field(flags_column));
    if (egg_column >= 0) m.egg = std::atoi(field(egg_column).c_str());
    bool model_complete = true;
    std::vector<int> model_values;
    for (int column : model_columns) {
      const std::optional<double> v = number(field(column));
      model_complete = model_complete && v && std::isfinite(*v);
      model_values.push_back(model_complete ? static_cast<int>(*v) : 0);
    }
    if (model_complete) {
      m.model = ModelParameters{model_values[0], model_values[1], model_values[2],
                                model_values[3], model_values[4], model_values[5]};
      auto whole = [&](int i) { return std::atoi(field(frame_columns[i]).c_str()); };
      m.cut_offs = {whole(0), whole(1)};
      m.roi_x_px = whole(2);
      m.roi_y_px = whole(3);
      m.roi_width_px = whole(4);
      m.roi_height_px = whole(5);
    }
  }
  records.has_details = joined > 0;
  if (joined == records.measurements.size() && rows > joined) {
    records.notes.push_back("measures_details.csv has " + std::to_string(rows - joined) +
                            " row(s) more than measures.csv has records; they were not used.");
  } else if (joined == rows && rows < records.measurements.size()) {
    records.notes.push_back(std::to_string(records.measurements.size() - rows) +
                            " record(s) of measures.csv have no row in measures_details.csv: "
                            "only their lambda is reported.");
  }
}

void apply_withdrawals(const std::string& text, SeriesRecords& records) {
  const CsvText csv = parse_csv(text);
  if (csv.records.empty()) return;
  const std::vector<std::string>& header = csv.records[0].fields;
  const int file_column = column_of(header, "file");
  const int number_column = column_of(header, "measurement");
  if (file_column < 0 || number_column < 0) {
    records.notes.push_back(std::string(kWithdrawalsFileName) +
                            " has a foreign header (no columns file and measurement): no "
                            "withdrawal was applied.");
    return;
  }
  int unmatched = 0;
  for (size_t r = 1; r < csv.records.size(); ++r) {
    const std::vector<std::string>& f = csv.records[r].fields;
    const int needed = std::max(file_column, number_column);
    const std::optional<double> n =
        static_cast<int>(f.size()) > needed ? parse_number(f[number_column]) : std::nullopt;
    bool matched = false;
    if (n) {
      for (RecordedMeasurement& m : records.measurements) {
        if (m.file == f[file_column] && m.number == *n) {
          if (!m.withdrawn) ++records.withdrawals;
          m.withdrawn = true;
          matched = true;
        }
      }
    }
    if (!matched) ++unmatched;
  }
  if (unmatched > 0) {
    records.notes.push_back(std::string(kWithdrawalsFileName) + ": " + std::to_string(unmatched) +
                            " withdrawal row(s) name no measurement of measures.csv.");
  }
}

}  // namespace

SeriesRecords parse_series_records(const std::string& measures_text,
                                   const std::optional<std::string>& details_text,
                                   const std::optional<std::string>& withdrawals_text,
                                   const std::vector<SeriesEntry>& order) {
  SeriesRecords records;
  records.measurements = parse_measures(measures_text, records.notes);
  if (details_text) {
    join_details(*details_text, records);
  } else {
    records.notes.push_back(
        "There is no measures_details.csv: only lambda from measures.csv is reported.");
  }
  if (withdrawals_text) apply_withdrawals(*withdrawals_text, records);
  std::vector<SeriesEntry> sorted = order;
  std::stable_sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) {
    records.positions.emplace(sorted[i].name, static_cast<int>(i) + 1);
  }
  records.photographs_in_order = static_cast<int>(sorted.size());
  return records;
}

SeriesRecords read_series_records(const std::string& directory) {
  const std::optional<std::string> measures = file_text(directory + "/measures.csv");
  std::vector<SeriesEntry> order;
  const bool order_read = read_random_order_file(directory + "/" + kRandomOrderFileName, order);
  SeriesRecords records =
      parse_series_records(measures.value_or(""), file_text(directory + "/" + kDetailsFileName),
                           file_text(directory + "/" + kWithdrawalsFileName), order);
  if (!measures) records.notes.insert(records.notes.begin(), "There is no measures.csv.");
  if (!order_read) {
    records.notes.push_back(
        "random_order.csv could not be read: the photographs' places in the measuring order "
        "are not given.");
  }
  return records;
}

}  // namespace meravel
