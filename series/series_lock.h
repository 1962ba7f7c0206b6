// Which instance of the program has a series open: the lock file "meravel.lock" in the series
// directory. The instance that has the series open holds the file's exclusive flock, and the file
// holds its process id. The system drops the flock when a process ends in whatever way (a crash,
// kill -9), so a lock file whose flock nobody holds is stale and is taken over.
#pragma once

#include <string>

namespace meravel {

// File name of the lock file inside the series directory.
extern const char kSeriesLockFileName[];

class SeriesLock {
 public:
  enum class State {
    not_held,       // no series, or the lock file can neither be made nor opened
    held,           // this object holds it
    held_by_other,  // another live instance (or another SeriesLock) holds it
  };

  SeriesLock() = default;
  ~SeriesLock() { release(); }
  SeriesLock(SeriesLock&& other) noexcept;
  SeriesLock& operator=(SeriesLock&& other) noexcept;
  SeriesLock(const SeriesLock&) = delete;
  SeriesLock& operator=(const SeriesLock&) = delete;

  // Releases any lock held and tries to take the lock of `directory` without waiting: held, with
  // the process id written into the file, when no other instance holds it (a stale file is taken
  // over); held_by_other otherwise; not_held when the lock file cannot be had at all (a read-only
  // directory without one: then nothing can be saved there either).
  State acquire(const std::string& directory);

  // Gives the lock up and removes the lock file; nothing when none is held.
  void release();

  State state() const { return state_; }
  // With held_by_other: the process id the lock file names, 0 when it names none.
  long other_process_id() const { return other_process_id_; }

 private:
  State state_ = State::not_held;
  int fd_ = -1;
  std::string path_;
  long other_process_id_ = 0;
};

}  // namespace meravel
