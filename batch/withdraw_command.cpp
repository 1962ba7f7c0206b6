#include "batch/withdraw_command.h"

#include <algorithm>
#include <vector>

#include "series/file_overview.h"
#include "series/random_order_file.h"
#include "series/series_from_directory.h"
#include "series/withdrawals_file.h"

namespace meravel {

int withdraw_measurement(const WithdrawRequest& request, std::ostream& out, std::ostream& err,
                         const MeasuringClock& clock) {
  // The series as a "Read!" of an existing order sees it, without drawing one.
  std::vector<SeriesEntry> entries;
  if (!read_random_order_file(request.directory + "/random_order.csv", entries)) {
    err << "No measuring order in " << request.directory
        << " (random_order.csv): there is nothing to withdraw." << std::endl;
    return 2;
  }
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const SeriesEntry& e) { return series_name_problem(e.name); }),
                entries.end());
  std::stable_sort(entries.begin(), entries.end());
  const std::string file = "file " + std::to_string(request.position);
  if (request.position < 1 || request.position > static_cast<int>(entries.size())) {
    err << "No " << file << ": the series has " << entries.size() << " photographs." << std::endl;
    return 2;
  }
  const SeriesEntry& entry = entries[request.position - 1];
  const int count = count_measures(request.directory + "/" + kMeasuresFileName, {entry}).front();
  if (request.measurement < 1 || request.measurement > count) {
    err << "No measurement " << request.measurement << " of " << file << ": it has " << count
        << (count == 1 ? " measurement." : " measurements.") << std::endl;
    return 2;
  }
  const std::string path = request.directory + "/" + kWithdrawalsFileName;
  if (read_withdrawals(path).count({entry.name, request.measurement}) > 0) {
    out << "Measurement " << request.measurement << " of " << file << " is withdrawn already."
        << std::endl;
    return 0;
  }
  const AppendOutcome saved =
      append_withdrawal(path, {entry.name, request.measurement, clock(), request.reason});
  if (!saved.saved) {
    err << saved.failure << std::endl;
    return 1;
  }
  out << "Withdrawn: measurement " << request.measurement << " of " << file << "." << std::endl;
  return 0;
}

}  // namespace meravel
