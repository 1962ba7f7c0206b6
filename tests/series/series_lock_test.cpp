// The lock file of a series: held while a series is open, seen by a second instance, taken over
// from an instance that is gone.
#include "series/series_lock.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>

#include "test_support.h"

using namespace meravel;

// Every flock of the program passes through here, so that a test can act between a lock file's
// open and its flock.
std::function<void()> before_next_flock;

extern "C" int flock(int fd, int operation) noexcept {
  using Flock = int (*)(int, int);
  static const Flock real_flock = reinterpret_cast<Flock>(dlsym(RTLD_NEXT, "flock"));
  if (before_next_flock) std::exchange(before_next_flock, nullptr)();
  return real_flock(fd, operation);
}

namespace {

std::string pid_line(pid_t pid) { return std::to_string(static_cast<long>(pid)) + "\n"; }

// A process that takes the lock of `directory` and holds it until the test lets it go (or kills
// it); the constructor returns once it holds the lock.
class OtherInstance {
 public:
  explicit OtherInstance(const std::string& directory) {
    EXPECT_EQ(pipe(held_), 0);
    EXPECT_EQ(pipe(go_), 0);
    std::fflush(stdout);
    pid_ = fork();
    if (pid_ == 0) {
      SeriesLock lock;
      const char state = lock.acquire(directory) == SeriesLock::State::held ? 'h' : 'n';
      (void)!write(held_[1], &state, 1);
      char byte;
      (void)!read(go_[0], &byte, 1);
      lock.release();
      _exit(0);
    }
    char state = 0;
    EXPECT_EQ(read(held_[0], &state, 1), 1);
    EXPECT_EQ(state, 'h');
  }
  ~OtherInstance() {
    (void)!write(go_[1], "x", 1);
    int status = 0;
    waitpid(pid_, &status, 0);
    for (int fd : {held_[0], held_[1], go_[0], go_[1]}) close(fd);
  }
  pid_t pid() const { return pid_; }
  // Ends it as kill -9 would: no chance to remove its lock file.
  void kill_hard() {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  int held_[2] = {-1, -1};
  int go_[2] = {-1, -1};
  pid_t pid_ = -1;
};

// The id of a process that has ended.
pid_t ended_process() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

}  // namespace

TEST(SeriesLock, HeldByOneInstanceAtATime) {
  struct Case {
    const char* what;
    std::function<void(const TempDirectory&)> before;
    SeriesLock::State state;
  } const cases[] = {
      {"no lock file", [](const TempDirectory&) {}, SeriesLock::State::held},
      {"an empty lock file", [](const TempDirectory& dir) { dir.write("meravel.lock"); },
       SeriesLock::State::held},
      // The file names a process, but nobody holds its lock: left by a crash.
      {"a stale lock file",
       [](const TempDirectory& dir) { dir.write("meravel.lock", pid_line(ended_process())); },
       SeriesLock::State::held},
      {"a lock file that is a link",
       [](const TempDirectory& dir) {
         dir.write("elsewhere");
         ASSERT_EQ(symlink("elsewhere", (dir / "meravel.lock").c_str()), 0);
       },
       SeriesLock::State::not_held},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    c.before(dir);
    SeriesLock lock;
    EXPECT_EQ(lock.acquire(dir.path()), c.state);
    EXPECT_EQ(lock.state(), c.state);
    if (c.state != SeriesLock::State::held) continue;
    EXPECT_EQ(dir.read("meravel.lock"), pid_line(getpid()));
    lock.release();
    EXPECT_EQ(lock.state(), SeriesLock::State::not_held);
    EXPECT_FALSE(dir.exists("meravel.lock"));
  }
}

TEST(SeriesLock, ASecondInstanceSeesTheFirstUntilItIsGone) {
  TempDirectory dir;
  {
    OtherInstance other(dir.path());
    SeriesLock lock;
    EXPECT_EQ(lock.acquire(dir.path()), SeriesLock::State::held_by_other);
    EXPECT_EQ(lock.other_process_id(), other.pid());
    EXPECT_EQ(dir.read("meravel.lock"), pid_line(other.pid()));  // left as the other wrote it
  }
  // The other released it on its way out.
  EXPECT_FALSE(dir.exists("meravel.lock"));
  SeriesLock lock;
  EXPECT_EQ(lock.acquire(dir.path()), SeriesLock::State::held);
}

TEST(SeriesLock, AnInstanceKilledHardLeavesAStaleFileThatIsTakenOver) {
  TempDirectory dir;
  OtherInstance other(dir.path());
  const pid_t gone = other.pid();
  other.kill_hard();
  EXPECT_EQ(dir.read("meravel.lock"), pid_line(gone));
  SeriesLock lock;
  EXPECT_EQ(lock.acquire(dir.path()), SeriesLock::State::held);
  EXPECT_EQ(dir.read("meravel.lock"), pid_line(getpid()));
}

// Two holders in one process are two instances too; moving a held lock keeps it held.
TEST(SeriesLock, EachObjectIsAnInstanceAndAMovedLockStaysHeld) {
  TempDirectory first_dir, second_dir;
  SeriesLock first;
  ASSERT_EQ(first.acquire(first_dir.path()), SeriesLock::State::held);
  SeriesLock second;
  EXPECT_EQ(second.acquire(first_dir.path()), SeriesLock::State::held_by_other);
  EXPECT_EQ(second.other_process_id(), getpid());

  SeriesLock moved = std::move(first);
  EXPECT_EQ(first.state(), SeriesLock::State::not_held);
  EXPECT_EQ(second.acquire(first_dir.path()), SeriesLock::State::held_by_other);

  // The holder moves to another series: the first is free again.
  EXPECT_EQ(moved.acquire(second_dir.path()), SeriesLock::State::held);
  EXPECT_FALSE(first_dir.exists("meravel.lock"));
  EXPECT_EQ(second.acquire(first_dir.path()), SeriesLock::State::held);
}

// An instance that opened the lock file just before its holder gave the lock up (and removed the
// file) gets the flock of a removed file: that is not the lock. It takes the lock at the path
// instead, and a third instance sees it held.
TEST(SeriesLock, AFileRemovedBetweenItsOpenAndItsFlockIsNotTheLock) {
  TempDirectory dir;
  SeriesLock holder;
  ASSERT_EQ(holder.acquire(dir.path()), SeriesLock::State::held);
  SeriesLock late;
  before_next_flock = [&] { holder.release(); };
  EXPECT_EQ(late.acquire(dir.path()), SeriesLock::State::held);
  EXPECT_FALSE(before_next_flock);
  EXPECT_EQ(dir.read("meravel.lock"), pid_line(getpid()));
  SeriesLock third;
  EXPECT_EQ(third.acquire(dir.path()), SeriesLock::State::held_by_other);
}
