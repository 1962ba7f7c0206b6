// What a batch run shows while it goes: on a terminal one progress bar, redrawn in place, with
// the count, the rate and the time left; elsewhere (a log file, a pipe) one line per photograph.
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

namespace meravel {

class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  // `total` photographs are to be measured.
  Progress(std::ostream& out, bool terminal, size_t total, Clock::time_point start = Clock::now());

  // One photograph is done; `line` says how it went. On a terminal the bar moves on (the line is
  // not shown); elsewhere "[done/total] line" is written.
  void step(const std::string& line, Clock::time_point now = Clock::now());
  // A line that is always shown (a failure): on a terminal above the bar.
  void message(const std::string& line);
  // Ends the bar's line.
  void finish();

  // "  3/8 [#######.............]  1.6/s, 0:04 left" after `done` of `total` in `elapsed`.
  static std::string bar(size_t done, size_t total, Clock::duration elapsed);

 private:
  void draw();

  std::ostream& out_;
  bool terminal_;
  size_t total_;
  size_t done_ = 0;
  Clock::time_point start_;
  Clock::time_point last_;
  bool bar_shown_ = false;
};

}  // namespace meravel
