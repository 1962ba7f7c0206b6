// The program's command line: `meravel fit DIR [options]`, `meravel --help`, `meravel --version`.
// Runs without a display: no QApplication, no window.
#pragma once

namespace meravel {

// Whether the arguments ask for the command line instead of the main window: a first argument
// "fit", "--help", "-h", "help" or "--version", "-v". With no argument (or Qt's own options) the
// program is the window.
bool is_command_line(int argc, char** argv);

// Parses the arguments and runs the command; returns the exit status: 0 when every photograph
// was measured or skipped (and for --help, --version), 1 when any failed, 2 on bad usage.
int run_command_line(int argc, char** argv);

}  // namespace meravel
