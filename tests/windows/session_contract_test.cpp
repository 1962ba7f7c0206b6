// The measurement session's call contract, driven through real windows: ENTER hands every value
// back, ESC (and everything that cancels) writes only the cancel marker.
#include <fstream>
#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class SessionContract : public WindowTest {
 protected:
  TempDirectory dir_;
};

// Values a cancel must leave exactly as the caller passed them.
SessionValues marked_values() {
  SessionValues values;
  values.threshold = 77;
  values.energy = -3;
  values.roi_x = 5, values.roi_y = 6, values.roi_width = 7, values.roi_height = 8;
  values.cut_off_top = 9, values.cut_off_bottom = 10;
  return values;
}

void expect_cancelled(const MeasuringWindow& measuring, const SessionValues& values) {
  EXPECT_EQ(values.lambda, 9999.0);
  EXPECT_EQ(values.threshold, 77);
  EXPECT_EQ(values.energy, -3);
  EXPECT_EQ(values.roi_x, 5);
  EXPECT_EQ(values.roi_y, 6);
  EXPECT_EQ(values.roi_width, 7);
  EXPECT_EQ(values.roi_height, 8);
  EXPECT_EQ(values.cut_off_top, 9);
  EXPECT_EQ(values.cut_off_bottom, 10);
  EXPECT_EQ(window(kOutputWindow), nullptr);
  EXPECT_EQ(window(kTrackbarsWindow), nullptr);
  EXPECT_TRUE(measuring.state.source_image.empty());
  EXPECT_FALSE(measuring.running());
}

// A real 16 x 16 JPEG whose frame header claims `size`: a decoder that trusts it makes an image
// of that size, grey where the data runs out.
std::vector<unsigned char> jpeg_claiming(cv::Size size) {
  std::vector<unsigned char> jpeg;
  cv::imencode(".jpg", cv::Mat(16, 16, CV_8UC3, cv::Scalar(90, 120, 200)), jpeg);
  for (std::size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || jpeg[i + 1] != 0xC0) continue;  // the baseline frame header
    jpeg[i + 5] = static_cast<unsigned char>(size.height >> 8);
    jpeg[i + 6] = static_cast<unsigned char>(size.height);
    jpeg[i + 7] = static_cast<unsigned char>(size.width >> 8);
    jpeg[i + 8] = static_cast<unsigned char>(size.width);
    break;
  }
  return jpeg;
}

}  // namespace

TEST_F(SessionContract, EnterHandsBackTheStartValuesAndTheFirstEnergy) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  SessionValues values;
  values.threshold = 120;
  values.cut_off_top = 3;
  values.cut_off_bottom = 4;
  double energy_shown = -1;
  ScriptedUser user(measuring_, {[&] { energy_shown = measuring_.state.energy; }, key('\r')});
  values.run(measuring_, photo);
  EXPECT_EQ(values.lambda, 1.1);
  EXPECT_EQ(values.threshold, 120);
  EXPECT_NE(energy_shown, -1);
  EXPECT_EQ(values.energy, energy_shown);
  EXPECT_EQ(values.cut_off_top, 3);
  EXPECT_EQ(values.cut_off_bottom, 4);
  EXPECT_EQ(values.roi_width, 0);
  EXPECT_EQ(values.roi_height, 0);
  // The session ends with every image window closed and its images released.
  EXPECT_EQ(window(kOutputWindow), nullptr);
  EXPECT_EQ(window(kDeviationWindow), nullptr);
  const FitState& state = measuring_.state;
  for (const cv::Mat* image :
       {&state.source_image, &state.overlay_image, &state.mask_image, &state.target.distance_image,
        &state.output_display, &state.distance_display, &state.binary_display}) {
    EXPECT_TRUE(image->empty());
  }
  EXPECT_FALSE(state.deviation_image.empty());  // kept until the next session
  EXPECT_FALSE(measuring_.running());
}

TEST_F(SessionContract, StartValuesOfEverySession) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    double lambda;
    int lambda_milli;
  } const cases[] = {{1.1, 1100}, {1.001, 1001}, {1.234, 1234}, {0.0, 0}, {6.0, 6000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lambda);
    measuring_.state.model.rotation = 17;
    measuring_.state.show_input = 3;
    SessionValues values;
    values.lambda = c.lambda;
    int lambda_trackbar = -1, rotation = -1, show_input = -1;
    cv::Size deviation;
    ScriptedUser user(measuring_,
                      {[&] {
                         lambda_trackbar = cv::getTrackbarPos(kLambdaTrackbar, kTrackbarsWindow);
                         rotation = cv::getTrackbarPos(kRotationTrackbar, kTrackbarsWindow);
                         show_input = cv::getTrackbarPos(kShowInputTrackbar, kTrackbarsWindow);
                         deviation = measuring_.state.deviation_image.size();
                       },
                       key('\r')});
    values.run(measuring_, photo);
    EXPECT_EQ(lambda_trackbar, c.lambda_milli);
    EXPECT_EQ(values.lambda, c.lambda);
    EXPECT_EQ(rotation, 325);
    EXPECT_EQ(show_input, 90);
    EXPECT_EQ(deviation, cv::Size(600, 100));
  }
}

TEST_F(SessionContract, EscapeWritesOnlyTheCancelMarker) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  SessionValues values = marked_values();
  ScriptedUser user(measuring_, {key('t'), key(27)});
  values.run(measuring_, photo);
  expect_cancelled(measuring_, values);
}

TEST_F(SessionContract, ClosingTheOutputWindowByHandCancels) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  SessionValues values = marked_values();
  ScriptedUser user(measuring_, {[] { window(kOutputWindow)->close(); }});
  values.run(measuring_, photo);
  expect_cancelled(measuring_, values);
}

TEST_F(SessionContract, ACancelRequestEndsTheSessionAsCancelled) {
  // What the main window does when it is closed during a measurement.
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  SessionValues values = marked_values();
  bool running_inside = false;
  ScriptedUser user(measuring_, {[&] {
                      running_inside = measuring_.running();
                      measuring_.request_cancel();
                    }});
  values.run(measuring_, photo);
  EXPECT_TRUE(running_inside);
  expect_cancelled(measuring_, values);
}

TEST_F(SessionContract, ASecondSessionCannotStartWhileOneRuns) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  SessionValues first, second = marked_values();
  ScriptedUser user(measuring_, {[&] { second.run(measuring_, photo); }, key('\r')});
  first.run(measuring_, photo);
  EXPECT_EQ(first.lambda, 1.1);  // the running session went on and was accepted
  EXPECT_EQ(second.lambda, 9999.0);
  EXPECT_EQ(second.threshold, 77);
  EXPECT_EQ(second.roi_width, 7);
}

TEST_F(SessionContract, AnUnloadablePhotographCancelsWithALineNamingIt) {
  const std::string jpeg = write_photo(dir_, "whole.jpg", 400, 300);
  std::string jpeg_bytes;
  {
    std::ifstream in(jpeg, std::ios::binary);
    jpeg_bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  struct Case {
    const char* name;
    std::string content;
    bool create;
  } const cases[] = {
      {"missing.jpg", "", false},
      {"empty.jpg", "", true},
      {"text.jpg", "this is not a photograph\n", true},
      {"truncated.jpg", jpeg_bytes.substr(0, 120), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_.file(c.name);
    if (c.create) std::ofstream(path, std::ios::binary) << c.content;
    SessionValues values = marked_values();
    testing::internal::CaptureStdout();
    values.run(measuring_, path);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find(path + "\n"), std::string::npos) << output;
    expect_cancelled(measuring_, values);
  }
}

// Key q shows the photograph as the session loaded it: whatever became of the file since, the
// session goes on with the same pixels.
TEST_F(SessionContract, APhotographGoneOrSpoiledBeforeReloadIsShownAsLoaded) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> spoil;
  } const cases[] = {
      {"deleted", [](const std::string& path) { std::filesystem::remove(path); }},
      {"replaced", [](const std::string& path) { std::ofstream(path) << "no image\n"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string photo = write_photo(dir_, "a.png", 400, 300);
    const cv::Mat loaded = cv::imread(photo, cv::IMREAD_COLOR);
    SessionValues values = marked_values();
    double difference = -1;
    ScriptedUser user(measuring_, {[&] { c.spoil(photo); }, key('q'),
                                   [&] {
                                     const cv::Mat& shown = measuring_.state.source_image;
                                     difference = shown.size() == loaded.size()
                                                      ? cv::norm(shown, loaded, cv::NORM_INF)
                                                      : 1e9;
                                   },
                                   key('\r')});
    values.run(measuring_, photo);
    EXPECT_EQ(difference, 0);
    EXPECT_EQ(values.lambda, 1.1);
    EXPECT_EQ(measuring_.state.model.width, 2400);  // set up again: 6 W
  }
}

TEST_F(SessionContract, EveryDecodableImageRuns) {
  const std::string grey = dir_.file("grey.png");
  cv::imwrite(grey, cv::Mat(120, 90, CV_8UC1, cv::Scalar(200)));
  const std::string one_pixel = dir_.file("one.png");
  cv::imwrite(one_pixel, cv::Mat(1, 1, CV_8UC3, cv::Scalar(255, 255, 255)));
  const std::string sixteen_bit = dir_.file("deep.png");
  cv::imwrite(sixteen_bit, cv::Mat(50, 70, CV_16UC3, cv::Scalar(60000, 1000, 30000)));
  const std::string thin = dir_.file("thin.png");
  cv::imwrite(thin, cv::Mat(700, 1, CV_8UC3, cv::Scalar(255, 255, 255)));
  struct Case {
    std::string path;
    cv::Size size;  // as shown: upright
  } const cases[] = {
      {grey, {90, 120}},
      {one_pixel, {1, 1}},
      {sixteen_bit, {70, 50}},
      {thin, {1, 700}},
      {std::string(MERAVEL_TEST_DATA) + "/cmyk.jpg", {40, 30}},
      // 60 x 20 stored, EXIF orientation 6 (turned 90 degrees clockwise to be seen upright).
      {std::string(MERAVEL_TEST_DATA) + "/orientation_6.jpg", {20, 60}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SessionValues values;
    cv::Size shown;
    int type = -1;
    ScriptedUser user(measuring_, {[&] {
                                     shown = measuring_.state.source_image.size();
                                     type = measuring_.state.source_image.type();
                                   },
                                   key('r'), key('\r')});
    values.run(measuring_, c.path);
    EXPECT_EQ(values.lambda, 1.0);  // accepted, after key r set lambda to 1
    EXPECT_EQ(shown, c.size);
    EXPECT_EQ(type, CV_8UC3);
  }
}

TEST_F(SessionContract, AVeryLargePhotographIsShownScaledAndClickedInItsOwnPixels) {
  const std::string large = write_photo(dir_, "large.jpg", 6000, 4000);
  SessionValues values;
  cv::Size shown, view;
  ScriptedUser user(measuring_, {[&] {
                                   shown = measuring_.state.source_image.size();
                                   view = measuring_.state.output_display.size();
                                 },
                                 key('m'), click(400, 300), key('\r')});
  values.run(measuring_, large);
  EXPECT_EQ(values.lambda, 1.1);
  EXPECT_EQ(shown, cv::Size(6000, 4000));
  EXPECT_EQ(view, cv::Size(800, 533));
  EXPECT_EQ(measuring_.state.clicks.first().x, 3000);  // s = 6000 / 800 = 7.5
  EXPECT_EQ(measuring_.state.clicks.first().y, 2250);
}

// The typed form: how the session ended, with the accepted values, or the start's when nothing
// was accepted; nothing at all for a call while a session runs.
TEST_F(SessionContract, MeasurePhotoTellsHowTheSessionEnded) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  // 16000 x 16000 pixels, beyond the budget: refused before anything is decoded.
  const std::string bomb = dir_.file("bomb.jpg");
  const std::vector<unsigned char> bomb_bytes = jpeg_claiming({16000, 16000});
  std::ofstream(bomb, std::ios::binary)
      .write(reinterpret_cast<const char*>(bomb_bytes.data()),
             static_cast<std::streamsize>(bomb_bytes.size()));
  SessionStart start;
  start.threshold = 120;
  start.lambda = 1.25;
  start.region = cv::Rect(20, 10, 300, 200);
  start.cut_offs = {3, 4};
  const struct {
    const char* what;
    std::string path;
    std::vector<std::function<void()>> steps;
    SessionEnd end;
  } cases[] = {
      {"ENTER", photo, {key('r'), key('\r')}, SessionEnd::kAccepted},
      {"ESC", photo, {key('r'), key(27)}, SessionEnd::kCancelled},
      {"Output closed", photo, {[] { window(kOutputWindow)->close(); }}, SessionEnd::kOutputClosed},
      {"cancel requested",
       photo,
       {[this] { measuring_.request_cancel(); }},
       SessionEnd::kCancelRequested},
      {"no photograph", dir_.file("missing.png"), {}, SessionEnd::kPhotographUnreadable},
      {"beyond the pixel budget", bomb, {}, SessionEnd::kPhotographUnreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ModelParameters shown;
    cv::Point origin(-1, -1);
    std::vector<std::function<void()>> steps = {[&] {
      shown = measuring_.state.model;
      origin = measuring_.state.source_origin_in_photo;
    }};
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    std::optional<SessionResult> nested = SessionResult();
    steps.insert(steps.begin(), [&] { nested = measuring_.measure_photo(photo, start); });
    testing::internal::CaptureStdout();
    ScriptedUser user(measuring_, steps);
    const std::optional<SessionResult> result = measuring_.measure_photo(c.path, start);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->end, c.end) << *result;
    if (c.end == SessionEnd::kPhotographUnreadable) continue;  // no key wait was reached
    EXPECT_FALSE(nested.has_value());
    if (c.end == SessionEnd::kAccepted) {
      EXPECT_EQ(result->threshold, 120);
      EXPECT_EQ(result->lambda, 1.0);  // key r's lambda reset
      EXPECT_EQ(result->model, measuring_.state.model) << "the fields at ENTER";
      EXPECT_NE(result->model, shown);
      EXPECT_EQ(result->region, start.region);
      EXPECT_EQ(result->model_origin_in_photo, cv::Point(20, 10));
      EXPECT_EQ(origin, cv::Point(20, 10));
      EXPECT_GT(result->energy, 0.0);
    } else {
      EXPECT_EQ(result->threshold, start.threshold);
      EXPECT_EQ(result->lambda, start.lambda);
      EXPECT_EQ(result->region, start.region);
      EXPECT_EQ(result->cut_offs.top, 3);
      EXPECT_EQ(result->energy, 0.0);
      EXPECT_EQ(result->model, ModelParameters());
    }
    EXPECT_FALSE(measuring_.running());
  }
}
