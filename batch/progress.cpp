#include "batch/progress.h"

#include <cstdio>

namespace meravel {

namespace {

constexpr int kBarWidth = 30;

std::string minutes_and_seconds(double seconds) {
  const long whole = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

Progress::Progress(std::ostream& out, bool terminal, size_t total, Clock::time_point start)
    : out_(out), terminal_(terminal), total_(total), start_(start), last_(start) {
  if (terminal_ && total_ > 0) draw();
}

std::string Progress::bar(size_t done, size_t total, Clock::duration elapsed) {
  const int filled = total == 0 ? kBarWidth : static_cast<int>(kBarWidth * done / total);
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::string text = std::to_string(done) + "/" + std::to_string(total) + " [" +
                     std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
  if (done > 0 && seconds > 0) {
    const double rate = done / seconds;
    char figure[32];
    std::snprintf(figure, sizeof figure, " %.1f/s, ", rate);
    text += figure + minutes_and_seconds((total - done) / rate) + " left";
  }
  return text;
}

void Progress::draw() {
  out_ << '\r' << bar(done_, total_, last_ - start_) << "\x1b[K" << std::flush;
  bar_shown_ = true;
}

void Progress::step(const std::string& line, Clock::time_point now) {
  ++done_;
  last_ = now;
  if (terminal_) {
    draw();
  } else {
    out_ << '[' << done_ << '/' << total_ << "] " << line << std::endl;
  }
}

void Progress::message(const std::string& line) {
  if (terminal_ && bar_shown_) {
    out_ << "\r\x1b[K" << line << '\n';
    draw();
  } else {
    out_ << line << std::endl;
  }
}

void Progress::finish() {
  if (terminal_ && bar_shown_) out_ << std::endl;
  bar_shown_ = false;
}

}  // namespace meravel
