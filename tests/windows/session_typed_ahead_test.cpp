// Keys typed faster than the session computes, and the save step that ENTER runs: every key has
// its effect, in the order typed, and a failed save keeps the fit to be saved again.
#include <QCoreApplication>
#include <QKeyEvent>
#include <atomic>
#include <opencv2/highgui.hpp>
#include <thread>

#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

QKeyEvent* key_event(char c) {
  if (c == '\r') return new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
  return new QKeyEvent(QEvent::KeyPress, Qt::Key_A + (c - 'a'), Qt::NoModifier, QString(QChar(c)));
}

// What a session's end shows of the fit it accepted.
struct Fit {
  double lambda = 0, energy = 0;
  int width = 0, height = 0, rotation = 0, translation_x = 0, translation_y = 0;
  int optimiser_runs = 0;  // "Optimising..." lines
  int status_lines = 0;    // "energy=" lines

  bool operator==(const Fit& o) const {
    return lambda == o.lambda && energy == o.energy && width == o.width && height == o.height &&
           rotation == o.rotation && translation_x == o.translation_x &&
           translation_y == o.translation_y && optimiser_runs == o.optimiser_runs &&
           status_lines == o.status_lines;
  }
};

std::ostream& operator<<(std::ostream& out, const Fit& f) {
  return out << "lambda " << f.lambda << ", energy " << f.energy << ", width " << f.width
             << ", height " << f.height << ", rotation " << f.rotation << ", translation ("
             << f.translation_x << ", " << f.translation_y << "), " << f.optimiser_runs
             << " optimiser runs, " << f.status_lines << " status lines";
}

class SessionTypedAhead : public WindowTest {
 protected:
  // Runs a session over `photo` with a scripted user's `steps`, and returns its accepted fit.
  Fit fit_of(const std::string& photo, std::vector<std::function<void()>> steps) {
    testing::internal::CaptureStdout();
    std::optional<SessionResult> result;
    {
      ScriptedUser user(measuring_, std::move(steps));
      result = measuring_.measure_photo(photo, SessionStart());
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    Fit fit;
    EXPECT_TRUE(result && result->accepted()) << printed;
    if (!result) return fit;
    fit.lambda = result->lambda;
    fit.energy = result->energy;
    fit.width = result->model.width;
    fit.height = result->model.height;
    fit.rotation = result->model.rotation;
    fit.translation_x = result->model.translation_x;
    fit.translation_y = result->model.translation_y;
    fit.optimiser_runs = count_of(printed, "Optimising...\n");
    fit.status_lines = count_of(printed, "energy=");
    return fit;
  }

  // `type` types all the keys in the session's first key wait.
  Fit fit_typed(const std::string& photo, const std::function<void()>& type) {
    return fit_of(photo, {type});
  }

  // The same keys typed one by one, each once the session waits again.
  Fit fit_one_by_one(const std::string& photo, const std::string& keys) {
    std::vector<std::function<void()>> steps;
    for (char c : keys) steps.push_back(key(c));
    return fit_of(photo, steps);
  }

  TempDirectory dir_;
};

}  // namespace

// Posted at once, all keys reach the event loop in the same pass while the first one's
// computation has not even started; typed from another thread every 5 ms, they arrive while the
// optimiser runs. Either way the session ends with the fit of the keys typed one by one.
TEST_F(SessionTypedAhead, KeysTypedDuringAComputationAllRunInOrder) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    const char* keys;  // ending with ENTER
    int optimiser_runs;
  } const cases[] = {
      {"au\r", 2}, {"pu\r", 4}, {"ppp\r", 9}, {"oip\r", 5}, {"rpa\r", 4}, {"ltpqu\r", 4},
  };
  enum class Typing { at_once, every_5_ms };
  for (const Case& c : cases) {
    const Fit expected = fit_one_by_one(photo, c.keys);
    EXPECT_EQ(expected.optimiser_runs, c.optimiser_runs) << c.keys;
    for (Typing typing : {Typing::at_once, Typing::every_5_ms}) {
      SCOPED_TRACE(std::string(c.keys) +
                   (typing == Typing::at_once ? " posted at once" : " typed every 5 ms"));
      std::thread typist;
      const Fit fit = fit_typed(photo, [&] {
        QWidget* output = window(kOutputWindow);
        const std::string keys = c.keys;
        if (typing == Typing::at_once) {
          for (char k : keys) QCoreApplication::postEvent(output, key_event(k));
          return;
        }
        // postEvent may be called from any thread; the session computes on this one meanwhile.
        typist = std::thread([output, keys] {
          for (char k : keys) {
            QCoreApplication::postEvent(output, key_event(k));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        });
      });
      if (typist.joinable()) typist.join();
      EXPECT_EQ(fit, expected);
    }
  }
}

// Thirty p typed ahead run thirty times: ninety optimiser passes, then ENTER.
TEST_F(SessionTypedAhead, ThirtyKeysTypedAheadAreNotCutShort) {
  const std::string photo = write_photo(dir_, "small.png", 200, 150);
  const Fit fit = fit_typed(photo, [] {
    for (int i = 0; i < 30; ++i) QCoreApplication::postEvent(window(kOutputWindow), key_event('p'));
    QCoreApplication::postEvent(window(kOutputWindow), key_event('\r'));
  });
  EXPECT_EQ(fit.optimiser_runs, 90);
}

// ENTER runs the save step with the values the session would hand back; until it succeeds the
// session goes on, says so in one line each time, and ESC still cancels.
TEST_F(SessionTypedAhead, AFailedSaveKeepsTheFitUntilSavedOrCancelled) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    const char* what;
    int failures;        // saves that fail before one succeeds
    bool escape_at_end;  // ESC after the failures instead of another ENTER
    SessionEnd end;
  } const cases[] = {
      {"saved at once", 0, false, SessionEnd::kAccepted},
      {"saved at the second try", 1, false, SessionEnd::kAccepted},
      {"saved at the fourth try", 3, false, SessionEnd::kAccepted},
      {"cancelled after a failure", 1, true, SessionEnd::kCancelled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<SessionResult> saves;  // what each save step call got
    bool output_open_after_failure = c.failures == 0;
    SessionStart start;
    start.threshold = 120;
    start.save = [&](const SessionResult& accepted) {
      saves.push_back(accepted);
      if (static_cast<int>(saves.size()) <= c.failures)
        return SaveOutcome{false, "ERROR writing file: No space left on device (measures.csv)"};
      return SaveOutcome{true, ""};
    };
    std::vector<std::function<void()>> steps = {key('l'), key('u')};
    for (int i = 0; i < c.failures; ++i) {
      steps.push_back(key('\r'));
      steps.push_back([&] { output_open_after_failure = window(kOutputWindow) != nullptr; });
    }
    steps.push_back(key(c.escape_at_end ? 27 : '\r'));
    testing::internal::CaptureStdout();
    std::optional<SessionResult> result;
    {
      ScriptedUser user(measuring_, steps);
      result = measuring_.measure_photo(photo, start);
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->end, c.end);
    EXPECT_TRUE(output_open_after_failure);
    EXPECT_EQ(count_of(printed,
                       "Not saved: ERROR writing file: No space left on device "
                       "(measures.csv). ENTER to try again, ESC to cancel.\n"),
              c.failures)
        << printed;
    ASSERT_EQ(static_cast<int>(saves.size()), c.failures + (c.escape_at_end ? 0 : 1));
    for (const SessionResult& save : saves) {
      EXPECT_EQ(save.end, SessionEnd::kAccepted);
      EXPECT_EQ(save.threshold, 120);
      EXPECT_EQ(save.lambda, 1.0);  // key l
      EXPECT_EQ(save.model.width, saves.front().model.width);
    }
    if (c.end == SessionEnd::kAccepted) {
      EXPECT_EQ(result->lambda, saves.back().lambda);
      EXPECT_EQ(result->energy, saves.back().energy);
      EXPECT_EQ(result->model.width, saves.back().model.width);
    }
    EXPECT_EQ(window(kOutputWindow), nullptr);
  }
}

// Key q shows the photograph the session was given again, not the file at its path.
TEST_F(SessionTypedAhead, QShowsThePhotographTheSessionStartedWith) {
  const std::string path = write_photo(dir_, "a.png", 400, 300);
  const cv::Mat given = make_photo(300, 200, cv::Point(150, 100), cv::Size(60, 40));
  SessionStart start;
  start.photograph = given;
  start.region = cv::Rect(10, 10, 100, 100);
  cv::Size shown_after_q;
  double difference = -1;
  ScriptedUser user(measuring_, {[&] {
                                   cv::imwrite(path, make_photo(500, 400, {250, 200}, {90, 90}));
                                 },
                                 key('q'),
                                 [&] {
                                   shown_after_q = measuring_.state.source_image.size();
                                   difference =
                                       cv::norm(measuring_.state.source_image, given, cv::NORM_INF);
                                 },
                                 key('\r')});
  const std::optional<SessionResult> result = measuring_.measure_photo(path, start);
  ASSERT_TRUE(result);
  EXPECT_EQ(shown_after_q, cv::Size(300, 200));
  EXPECT_EQ(difference, 0);
}
