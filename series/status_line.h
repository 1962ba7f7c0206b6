// Status lines on standard output: the console beside the windows is the program's only log.
#pragma once

#include <string>

namespace meravel {

// Writes `text` and a line break to standard output and flushes it at once, so that the line
// shows while the program waits in a window.
void write_status_line(const std::string& text);

}  // namespace meravel
