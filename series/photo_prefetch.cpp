#include "series/photo_prefetch.h"

#include <utility>

namespace meravel {

PhotographPrefetch::PhotographPrefetch(Loader load)
    : load_(std::move(load)), thread_([this] { run(); }) {}

PhotographPrefetch::~PhotographPrefetch() { stop(); }

void PhotographPrefetch::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wanted_ = false;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PhotographPrefetch::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || wanted_; });
    if (stopping_) return;
    wanted_ = false;
    reading_ = true;
    const std::string path = path_;
    lock.unlock();
    PhotographFile photo = load_(path);
    lock.lock();
    reading_ = false;
    // A photograph that was dropped or replaced by another request while it was read is not kept.
    if (path_ == path && !wanted_) {
      photo_ = std::move(photo);
      held_ = true;
    }
    lock.unlock();
    photo = PhotographFile();  // released outside the lock
    changed_.notify_all();
    lock.lock();
  }
}

void PhotographPrefetch::prefetch(const std::string& path) {
  PhotographFile dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;  // nothing reads ahead any more; take reads on the spot
    if (path_ == path && (wanted_ || reading_)) return;
    if (path_ == path && held_ && photograph_file_stamp(path) == photo_.stamp) return;
    dropped = std::move(photo_);
    photo_ = PhotographFile();
    held_ = false;
    path_ = path;
    wanted_ = true;
  }
  changed_.notify_all();
}

bool PhotographPrefetch::wait_until_read(const std::string& path,
                                         std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return path_ != path || (!wanted_ && !reading_); });
}

PhotographFile PhotographPrefetch::take(const std::string& path) {
  PhotographFile dropped;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return path_ != path || (!wanted_ && !reading_); });
    if (path_ == path && held_) {
      PhotographFile photo = std::move(photo_);
      photo_ = PhotographFile();
      held_ = false;
      path_.clear();
      const std::optional<PhotographFileStamp> now = photograph_file_stamp(path);
      if (photo.status == PhotographFile::loaded && now && *now == photo.stamp) return photo;
      dropped = std::move(photo);  // the file changed after it was read: read again below
    } else {
      dropped = std::move(photo_);
      photo_ = PhotographFile();
      held_ = false;
      // A read of another photograph may go on; its result is not kept.
      wanted_ = false;
      path_.clear();
    }
  }
  dropped = PhotographFile();
  return load_(path);
}

void PhotographPrefetch::drop() {
  PhotographFile dropped;
  std::lock_guard<std::mutex> lock(mutex_);
  dropped = std::move(photo_);
  photo_ = PhotographFile();
  held_ = false;
  wanted_ = false;
  path_.clear();
}

std::string PhotographPrefetch::path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

bool PhotographPrefetch::holds(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_ && path_ == path;
}

}  // namespace meravel
