#include "series/status_line.h"

#include <cstdio>

namespace meravel {

void write_status_line(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace meravel
