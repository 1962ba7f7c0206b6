// The session's keys, typed into "Output" as a user would.
#include <opencv2/highgui.hpp>

#include "window_test_support.h"

using namespace meravel;

using namespace window_test;

namespace {

class SessionKeys : public WindowTest {
 protected:
  TempDirectory dir_;
};

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace

TEST_F(SessionKeys, UpperCaseAndUnlistedKeysAreIgnored) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    const char* what;
    std::function<void()> press;
    double lambda;  // returned on ENTER; 1.1 from the caller unless key l ran
  } const cases[] = {
      {"l", [] { type_key('l'); }, 1.0},
      {"Shift+L", [] { post_key(Qt::Key_L, "L", Qt::ShiftModifier); }, 1.1},
      {"Caps-Lock L", [] { post_key(Qt::Key_L, "L"); }, 1.1},
      {"Shift alone", [] { post_key(Qt::Key_Shift, "", Qt::ShiftModifier); }, 1.1},
      {"x", [] { type_key('x'); }, 1.1},
      {"digit 1", [] { post_key(Qt::Key_1, "1"); }, 1.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionValues values;
    ScriptedUser user(measuring_, {c.press, key('\r')});
    values.run(measuring_, photo);
    EXPECT_EQ(values.lambda, c.lambda);
  }
}

TEST_F(SessionKeys, RepositionKeysPlaceTheModelOnTheOutline) {
  // A 400 x 300 photograph whose light ellipse is centred at (200, 150) with half axes 81, 101.
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    char key;
    std::function<void(const FitState&)> check;
  } const cases[] = {
      {'t',
       [](const FitState& s) {
         EXPECT_NEAR(s.model.translation_x, 200, 1);
         EXPECT_NEAR(s.model.translation_y, 150, 1);
         EXPECT_EQ(s.model.height, 225);  // untouched: 3 H / 4
       }},
      {'h',
       [](const FitState& s) {
         EXPECT_NEAR(s.model.height, 202, 2);
         EXPECT_EQ(s.model.translation_x, 200);  // untouched: W / 2
       }},
      {'w', [](const FitState& s) { EXPECT_NEAR(s.pixel_width, s.outline_width, 4); }},
      {'l', [](const FitState& s) { EXPECT_EQ(s.model.lambda_milli, 1000); }},
      {'r',
       [](const FitState& s) {
         EXPECT_EQ(s.model.lambda_milli, 1000);
         EXPECT_NEAR(s.model.height, 202, 2);
         EXPECT_NEAR(s.model.translation_y, 150, 1);
         EXPECT_NEAR(s.pixel_width, s.outline_width, 4);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    SessionValues values;
    ScriptedUser user(measuring_, {key(c.key), [&] { c.check(measuring_.state); }, key('\r')});
    values.run(measuring_, photo);
    EXPECT_TRUE(user.finished());
  }
}

TEST_F(SessionKeys, ViewSwitchesOpenAndCloseTheirWindowsAndOutliveTheSession) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  struct Case {
    char key;
    const char* window_name;
    QPoint position;
    bool FitState::*flag;
  } const cases[] = {
      {'d', kDistanceWindow, QPoint(20, 20), &FitState::show_distance},
      {'b', kBinaryWindow, QPoint(30, 30), &FitState::show_binary},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    bool open_after_first = false, open_after_second = true, open_at_next_start = false;
    QPoint position;
    SessionValues first;
    {
      ScriptedUser user(measuring_,
                        {key(c.key),
                         [&] {
                           open_after_first = window(c.window_name) != nullptr;
                           if (open_after_first) position = window(c.window_name)->pos();
                         },
                         key(c.key), [&] { open_after_second = window(c.window_name) != nullptr; },
                         key(c.key), key('\r')});
      first.run(measuring_, photo);
    }
    EXPECT_TRUE(open_after_first);
    EXPECT_EQ(position, c.position);
    EXPECT_FALSE(open_after_second);
    EXPECT_TRUE(measuring_.state.*c.flag);  // switched on by the third press
    SessionValues next;
    ScriptedUser user(measuring_,
                      {[&] { open_at_next_start = window(c.window_name) != nullptr; }, key(27)});
    next.run(measuring_, photo);
    EXPECT_TRUE(open_at_next_start);
    measuring_.state.*c.flag = false;
  }
}

TEST_F(SessionKeys, QReloadsThePhotographAndRestartsThePlacement) {
  const std::string photo = write_photo(dir_, "a.png", 400, 300);
  SessionValues values;
  int width_before = -1;
  ScriptedUser user(measuring_,
                    {[this] { set_trackbar(measuring_, kWidthTrackbar, 5000); },
                     [&] { width_before = measuring_.state.model.width; }, key('q'), key('\r')});
  values.run(measuring_, photo);
  EXPECT_EQ(width_before, 5000);
  EXPECT_EQ(measuring_.state.model.width, 2400);  // 6 W again
  EXPECT_EQ(measuring_.state.model.height, 225);
}

TEST_F(SessionKeys, OptimiserKeysSearchTheirRanges) {
  const std::string photo = write_photo(dir_, "small.png", 200, 150);
  struct Case {
    char key;
    int passes;
    bool moves[6];  // which of lambda, width, height, rotation, tx, ty may change
  } const cases[] = {
      {'u', 1, {false, true, false, false, false, false}},
      {'i', 1, {true, true, false, false, false, false}},
      {'p', 3, {true, true, true, true, true, true}},
      {'o', 1, {true, true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    SessionValues values;
    int before[6] = {}, after[6] = {};
    double energy_before = 0, energy_after = 0;
    auto read = [this](int* fields, double* energy) {
      const FitState& s = measuring_.state;
      const int f[6] = {s.model.lambda_milli, s.model.width,         s.model.height,
                        s.model.rotation,     s.model.translation_x, s.model.translation_y};
      std::copy(f, f + 6, fields);
      *energy = s.energy;
    };
    testing::internal::CaptureStdout();
    ScriptedUser user(measuring_, {[&] { read(before, &energy_before); }, key(c.key),
                                   [&] { read(after, &energy_after); }, key('\r')});
    values.run(measuring_, photo);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count_of(output, "Optimising...\n"), c.passes);
    EXPECT_EQ(count_of(output, "...optimisation done!\n"), c.passes);
    for (int k = 0; k < 6; ++k) {
      if (!c.moves[k]) {
        EXPECT_EQ(after[k], before[k]) << k;
      }
    }
    if (c.key == 'u') {
      EXPECT_GT(after[1], 2 * 200);
      EXPECT_LT(after[1], 20 * 200);
    }
    if (c.key == 'o') {
      EXPECT_TRUE(after[3] > 270 || after[3] < 90) << after[3];
      EXPECT_GT(after[4], 40);
      EXPECT_LT(after[4], 160);
    }
    EXPECT_EQ(values.energy, energy_after);
  }
}
