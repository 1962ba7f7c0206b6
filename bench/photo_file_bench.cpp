// Loading a photograph: the whole file read into memory, its header checked against the pixel
// budget, decoded from memory and its capture date read from the same bytes (load_photograph_file),
// beside cv::imread of the same file; and the refusal of a header bomb, an 800-byte JPEG whose
// frame header claims 20000 x 20000 pixels; the check of the JPEG data before the decode, and the
// refusal of a 2 kB file claiming 15000 x 15000.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <string>

#include "bench/bench_stats.h"
#include "series/jpeg_check.h"
#include "series/photo_file.h"
#include "tools/demo_photo.h"

using namespace meravel;

namespace {

std::string bench_path(const std::string& name) {
  return "/tmp/meravel_photo_bench_" + std::to_string(getpid()) + "_" + name;
}

const std::string& demo_jpeg(cv::Size size) {
  static std::string paths[2];
  std::string& path = paths[size.width > 4000 ? 1 : 0];
  if (path.empty()) {
    path = bench_path(std::to_string(size.width) + ".jpg");
    const cv::Mat photo = render_demo_photo(
        size, {1.1, size.width * 0.3, size.height * 0.4, 10, size.width / 2.0, size.height / 2.0});
    write_demo_jpeg(path, photo, 90, {true, "2012:04:02 09:05:03", {}});
  }
  return path;
}

// A 16 x 16 JPEG whose header claims `claimed` x `claimed` pixels, padded with zeros to
// `padded_bytes` (0: as encoded), written to `name` in the benchmark's folder.
std::string forged_jpeg(const char* name, int claimed, std::size_t padded_bytes) {
  std::vector<unsigned char> jpeg;
  cv::imencode(".jpg", cv::Mat(16, 16, CV_8UC3, cv::Scalar(90, 120, 200)), jpeg);
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      for (std::size_t at : {i + 5, i + 7}) {
        jpeg[at] = static_cast<unsigned char>(claimed >> 8);
        jpeg[at + 1] = static_cast<unsigned char>(claimed & 0xFF);
      }
      break;
    }
  }
  if (padded_bytes > jpeg.size()) jpeg.insert(jpeg.end() - 2, padded_bytes - jpeg.size(), 0);
  const std::string path = bench_path(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  return path;
}

const std::string& header_bomb() {
  static const std::string path = forged_jpeg("bomb.jpg", 20000, 0);
  return path;
}

void BM_LoadPhotographFile(benchmark::State& bench, cv::Size size) {
  const std::string& path = demo_jpeg(size);
  for (auto _ : bench) benchmark::DoNotOptimize(load_photograph_file(path).image.data);
}

void BM_Imread(benchmark::State& bench, cv::Size size) {
  const std::string& path = demo_jpeg(size);
  for (auto _ : bench) benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_COLOR).data);
}

// The check of the JPEG data that comes before the decode (a decode at 1/8 with the decoder's
// warnings as errors): its share of a load.
void BM_JpegDataCheck(benchmark::State& bench, cv::Size size) {
  std::ifstream file(demo_jpeg(size), std::ios::binary);
  const std::vector<unsigned char> bytes(std::istreambuf_iterator<char>(file), {});
  for (auto _ : bench) {
    if (!jpeg_data_problem(bytes).empty()) bench.SkipWithError("refused");
  }
}

// A 2 kB file whose header claims 15000 x 15000 pixels, within the pixel budget: refused by the
// count of blocks its bytes can hold instead of a decode of 675 MB.
void BM_RefuseForgedHeader(benchmark::State& bench) {
  static const std::string path = forged_jpeg("forged.jpg", 15000, 2048);
  for (auto _ : bench) {
    const PhotographFile photo = load_photograph_file(path);
    if (photo.status != PhotographFile::cannot_decode) bench.SkipWithError("not refused");
  }
}

void BM_RefuseHeaderBomb(benchmark::State& bench) {
  const std::string& path = header_bomb();
  for (auto _ : bench) {
    const PhotographFile photo = load_photograph_file(path);
    if (photo.status != PhotographFile::too_many_pixels) bench.SkipWithError("not refused");
  }
}

void register_benchmarks() {
  for (cv::Size size : {cv::Size(3000, 2000), cv::Size(6000, 4000)}) {
    const std::string suffix = "/" + std::to_string(size.width) + "x" + std::to_string(size.height);
    for (auto [name, function] :
         {std::pair{"load_photograph_file", BM_LoadPhotographFile}, std::pair{"imread", BM_Imread},
          std::pair{"jpeg_data_check", BM_JpegDataCheck}}) {
      with_min_max(benchmark::RegisterBenchmark((name + suffix).c_str(), function, size)
                       ->Unit(benchmark::kMillisecond)
                       ->UseRealTime()
                       ->Iterations(size.width > 4000 ? 4 : 8));
    }
  }
  with_min_max(benchmark::RegisterBenchmark("refuse_header_bomb/20000x20000", BM_RefuseHeaderBomb)
                   ->Unit(benchmark::kMicrosecond)
                   ->UseRealTime());
  with_min_max(
      benchmark::RegisterBenchmark("refuse_forged_header/15000x15000_2kB", BM_RefuseForgedHeader)
          ->Unit(benchmark::kMicrosecond)
          ->UseRealTime());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  register_benchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string& path : {bench_path("3000.jpg"), bench_path("6000.jpg"),
                                  bench_path("bomb.jpg"), bench_path("forged.jpg")})
    std::remove(path.c_str());
  return 0;
}
