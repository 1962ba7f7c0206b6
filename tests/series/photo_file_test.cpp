// Loading a photograph once: the same pixels and capture date as reading the file the usual way,
// and files that would block, never end or eat the machine refused before they can.
#include "series/photo_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "series/exif_date.h"
#include "test_support.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kData = MERAVEL_TEST_DATA;

Bytes read_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes encoded(const char* extension, const cv::Mat& image) {
  Bytes bytes;
  EXPECT_TRUE(cv::imencode(extension, image, bytes));
  return bytes;
}

cv::Mat small_photo() { return render_demo_photo({64, 48}, {1.1, 20, 30, 0, 32, 24}); }

void put_big_endian_16(Bytes& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<unsigned char>(value >> 8);
  bytes[at + 1] = static_cast<unsigned char>(value);
}

void put_big_endian_32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// A real 16 x 16 JPEG of under a kilobyte whose frame header claims `claimed`: a decoder would
// allocate the claimed size and fill it with grey.
Bytes jpeg_claiming(cv::Size claimed) {
  Bytes jpeg = encoded(".jpg", cv::Mat(16, 16, CV_8UC3, cv::Scalar(90, 120, 200)));
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {  // the baseline frame header
      put_big_endian_16(jpeg, i + 5, static_cast<unsigned>(claimed.height));
      put_big_endian_16(jpeg, i + 7, static_cast<unsigned>(claimed.width));
      return jpeg;
    }
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

std::uint32_t crc32_of(const unsigned char* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A real 8 x 8 PNG whose IHDR, with a correct checksum, claims `claimed`.
Bytes png_claiming(cv::Size claimed) {
  Bytes png = encoded(".png", cv::Mat(8, 8, CV_8UC3, cv::Scalar(0, 0, 0)));
  put_big_endian_32(png, 16, static_cast<std::uint32_t>(claimed.width));
  put_big_endian_32(png, 20, static_cast<std::uint32_t>(claimed.height));
  put_big_endian_32(png, 29, crc32_of(png.data() + 12, 17));  // over "IHDR" and its 13 bytes
  return png;
}

// `segment` (marker and contents) put right after the start-of-image marker.
Bytes with_segment_first(Bytes jpeg, Bytes segment) {
  jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
  return jpeg;
}

Bytes comment_segment(std::size_t text_length) {
  Bytes segment = {0xFF, 0xFE, 0, 0};
  put_big_endian_16(segment, 2, static_cast<unsigned>(text_length + 2));
  segment.insert(segment.end(), text_length, 'c');
  return segment;
}

// The capture date as the program always read it: libexif's file reader.
CaptureDate date_by_libexif_file_reader(const std::string& path) {
  CaptureDate date;
  ExifData* data = exif_data_new_from_file(path.c_str());
  if (!data) return date;
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_DATE_TIME);
  if (!entry) {
    date.status = CaptureDate::no_entry;
  } else {
    char value[1024] = {};
    exif_entry_get_value(entry, value, sizeof value);
    date.status = CaptureDate::found;
    date.text = value;
    int replaced = 0;
    for (char& c : date.text)
      if (c == ':' && replaced < 2) c = '-', ++replaced;
  }
  exif_data_unref(data);
  return date;
}

// VmHWM or VmSize of this process in kB, from /proc/self/status.
long status_kb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field) + 1));
  return -1;
}

}  // namespace

TEST(PhotoHeader, SizeComesFromTheHeaderAlone) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::optional<cv::Size> size;
  } const cases[] = {
      {"JPEG 1 x 1", encoded(".jpg", cv::Mat(1, 1, CV_8UC3)), cv::Size(1, 1)},
      {"JPEG 300 x 7", encoded(".jpg", cv::Mat(7, 300, CV_8UC3)), cv::Size(300, 7)},
      {"JPEG as wide as the format allows", encoded(".jpg", cv::Mat(1, 65500, CV_8UC1)),
       cv::Size(65500, 1)},
      {"JPEG claiming 20000 x 30000", jpeg_claiming({20000, 30000}), cv::Size(20000, 30000)},
      {"PNG 300 x 7", encoded(".png", cv::Mat(7, 300, CV_8UC3)), cv::Size(300, 7)},
      {"PNG claiming 100000 x 3", png_claiming({100000, 3}), cv::Size(100000, 3)},
      {"BMP", encoded(".bmp", cv::Mat(7, 300, CV_8UC3)), std::nullopt},
      {"JPEG cut before its frame header", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00}, std::nullopt},
      {"PNG signature only", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, std::nullopt},
      {"nothing", Bytes{}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(read_image_header_size(c.bytes), c.size);
  }
}

// The pixels are exactly those of cv::imread(IMREAD_COLOR): upright by the EXIF orientation,
// CMYK and grey and 16-bit files as three 8-bit channels.
TEST(PhotoFile, DecodesExactlyAsImreadDoes) {
  TempDirectory dir;
  ASSERT_TRUE(
      write_demo_jpeg(dir / "dated.jpg", small_photo(), 90, {true, "2012:04:02 09:05:03", {}}));
  cv::imwrite(dir / "grey.png", cv::Mat(30, 20, CV_8UC1, cv::Scalar(200)));
  cv::imwrite(dir / "deep.png", cv::Mat(10, 14, CV_16UC3, cv::Scalar(60000, 1000, 30000)));
  // Bytes after the end-of-image marker, as some cameras write them, change nothing.
  Bytes trailer = read_bytes(dir / "dated.jpg");
  trailer.insert(trailer.end(), {0xFF, 0xD8, 'x', 'y', 0x00});
  write_bytes(dir / "trailer.jpg", trailer);
  struct Case {
    std::string path;
    cv::Size stored_size;  // as the header gives it
  } const cases[] = {
      {kData + "/orientation_6.jpg", {60, 20}},  // turned upright to 20 x 60
      {kData + "/cmyk.jpg", {40, 30}},
      {dir / "dated.jpg", {64, 48}},
      {dir / "grey.png", {20, 30}},
      {dir / "deep.png", {14, 10}},
      {dir / "trailer.jpg", {64, 48}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const cv::Mat expected = cv::imread(c.path, cv::IMREAD_COLOR);
    ASSERT_FALSE(expected.empty());
    const PhotographFile photo = load_photograph_file(c.path);
    ASSERT_EQ(photo.status, PhotographFile::loaded) << photo.message;
    EXPECT_EQ(photo.message, "");
    EXPECT_EQ(photo.stored_size, c.stored_size);
    ASSERT_EQ(photo.image.size(), expected.size());
    ASSERT_EQ(photo.image.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(photo.image, expected, cv::NORM_INF), 0);
  }
}

// The capture date comes from the bytes loaded, and is exactly what reading the file gives: the
// same status and text, also where the EXIF block is hard to find or damaged.
TEST(PhotoFile, CaptureDateFromTheBytesIsTheFileReadersDate) {
  TempDirectory dir;
  const cv::Mat photo = small_photo();
  ASSERT_TRUE(write_demo_jpeg(dir / "dated.jpg", photo, 90, {true, "2012:04:02 09:05:03", {}}));
  const Bytes dated = read_bytes(dir / "dated.jpg");
  ASSERT_TRUE(write_demo_jpeg(dir / "original.jpg", photo, 90, {true, {}, "2012:04:01 18:00:00"}));
  ASSERT_TRUE(write_demo_jpeg(dir / "both.jpg", photo, 90,
                              {true, "2012:04:02 09:05:03", "2012:04:01 18:00:00"}));
  ASSERT_TRUE(write_demo_jpeg(dir / "no_exif.jpg", photo, 90, {false, {}, {}}));
  ASSERT_TRUE(write_demo_jpeg(dir / "odd.jpg", photo, 90, {true, "2019:12:31 23:59:58:7", {}}));
  write_bytes(dir / "comment_first.jpg", with_segment_first(dated, comment_segment(5)));
  write_bytes(dir / "long_comment_first.jpg", with_segment_first(dated, comment_segment(3000)));
  write_bytes(dir / "cut_in_exif.jpg", Bytes(dated.begin(), dated.begin() + 40));
  write_bytes(dir / "text.jpg", Bytes{'n', 'o', ' ', 'p', 'h', 'o', 't', 'o'});
  cv::imwrite(dir / "plain.png", photo);
  struct Case {
    const char* name;
    CaptureDate::Status status;
    const char* original;  // DateTimeOriginal as read
  } const cases[] = {
      {"dated.jpg", CaptureDate::found, ""},
      {"original.jpg", CaptureDate::no_entry, "2012-04-01 18:00:00"},
      {"both.jpg", CaptureDate::found, "2012-04-01 18:00:00"},
      {"no_exif.jpg", CaptureDate::no_exif_data, ""},
      {"odd.jpg", CaptureDate::found, ""},
      {"comment_first.jpg", CaptureDate::found, ""},
      {"long_comment_first.jpg", CaptureDate::found, ""},  // the EXIF block begins in the 4th kB
      {"cut_in_exif.jpg", CaptureDate::no_entry, ""},
      {"text.jpg", CaptureDate::no_exif_data, ""},
      {"plain.png", CaptureDate::no_exif_data, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    const CaptureDate reference = date_by_libexif_file_reader(path);
    EXPECT_EQ(reference.status, c.status);
    const Bytes bytes = read_bytes(path);
    for (const CaptureDate& date :
         {load_photograph_file(path).capture_date,
          capture_date_from_bytes(bytes.data(), bytes.size()), read_capture_date(path)}) {
      EXPECT_EQ(date.status, reference.status);
      EXPECT_EQ(date.text, reference.text);
      EXPECT_EQ(date.original_text, c.original);
    }
  }
}

// What cannot be loaded is refused with one line, as an undecodable photograph always was, and
// with the reason where one helps. None of these is decoded, and none makes the program wait.
TEST(PhotoFile, RefusedBeforeReadingOrDecoding) {
  TempDirectory dir;
  write_bytes(dir / "bomb.jpg", jpeg_claiming({20000, 20000}));
  write_bytes(dir / "bomb.png", png_claiming({32000, 32000}));
  ASSERT_TRUE(write_demo_jpeg(dir / "small.jpg", small_photo(), 90, {false, {}, {}}));
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0644), 0);
  ASSERT_EQ(symlink("fifo.jpg", (dir / "fifo_link.jpg").c_str()), 0);
  dir.make_directory("folder.jpg");
  dir.write("text.jpg", "no photograph");
  dir.write("empty.jpg", "");
  write_bytes(dir / "bitmap.jpg", encoded(".bmp", small_photo()));
  // Cut short: OpenCV would fill the missing rows with grey from a file and with garbage from
  // memory; a damaged photograph is not measured.
  Bytes cut = read_bytes(dir / "small.jpg");
  cut.resize(cut.size() * 2 / 3);
  write_bytes(dir / "cut.jpg", cut);
  struct Case {
    const char* name;
    PhotographLimits limits;
    PhotographFile::Status status;
    const char* reason;  // after "Cannot load the photograph PATH"
  } const cases[] = {
      {"bomb.jpg",
       {},
       PhotographFile::too_many_pixels,
       ": 20000 x 20000 pixels, more than the 250 megapixels allowed"},
      {"bomb.png",
       {},
       PhotographFile::too_many_pixels,
       ": 32000 x 32000 pixels, more than the 250 megapixels allowed"},
      {"small.jpg",
       {64 * 48 - 1, kMaxPhotographFileBytes},
       PhotographFile::too_many_pixels,
       ": 64 x 48 pixels, more than the 0.003071 megapixels allowed"},
      {"small.jpg", {64 * 48, kMaxPhotographFileBytes}, PhotographFile::loaded, ""},
      {"small.jpg",
       {kMaxPhotographPixels, 100},
       PhotographFile::too_many_bytes,
       ": the file is larger than the 100 bytes allowed"},
      {"fifo.jpg", {}, PhotographFile::not_regular, ": not a regular file"},
      {"fifo_link.jpg", {}, PhotographFile::not_regular, ": not a regular file"},
      {"folder.jpg", {}, PhotographFile::not_regular, ": not a regular file"},
      {"missing.jpg", {}, PhotographFile::cannot_open, ": No such file or directory"},
      {"text.jpg",
       {},
       PhotographFile::unknown_kind,
       ": not a JPEG or PNG file, or its header is damaged"},
      {"empty.jpg",
       {},
       PhotographFile::unknown_kind,
       ": not a JPEG or PNG file, or its header is damaged"},
      {"bitmap.jpg",
       {},
       PhotographFile::unknown_kind,
       ": not a JPEG or PNG file, or its header is damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    const PhotographFile photo = load_photograph_file(path, c.limits);
    EXPECT_EQ(photo.status, c.status);
    if (c.status == PhotographFile::loaded) {
      EXPECT_EQ(photo.message, "");
      EXPECT_FALSE(photo.image.empty());
    } else {
      EXPECT_EQ(photo.message, "Cannot load the photograph " + path + c.reason);
      EXPECT_TRUE(photo.image.empty());
    }
  }
}

// Photographs whose data is damaged, or whose header claims far more than the file holds, are
// refused before the decode with the decoder's reason on the one line, and the decoder's own
// lines stay off the terminal.
TEST(PhotoFile, DamagedDataIsRefusedWithItsReason) {
  TempDirectory dir;
  const cv::Mat photo = render_demo_photo({640, 480}, {1.1, 200, 300, 0, 320, 240});
  const Bytes whole = encoded(".jpg", photo);
  const std::size_t scan = whole.size() / 2;
  // Scan bytes overwritten by a marker that cannot stand there.
  Bytes marker_inside = whole;
  marker_inside[scan] = 0xFF;
  marker_inside[scan + 1] = 0xD5;
  write_bytes(dir / "marker_inside.jpg", marker_inside);
  // Scan bytes overwritten with noise.
  Bytes noise = whole;
  for (std::size_t i = scan; i < scan + 400; ++i) noise[i] = static_cast<unsigned char>(i * 37);
  write_bytes(dir / "noise.jpg", noise);
  // A file of 2 kB whose header claims 15000 x 15000 (within the pixel budget).
  Bytes forged = jpeg_claiming({15000, 15000});
  forged.insert(forged.end() - 2, 2048 - forged.size(), 0x00);
  write_bytes(dir / "forged.jpg", forged);
  Bytes png = encoded(".png", photo);
  png.resize(png.size() - 100);
  write_bytes(dir / "cut.png", png);
  const struct {
    const char* name;
    const char* reason;  // the start of what follows "Cannot load the photograph PATH: "
  } cases[] = {
      {"marker_inside.jpg", "the image data is damaged (Corrupt JPEG data"},
      {"noise.jpg", "the image data is damaged ("},
      {"forged.jpg", "its header claims 15000 x 15000 pixels, which take at least "},
      {"cut.png", "the file ends before its last chunk (damaged)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    testing::internal::CaptureStderr();
    const PhotographFile loaded = load_photograph_file(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(loaded.status, PhotographFile::cannot_decode);
    EXPECT_TRUE(loaded.image.empty());
    const std::string start = "Cannot load the photograph " + path + ": " + c.reason;
    EXPECT_EQ(loaded.message.substr(0, start.size()), start) << loaded.message;
    EXPECT_EQ(loaded.message.find('\n'), std::string::npos);
  }
  // The whole photograph still loads, as imread decodes it.
  write_bytes(dir / "whole.jpg", whole);
  const PhotographFile loaded = load_photograph_file(dir / "whole.jpg");
  ASSERT_EQ(loaded.status, PhotographFile::loaded) << loaded.message;
  EXPECT_EQ(cv::norm(loaded.image, cv::imread(dir / "whole.jpg"), cv::NORM_INF), 0);
}

// A header bomb costs no memory: in a fresh process whose peak resident size is reset first,
// refusing 20000 x 20000 and 32000 x 32000 claims (1.2 and 3 GB decoded) leaves the peak where it
// was. Outside the sanitizers the address space is also capped, so that even an allocation never
// touched would fail.
TEST(PhotoFile, AHeaderBombIsRefusedWithoutALargeAllocation) {
  TempDirectory dir;
  write_bytes(dir / "bomb.jpg", jpeg_claiming({20000, 20000}));
  write_bytes(dir / "huge.jpg", jpeg_claiming({32000, 32000}));
  write_bytes(dir / "bomb.png", png_claiming({32000, 32000}));
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM to the present size
    const long peak_before = status_kb("VmHWM:");
#if !defined(__SANITIZE_ADDRESS__)
    const rlimit cap{static_cast<rlim_t>(status_kb("VmSize:") + 256 * 1024) * 1024, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &cap);
#endif
    long refused = 0;
    for (const char* name : {"bomb.jpg", "huge.jpg", "bomb.png"})
      refused += load_photograph_file(dir / name).status == PhotographFile::too_many_pixels;
    const long measured[2] = {refused, status_kb("VmHWM:") - peak_before};
    (void)!write(report[1], measured, sizeof measured);
    _exit(0);
  }
  close(report[1]);
  long measured[2] = {-1, -1};
  EXPECT_EQ(read(report[0], measured, sizeof measured), static_cast<ssize_t>(sizeof measured));
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(measured[0], 3);
  EXPECT_LT(measured[1], 16 * 1024) << "peak resident size grew by " << measured[1] << " kB";
}

// The stamp of the bytes read tells whether the file at the path is still that file.
TEST(PhotoFile, StampTellsAChangedFileFromTheOneLoaded) {
  struct Case {
    const char* what;
    std::function<void(const TempDirectory&)> change;
    bool same;
  } const cases[] = {
      {"left alone", [](const TempDirectory&) {}, true},
      {"read again", [](const TempDirectory& dir) { (void)load_photograph_file(dir / "p.jpg"); },
       true},
      {"rewritten with the same size and its old modification time",
       [](const TempDirectory& dir) {
         struct stat before {};
         ASSERT_EQ(stat((dir / "p.jpg").c_str(), &before), 0);
         Bytes bytes = read_bytes(dir / "p.jpg");
         bytes[bytes.size() / 2] ^= 0x55;
         write_bytes(dir / "p.jpg", bytes);
         const timespec times[2] = {before.st_atim, before.st_mtim};
         ASSERT_EQ(utimensat(AT_FDCWD, (dir / "p.jpg").c_str(), times, 0), 0);
       },
       false},
      {"replaced by another file",
       [](const TempDirectory& dir) {
         write_bytes(dir / "other.jpg", read_bytes(dir / "p.jpg"));
         ASSERT_EQ(std::rename((dir / "other.jpg").c_str(), (dir / "p.jpg").c_str()), 0);
       },
       false},
      {"grown by a byte",
       [](const TempDirectory& dir) { std::ofstream(dir / "p.jpg", std::ios::app) << 'x'; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    ASSERT_TRUE(write_demo_jpeg(dir / "p.jpg", small_photo(), 90, {false, {}, {}}));
    const PhotographFile photo = load_photograph_file(dir / "p.jpg");
    ASSERT_EQ(photo.status, PhotographFile::loaded);
    EXPECT_EQ(photo.stamp.size_bytes, static_cast<std::int64_t>(read_bytes(dir / "p.jpg").size()));
    c.change(dir);
    const std::optional<PhotographFileStamp> now = photograph_file_stamp(dir / "p.jpg");
    ASSERT_TRUE(now.has_value());
    EXPECT_EQ(*now == photo.stamp, c.same);
  }
  TempDirectory dir;
  EXPECT_FALSE(photograph_file_stamp(dir / "deleted.jpg").has_value());
}
