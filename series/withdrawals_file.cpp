#include "series/withdrawals_file.h"

#include <fstream>
#include <sstream>

#include "series/csv_text.h"

namespace meravel {

const char kWithdrawalsFileName[] = "measures_withdrawals.csv";
const char kWithdrawalsHeader[] = "file,measurement,withdrawn_at,reason";

std::string format_withdrawal_row(const Withdrawal& w) {
  return csv_record(
      {w.file, std::to_string(w.measurement), iso8601_time(w.withdrawn_at), w.reason});
}

AppendOutcome append_withdrawal(const std::string& path, const Withdrawal& withdrawal,
                                FileOperations& operations) {
  const std::string row = format_withdrawal_row(withdrawal);
  const PlannedAppend append{path, [row](const LockedFileEnd& end) {
                               std::string bytes;
                               if (!end.ends_with_line_break) bytes += '\n';
                               if (end.size == 0) bytes += std::string(kWithdrawalsHeader) + '\n';
                               return bytes + row;
                             }};
  return append_durably({append}, operations);
}

std::set<std::pair<std::string, int>> read_withdrawals(const std::string& path) {
  std::set<std::pair<std::string, int>> withdrawn;
  std::ifstream in(path, std::ios::binary);
  if (!in) return withdrawn;
  std::ostringstream text;
  text << in.rdbuf();
  const CsvText csv = parse_csv(text.str());
  for (const CsvRecord& record : csv.records) {
    if (record.fields.size() < 2 || record.line == 1) continue;  // the header
    const std::string& number = record.fields[1];
    if (number.empty() || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string::npos)
      continue;
    withdrawn.insert({record.fields[0], std::stoi(number)});
  }
  return withdrawn;
}

}  // namespace meravel
