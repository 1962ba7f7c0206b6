// What a session shows of the fit in its own windows: the Output title after every change and
// while clicks are awaited, and the warnings before a fit is accepted.
#include <QWidget>
#include <opencv2/highgui.hpp>

#include "fit/fit_warnings.h"
#include "stdout_capture.h"
#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class SessionStatus : public WindowTest {
 protected:
  TempDirectory dir_;
};

std::string output_title() { return window(kOutputWindow)->windowTitle().toStdString(); }

std::function<void()> record_title(std::string* title) {
  return [title] { *title = output_title(); };
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A light ellipse cut by the photograph's left border.
std::string write_cut_photo(const TempDirectory& dir) {
  const std::string path = dir.file("cut.png");
  cv::imwrite(path, make_photo(400, 300, cv::Point(20, 150), cv::Size(70, 100)));
  return path;
}

}  // namespace

TEST_F(SessionStatus, TitleShowsEnergyAndLambdaAfterEveryChange) {
  // An object clearly longer than broad: key a fits the near-round one of a 400 x 300 photograph
  // (162 x 202 px) with its axis across, which the title warns of.
  const std::string photo = write_photo(dir_, "a.png", 300, 400);
  std::string at_start, after_l, after_a;
  double energy_after_a = 0;
  ScriptedUser user(measuring_,
                    {record_title(&at_start), key('l'), record_title(&after_l), key('a'),
                     [&] {
                       after_a = output_title();
                       energy_after_a = measuring_.state.energy;
                     },
                     key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(photo, SessionStart());
  ASSERT_TRUE(user.finished());
  EXPECT_TRUE(contains(at_start, "lambda 1.1")) << at_start;
  EXPECT_TRUE(contains(after_l, "lambda 1")) << after_l;
  EXPECT_FALSE(contains(after_l, "lambda 1.1")) << after_l;
  std::ostringstream energy_text;
  energy_text << "energy " << energy_after_a << " px";
  EXPECT_TRUE(contains(after_a, energy_text.str())) << after_a;
  EXPECT_FALSE(contains(after_a, "Warning")) << after_a;
  // Length and breadth beside lambda; with their errors only for the automatic fit's values.
  for (const std::string* title : {&at_start, &after_l, &after_a}) {
    EXPECT_TRUE(contains(*title, " px, breadth ")) << *title;
    EXPECT_EQ(contains(*title, "+/- "), title == &after_a) << *title;
  }
  ASSERT_TRUE(result && result->accepted());
  EXPECT_FALSE(result->warnings.any());
  // Accepted as key a left them, the values carry key a's standard errors into the record.
  EXPECT_GT(result->uncertainty.length_se_px, 0.0);
  EXPECT_GT(result->uncertainty.lambda_se, 0.0);
}

TEST_F(SessionStatus, PromptsOfTheClickKeysShowInTheTitleUntilTheSecondClick) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    char key;
    const char* prompt;
  } const cases[] = {{'m', "top, then its bottom"}, {'s', "two corners"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::string armed, after_one, after_two;
    ScriptedUser user(measuring_,
                      {key(c.key), record_title(&armed), click(200, 100), record_title(&after_one),
                       click(600, 500), record_title(&after_two), key(27)});
    measuring_.measure_photo(photo, SessionStart());
    ASSERT_TRUE(user.finished());
    EXPECT_TRUE(contains(armed, c.prompt)) << armed;
    EXPECT_TRUE(contains(after_one, c.prompt)) << after_one;
    EXPECT_FALSE(contains(after_two, c.prompt)) << after_two;
    EXPECT_TRUE(contains(after_two, "energy")) << after_two;
  }
}

TEST_F(SessionStatus, WarningsShowInTheTitleAndOnceOnTheConsoleWithoutStoppingEnter) {
  struct Case {
    const char* what;
    std::string photo;
    bool warned;
  } const cases[] = {
      {"object inside", write_photo(dir_, "a.png", 300, 400), false},
      {"object cut by the border", write_cut_photo(dir_), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string title;
    StdoutCapture out;
    ScriptedUser user(measuring_, {key('a'), record_title(&title), key('\r')});
    const std::optional<SessionResult> result = measuring_.measure_photo(c.photo, SessionStart());
    ASSERT_TRUE(user.finished());
    ASSERT_TRUE(result && result->accepted());
    EXPECT_EQ(result->warnings.outline_touches_frame, c.warned);
    EXPECT_EQ(contains(title, "Warning: the outline touches the image frame"), c.warned) << title;
    const std::string console = out.text();
    const size_t first = console.find("Warning: ");
    EXPECT_EQ(first != std::string::npos, c.warned) << console;
    if (c.warned) {
      EXPECT_EQ(console.find("Warning: ", first + 1), std::string::npos) << console;
      EXPECT_TRUE(contains(console, fit_warnings_text(result->warnings) + "\n")) << console;
    }
  }
}

TEST_F(SessionStatus, UpperCaseKeysAreToldOncePerSession) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  for (int session = 0; session < 2; ++session) {
    SCOPED_TRACE(session);
    StdoutCapture out;
    ScriptedUser user(measuring_,
                      {[] { post_key(Qt::Key_L, "L"); },
                       [] { post_key(Qt::Key_A, "A", Qt::ShiftModifier); }, key('l'), key(27)});
    measuring_.measure_photo(photo, SessionStart());
    ASSERT_TRUE(user.finished());
    const std::string console = out.text();
    const std::string line = "Keys are lower case (is Caps Lock on?)\n";
    const size_t first = console.find(line);
    EXPECT_NE(first, std::string::npos) << console;
    EXPECT_EQ(console.find(line, first + 1), std::string::npos) << console;
  }
}
