// `meravel report DIR [--out REPORT_DIR]`: writes the report of a measured series. Needs no
// display: the plots are drawn offscreen.
#pragma once

namespace meravel {

// Whether the first argument is "report".
bool is_report_command(int argc, char** argv);

// Parses the arguments and writes the report; returns the exit status: 0 when it was written,
// 1 when a file could not be written, 2 on bad usage.
int run_report_command(int argc, char** argv);

}  // namespace meravel
