// `meravel withdraw DIR POSITION MEASUREMENT [--reason TEXT]`: takes a measurement back without
// deleting anything, blind: the photograph is named by its position in the measuring order.
#pragma once

#include <ostream>
#include <string>

#include "series/measures_file.h"

namespace meravel {

struct WithdrawRequest {
  std::string directory;
  int position = 0;     // 1-based place in the measuring order (random_order.csv)
  int measurement = 0;  // 1-based, among that photograph's lines of measures.csv in file order
  std::string reason;
};

// Appends the withdrawal to measures_withdrawals.csv in the directory and says so on `out` by
// position ("Withdrawn: measurement 2 of file 5."); a measurement withdrawn already is not
// withdrawn twice. Returns the exit status: 0 done, 1 the file could not be written, 2 no such
// series, position or measurement (the reason on `err`).
int withdraw_measurement(const WithdrawRequest& request, std::ostream& out, std::ostream& err,
                         const MeasuringClock& clock = local_measuring_time);

}  // namespace meravel
