// Keys c and y on "Output": the scale read from this photograph, shown and handed back with the
// fit; the last photograph's scale carried over only when asked, and said so in the title.
#include <opencv2/highgui.hpp>

#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class ScaleKeys : public WindowTest {
 protected:
  TempDirectory dir_;
};

SessionScale ruler_scale() {
  SessionScale scale;
  scale.method = "ruler";
  scale.px_per_mm = 11.5;
  scale.px_per_mm_se = 0.004;
  scale.note = "40 ticks";
  for (int k = 0; k < 40; ++k) scale.marks.emplace_back(100.0f + 11.5f * k, 820.0f);
  return scale;
}

std::string output_title() {
  QWidget* output = window(kOutputWindow);
  return output ? output->windowTitle().toStdString() : std::string();
}

}  // namespace

TEST_F(ScaleKeys, EachKeyGivesThisPhotographItsScaleOrSaysWhyNot) {
  const std::string photo = write_photo(dir_, "a.png", 1200, 900);
  SessionScale carried = ruler_scale();
  carried.from = "4";
  SessionScale not_found;
  not_found.note = "no ruler";
  const struct {
    const char* what;
    bool can_read;
    SessionScale found;  // what reading the photograph gives
    SessionScale carried;
    char key;
    char end;
    const char* method;  // the result's scale; empty: none
    const char* said;    // on standard output
    const char* title;   // in the Output title after the key; empty: no scale there
  } cases[] = {
      {"c finds a ruler",
       true,
       ruler_scale(),
       {},
       'c',
       '\r',
       "ruler",
       "Scale: scale 11.5 px/mm from the ruler (40 ticks).\n",
       " - scale 11.5 px/mm from the ruler (40 ticks)"},
      {"c finds nothing", true, not_found, carried, 'c', '\r', "",
       "No scale found (no ruler): the values stay in pixels.\n", ""},
      {"c where no scale can be read",
       false,
       {},
       carried,
       'c',
       '\r',
       "",
       "No scale can be read here.\n",
       ""},
      {"y carries the last one over", true, ruler_scale(), carried, 'y', '\r', "carried",
       "Scale: scale 11.5 px/mm carried over from file 4.\n", "carried over from file 4"},
      {"y with nothing to carry",
       true,
       ruler_scale(),
       {},
       'y',
       '\r',
       "",
       "No scale of an earlier photograph to carry over.\n",
       ""},
      {"c, then ESC", true, ruler_scale(), {}, 'c', 27, "", "Scale: scale 11.5", "scale 11.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SessionStart start;
    cv::Size read_size;
    if (c.can_read) {
      start.read_scale = [&](const cv::Mat& photograph) {
        read_size = photograph.size();
        return c.found;
      };
    }
    start.carried_scale = c.carried;
    std::string title;
    bool scale_window = false;
    ScriptedUser user(measuring_, {key(c.key),
                                   [&] {
                                     title = output_title();
                                     scale_window = window("Scale") != nullptr;
                                   },
                                   key(c.end)});
    testing::internal::CaptureStdout();
    const std::optional<SessionResult> result = measuring_.measure_photo(photo, start);
    const std::string output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(user.finished());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->scale.method, c.method);
    EXPECT_EQ(result->scale.found(), *c.method != 0);
    EXPECT_EQ(result->keys, std::string(1, c.key));
    EXPECT_NE(output.find(c.said), std::string::npos) << output;
    if (*c.title) {
      EXPECT_NE(title.find(c.title), std::string::npos) << title;
    } else {
      EXPECT_EQ(title.find("scale"), std::string::npos) << title;
    }
    // Key c reads the whole photograph, and shows what it found in a window of its own.
    if (c.key == 'c' && c.can_read) {
      EXPECT_EQ(read_size, cv::Size(1200, 900));
    }
    EXPECT_EQ(scale_window, c.key == 'c' && c.found.found());
    if (*c.method) {
      EXPECT_EQ(result->scale.px_per_mm, 11.5);
      EXPECT_EQ(result->scale.from, std::string(c.key == 'y' ? "4" : ""));
    }
  }
}
