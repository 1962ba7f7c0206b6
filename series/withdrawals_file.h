// The withdrawals file, "measures_withdrawals.csv" beside measures.csv: measurements taken back
// without deleting anything. One row per withdrawal, plain CSV as the details file (comma, RFC 4180
// quoting, LF), with the header `file,measurement,withdrawn_at,reason`:
//   file          the photograph, as in measures.csv
//   measurement   which of that photograph's measurements, 1-based in measures.csv order
//   withdrawn_at  ISO 8601 with the UTC offset
//   reason        free text, may be empty
// Readers (the batch run, a report) leave a withdrawn measurement out as if it had not been saved.
#pragma once

#include <ctime>
#include <set>
#include <string>
#include <utility>

#include "series/durable_append.h"

namespace meravel {

extern const char kWithdrawalsFileName[];
extern const char kWithdrawalsHeader[];  // without the line break

struct Withdrawal {
  std::string file;
  int measurement = 0;  // 1-based
  std::tm withdrawn_at{};
  std::string reason;
};

// The row of `withdrawal` with its line break.
std::string format_withdrawal_row(const Withdrawal& withdrawal);

// Appends the row to the file at `path` (the header first when the file is empty or missing),
// under its lock, synced, as every record file is appended.
AppendOutcome append_withdrawal(const std::string& path, const Withdrawal& withdrawal,
                                FileOperations& operations = posix_file_operations());

// The withdrawn (file, measurement) pairs of the file at `path`; none when it is missing. Rows
// that cannot be read (a damaged line, a measurement that is no whole number) are left out.
std::set<std::pair<std::string, int>> read_withdrawals(const std::string& path);

}  // namespace meravel
