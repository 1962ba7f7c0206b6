// Reading the next photograph ahead: what the prefetch hands over is what a read on demand gives,
// it is read once, and a file that changed on disk after it was read is read again.
#include "series/photo_prefetch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "test_support.h"

using namespace meravel;

namespace {

using std::chrono::milliseconds;

bool same_pixels(const cv::Mat& a, const cv::Mat& b) {
  return !a.empty() && a.size() == b.size() && a.type() == b.type() &&
         cv::norm(a, b, cv::NORM_INF) == 0;
}

// A photograph whose pixels say which one it is.
cv::Mat photo(int width, int height, int level) {
  cv::Mat image(height, width, CV_8UC3, cv::Scalar(level, 255 - level, 40));
  cv::circle(image, {width / 2, height / 2}, height / 3, cv::Scalar(230, 230, 230), cv::FILLED);
  return image;
}

void write_png(const std::string& path, const cv::Mat& image) {
  ASSERT_TRUE(cv::imwrite(path, image));
}

// Counts the reads (and can make each one slow, as a large photograph is).
struct CountingLoader {
  std::atomic<int> reads{0};
  milliseconds delay{0};
  PhotographPrefetch::Loader loader() {
    return [this](const std::string& path) {
      ++reads;
      std::this_thread::sleep_for(delay);
      return load_photograph_file(path);
    };
  }
};

void wait_read(PhotographPrefetch& prefetch, const std::string& path) {
  ASSERT_TRUE(prefetch.wait_until_read(path, milliseconds(10000)));
}

}  // namespace

// After the prefetch has read a.png, the file is left alone or changed in one way; take() hands
// over the photograph the file holds now, and reads it a second time exactly when it changed.
TEST(PhotographPrefetch, HandsOverTheFileAsItIsNowReadingAgainOnlyWhenItChanged) {
  struct Case {
    const char* name;
    void (*change)(const TempDirectory& dir);  // null: unchanged
    int level_now;                             // the photograph the file holds at take()
    int reads;
  } const cases[] = {
      {"unchanged", nullptr, 10, 1},
      {"rewritten, another size",
       [](const TempDirectory& dir) { write_png(dir / "a.png", photo(90, 70, 200)); }, 200, 2},
      {"same bytes, only the modification time moved",
       [](const TempDirectory& dir) {
         // The same bytes written again, and a modification time of its own.
         write_png(dir / "a.png", photo(80, 60, 10));
         const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
         ASSERT_EQ(utimensat(AT_FDCWD, (dir / "a.png").c_str(), times, 0), 0);
       },
       10, 2},
      {"replaced by another file",
       [](const TempDirectory& dir) {
         write_png(dir / "b.png", photo(80, 60, 120));
         ASSERT_EQ(std::rename((dir / "b.png").c_str(), (dir / "a.png").c_str()), 0);
       },
       120, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDirectory dir;
    const std::string path = dir / "a.png";
    write_png(path, photo(80, 60, 10));
    CountingLoader counter;
    PhotographPrefetch prefetch(counter.loader());
    prefetch.prefetch(path);
    wait_read(prefetch, path);
    EXPECT_TRUE(prefetch.holds(path));
    if (c.change) c.change(dir);

    const PhotographFile taken = prefetch.take(path);
    ASSERT_EQ(taken.status, PhotographFile::loaded);
    const PhotographFile on_demand = load_photograph_file(path);
    EXPECT_TRUE(same_pixels(taken.image, on_demand.image));
    EXPECT_EQ(taken.stamp, on_demand.stamp);
    EXPECT_TRUE(same_pixels(taken.image, cv::imread(path, cv::IMREAD_COLOR)));
    EXPECT_EQ(taken.image.at<cv::Vec3b>(0, 0)[0], c.level_now);
    EXPECT_EQ(counter.reads, c.reads);
    EXPECT_FALSE(prefetch.holds(path));  // handed over: nothing stays behind
  }
}

// One photograph at most: a request for another one drops the one held, a second request for the
// one held or being read reads nothing, and a take while it is read waits for that read.
TEST(PhotographPrefetch, HoldsOnePhotographAndReadsEachRequestOnce) {
  TempDirectory dir;
  write_png(dir / "a.png", photo(80, 60, 10));
  write_png(dir / "b.png", photo(80, 60, 50));
  CountingLoader counter;
  counter.delay = milliseconds(150);
  PhotographPrefetch prefetch(counter.loader());

  prefetch.prefetch(dir / "a.png");
  prefetch.prefetch(dir / "a.png");                       // being read: not read again
  const PhotographFile a = prefetch.take(dir / "a.png");  // waits for the read running
  EXPECT_EQ(counter.reads, 1);
  EXPECT_EQ(a.image.at<cv::Vec3b>(0, 0)[0], 10);

  prefetch.prefetch(dir / "a.png");
  wait_read(prefetch, dir / "a.png");
  prefetch.prefetch(dir / "a.png");  // held and unchanged: not read again
  EXPECT_EQ(counter.reads, 2);
  prefetch.prefetch(dir / "b.png");
  EXPECT_FALSE(prefetch.holds(dir / "a.png"));  // dropped before b is read
  wait_read(prefetch, dir / "b.png");
  EXPECT_TRUE(prefetch.holds(dir / "b.png"));
  EXPECT_EQ(counter.reads, 3);

  // Taking a photograph that is not held reads it on the spot and drops the one held.
  const PhotographFile again = prefetch.take(dir / "a.png");
  EXPECT_EQ(counter.reads, 4);
  EXPECT_EQ(again.image.at<cv::Vec3b>(0, 0)[0], 10);
  EXPECT_FALSE(prefetch.holds(dir / "b.png"));
  EXPECT_TRUE(prefetch.path().empty());

  prefetch.prefetch(dir / "b.png");
  prefetch.drop();  // dropped while being read: the read's photograph is not kept
  EXPECT_TRUE(prefetch.wait_until_read(dir / "b.png", milliseconds(10000)));
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_FALSE(prefetch.holds(dir / "b.png"));
  EXPECT_TRUE(prefetch.path().empty());
}

// A file that cannot be read comes back as the loader says, with its message.
TEST(PhotographPrefetch, AnUnreadableFileIsHandedOverAsNotLoaded) {
  TempDirectory dir;
  PhotographPrefetch prefetch;
  prefetch.prefetch(dir / "missing.jpg");
  wait_read(prefetch, dir / "missing.jpg");
  const PhotographFile taken = prefetch.take(dir / "missing.jpg");
  EXPECT_EQ(taken.status, PhotographFile::cannot_open);
  EXPECT_EQ(taken.message, load_photograph_file(dir / "missing.jpg").message);
}

// stop() waits for the read under way and ends the thread; afterwards nothing is read ahead, and
// a photograph asked for is read on the spot instead of being waited for.
TEST(PhotographPrefetch, StopWaitsForTheReadUnderWayThenReadsOnlyOnDemand) {
  TempDirectory dir;
  write_png(dir / "a.png", photo(80, 60, 10));
  write_png(dir / "b.png", photo(80, 60, 20));
  struct Finished {
    std::atomic<int> reads{0};
    std::atomic<bool> under_way{false};
  } loads;
  PhotographPrefetch prefetch([&loads](const std::string& path) {
    loads.under_way = true;
    std::this_thread::sleep_for(milliseconds(300));
    PhotographFile photo = load_photograph_file(path);
    ++loads.reads;
    loads.under_way = false;
    return photo;
  });
  prefetch.prefetch(dir / "a.png");
  while (!loads.under_way) std::this_thread::sleep_for(milliseconds(1));
  prefetch.stop();
  EXPECT_EQ(loads.reads, 1);  // the read under way ended before stop() returned
  EXPECT_FALSE(loads.under_way);

  prefetch.prefetch(dir / "b.png");
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(loads.reads, 1);  // not read ahead
  const PhotographFile b = prefetch.take(dir / "b.png");
  EXPECT_EQ(loads.reads, 2);
  ASSERT_EQ(b.status, PhotographFile::loaded);
  EXPECT_EQ(b.image.at<cv::Vec3b>(0, 0)[0], 20);
}
