// Decoding a photograph ahead of time: while the user measures one photograph, the next one is read
// and decoded on a background thread, so that opening it later takes only the measuring set-up.
// At most one photograph is held, and a request for another one drops it first, so that the
// prefetch never keeps more than one full-size image besides the one being measured.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "series/photo_file.h"

namespace meravel {

class PhotographPrefetch {
 public:
  using Loader = std::function<PhotographFile(const std::string& path)>;

  // `load` reads one photograph (load_photograph_file unless a test counts the reads).
  explicit PhotographPrefetch(Loader load = [](const std::string& path) {
    return load_photograph_file(path);
  });
  // Waits for a read that is running and releases what is held.
  ~PhotographPrefetch();

  // Ends the background thread, after the read that is running, if any. Afterwards nothing is
  // read ahead and `take` reads on the calling thread. A program calls this before it returns
  // from main: a read still running while the program's statics end could use a decoder that
  // is already gone.
  void stop();
  PhotographPrefetch(const PhotographPrefetch&) = delete;
  PhotographPrefetch& operator=(const PhotographPrefetch&) = delete;

  // Reads `path` on the background thread, unless that photograph is being read or is held and
  // the file has not changed since (size, modification time and the rest of its stamp). A
  // photograph held for another path, or for this one before the file changed, is dropped first.
  void prefetch(const std::string& path);

  // The photograph at `path`: the one held when it was read from that path and the file's stamp
  // is still the one read (it leaves the prefetch); otherwise the file read now on the calling
  // thread, with whatever was held dropped first. A read running for `path` is waited for.
  PhotographFile take(const std::string& path);

  // Waits up to `timeout` until no read for `path` is running; returns whether none is.
  bool wait_until_read(const std::string& path, std::chrono::milliseconds timeout);

  // Drops what is held; a read running now is dropped when it ends.
  void drop();

  // The path whose photograph is held or being read; empty when none.
  std::string path() const;
  // Whether a read photograph of `path` is held.
  bool holds(const std::string& path) const;

 private:
  void run();

  Loader load_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string path_;      // requested, being read, or held
  bool wanted_ = false;   // path_ is to be read
  bool reading_ = false;  // the thread is reading path_
  bool held_ = false;     // photo_ holds path_'s photograph
  bool stopping_ = false;
  PhotographFile photo_;
  std::thread thread_;
};

}  // namespace meravel
