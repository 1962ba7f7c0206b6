#include "series/random_order_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "series/regular_file.h"

namespace meravel {

const char kRandomOrderFileName[] = "random_order.csv";

bool parse_random_order_line(const std::string& line, SeriesEntry& entry) {
  // A ";" at position 0 would give an empty name, so the name's separator is searched from 1.
  if (line.size() < 2) return false;
  const std::size_t name_end = line.find(';', 1);
  if (name_end == std::string::npos) return false;
  const std::size_t key_end = line.find(';', name_end + 1);
  if (key_end == std::string::npos) return false;
  entry.name = line.substr(0, name_end);
  entry.order_key = std::atoi(line.substr(name_end + 1, key_end - name_end - 1).c_str());
  return true;
}

OrderFileText read_order_file_text(const std::string& path) {
  OrderFileText text;
  FILE* file = fopen_regular_file(path);
  if (!file) return text;
  char* buffer = nullptr;
  std::size_t capacity = 0;
  ssize_t length;
  int number = 0;
  while ((length = getline(&buffer, &capacity, file)) != -1) {
    std::string line(buffer, static_cast<std::size_t>(length));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    // Editors that save "UTF-8 with BOM" put these three bytes before the first name.
    if (++number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    SeriesEntry entry;
    if (parse_random_order_line(line, entry)) {
      text.entries.push_back(entry);
    } else if (!line.empty() && line != "\r") {
      text.unread_lines.push_back({number, line});
    }
  }
  const bool read_failed = std::ferror(file) != 0;
  std::free(buffer);
  std::fclose(file);
  if (read_failed) {
    text.entries.clear();
    text.unread_lines.clear();
  }
  text.read = !read_failed;
  return text;
}

bool read_random_order_file(const std::string& path, std::vector<SeriesEntry>& entries) {
  OrderFileText text = read_order_file_text(path);
  entries = std::move(text.entries);
  return text.read;
}

void draw_order_keys(std::vector<SeriesEntry>& entries, unsigned seed) {
  std::srand(seed);
  for (SeriesEntry& entry : entries) entry.order_key = std::rand();
}

bool write_random_order_file(const std::string& path, const std::vector<SeriesEntry>& entries) {
  // The temporary name never ends in ".jpg" and is not the order file's name, so a set-up that
  // lists the directory meanwhile ignores it. O_EXCL keeps a stale file of that name untouched.
  const std::string temporary_path = path + ".tmp" + std::to_string(getpid());
  const int descriptor =
      open(temporary_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor == -1) return false;
  FILE* file = fdopen(descriptor, "w");
  if (!file) {
    close(descriptor);
    unlink(temporary_path.c_str());
    return false;
  }
  bool written = true;
  for (const SeriesEntry& entry : entries) {
    if (std::fprintf(file, "%s;%d;\n", entry.name.c_str(), entry.order_key) < 0) {
      written = false;
      break;
    }
  }
  written = std::fflush(file) == 0 && written && std::ferror(file) == 0;
  written = fsync(fileno(file)) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (written) written = std::rename(temporary_path.c_str(), path.c_str()) == 0;
  if (!written) unlink(temporary_path.c_str());
  return written;
}

}  // namespace meravel
