// The program's command line as a user runs it: a separate process without any display, its exit
// status and its output; Ctrl-C in the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "batch/progress.h"
#include "batch_test_support.h"
#include "series/measures_file.h"

using namespace meravel;

namespace {

const std::string kProgram = std::string(MERAVEL_BUILD_DIR) + "/meravel";

struct Finished {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

using Environment = std::vector<std::pair<const char*, const char*>>;

// Starts the program with `arguments`, with no display and no Qt platform chosen but those of
// `environment`, standard output and error into files of `scratch`.
pid_t start_program(const std::vector<std::string>& arguments, const TempDirectory& scratch,
                    const Environment& environment = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    for (const auto& [name, value] : environment) setenv(name, value, 1);
    if (!freopen(scratch.file("out.txt").c_str(), "w", stdout) ||
        !freopen(scratch.file("err.txt").c_str(), "w", stderr))
      _exit(127);
    std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(kProgram.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

Finished wait_for(pid_t pid, const TempDirectory& scratch) {
  int status = 0;
  waitpid(pid, &status, 0);
  Finished finished;
  finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  finished.out = scratch.read("out.txt");
  finished.err = scratch.read("err.txt");
  return finished;
}

Finished run_program(const std::vector<std::string>& arguments,
                     const Environment& environment = {}) {
  TempDirectory scratch;
  return wait_for(start_program(arguments, scratch, environment), scratch);
}

TEST(CommandLine, VersionAndHelpNeedNoDisplay) {
  const Finished version = run_program({"--version"});
  EXPECT_EQ(version.status, 0) << version.err;
  EXPECT_EQ(version.out, "meravel 1.7\n");
  const Finished help = run_program({"--help"});
  EXPECT_EQ(help.status, 0) << help.err;
  for (const char* option :
       {"fit DIR", "--jobs", "--again", "--review", "--threshold", "--lambda", "--dark"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(help.out.rfind("Usage: meravel [options]", 0), 0u) << help.out;
}

// The main window cannot open: one plain message that says how to measure without it, and a
// clean exit instead of Qt's abort.
TEST(CommandLine, WindowWithoutADisplaySaysHowToMeasureWithoutOne) {
  TempDirectory series;
  struct Case {
    std::vector<std::string> arguments;
    Environment environment;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {{}, {}, 1, "needs a display, and there is none here (DISPLAY is not set)"},
      {{"-V"}, {}, 1, "needs a display, and there is none here"},
      {{series.path()}, {}, 1, "needs a display, and there is none here"},
      {{}, {{"DISPLAY", ":987"}}, 1, "it cannot be opened (DISPLAY is :987)"},
      {{"-V"}, {{"QT_QPA_PLATFORM", "offscreen"}}, 2, "unknown option '-V'"},
      {{series.path()}, {{"QT_QPA_PLATFORM", "offscreen"}}, 2, "unknown command"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Finished finished = run_program(c.arguments, c.environment);
    EXPECT_EQ(finished.status, c.status) << finished.err;
    EXPECT_NE(finished.err.find(c.message), std::string::npos) << finished.err;
    if (c.status == 1) {
      EXPECT_NE(finished.err.find("meravel fit DIR"), std::string::npos) << finished.err;
    }
    EXPECT_EQ(finished.err.find("Reinstalling"), std::string::npos) << finished.err;
  }
}

TEST(CommandLine, BadUsageEndsWithStatusTwoAndMeasuresNothing) {
  TempDirectory series;
  make_demo_series(series);
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"fit"}, "fit takes one series directory"},
      {{"fit", series.path(), series.path()}, "fit takes one series directory"},
      {{"fit", series.path(), "--jobs", "0"}, "--jobs"},
      {{"fit", series.path(), "--threshold", "251"}, "--threshold"},
      {{"fit", series.path(), "--lambda", "-1"}, "--lambda"},
      {{"fit", series.path(), "--cut-offs", "1"}, "--cut-offs"},
      {{"fit", series.path(), "--region", "1,2,3"}, "--region"},
      {{"fit", series.path(), "--no-such-option"}, "no-such-option"},
      {{"fit", series.path(), "--scale", "12,5"}, "--scale"},
      {{"fit", series.path(), "--scale", "marker"}, "--scale"},
      {{"fit", series.path(), "--scale", "ruler:30"}, "--scale"},
      {{"fit", series.path(), "--scale", "0"}, "--scale"},
      {{"fit", series.path(), "--scale", "12", "--scale-from", series.path()}, "--scale-from"},
      {{"fit", series.path(), "--objects", "some"}, "--objects takes one or all"},
      {{"fit", series.path(), "--objects", "all", "--dark"}, "--objects all finds the eggs"},
      {{"fit", series.path(), "--objects", "all", "--threshold", "100"},
       "--objects all finds the eggs"},
      {{"fit", series.file("no_such_directory")},
       "cannot open the series directory " + series.file("no_such_directory") + ": "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.back());
    const Finished finished = run_program(c.arguments);
    EXPECT_EQ(finished.status, 2);
    EXPECT_NE(finished.err.find(c.message), std::string::npos) << finished.err;
    EXPECT_EQ(finished.err.find("Usage: Usage:"), std::string::npos) << finished.err;
    EXPECT_EQ(finished.out, "") << "one message, on standard error";
  }
  EXPECT_FALSE(series.exists("measures.csv"));
}

TEST(CommandLine, FitMeasuresTheSeriesWithoutADisplay) {
  TempDirectory series;
  make_demo_series(series);
  const Finished finished = run_program({"fit", series.path(), "--jobs", "2"});
  EXPECT_EQ(finished.status, 0) << finished.err;
  EXPECT_NE(finished.out.find("Measured 8, skipped 0, failed 0, flagged 0."), std::string::npos)
      << finished.out;
  EXPECT_EQ(lines_of(series.read("measures.csv")).size(), 9u);
}

// Ctrl-C stops the run after the photograph under way: every record whole, and the next run
// measures exactly the rest.
TEST(CommandLine, InterruptStopsAfterTheCurrentPhotograph) {
  TempDirectory series;
  make_demo_series(series);
  // Sixteen photographs, so that the run is still going when the signal comes.
  for (int i = 1; i <= 8; ++i) {
    const std::string name = "IMG_000" + std::to_string(i) + ".JPG";
    std::filesystem::copy_file(series.file(name),
                               series.file("IMG_100" + std::to_string(i) + ".JPG"));
  }
  TempDirectory scratch;
  const pid_t pid = start_program({"fit", series.path(), "--jobs", "1"}, scratch);
  const std::string path = series.file("measures.csv");
  for (int wait = 0; wait < 600 && lines_of(series.read("measures.csv")).size() < 3; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(pid, SIGINT);
  const Finished stopped = wait_for(pid, scratch);
  EXPECT_EQ(stopped.status, 1) << stopped.err;
  EXPECT_NE(stopped.out.find("Stopped: "), std::string::npos) << stopped.out;

  const std::string text = series.read("measures.csv");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const std::vector<std::string> lines = lines_of(text);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_LT(lines.size(), 17u) << "the run was not stopped";
  for (size_t i = 1; i < lines.size(); ++i)
    EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ';'), 5) << lines[i];

  const Finished rest = run_program({"fit", series.path()});
  EXPECT_EQ(rest.status, 0) << rest.err;
  const std::vector<std::string> all = lines_of(series.read("measures.csv"));
  ASSERT_EQ(all.size(), 17u);
  std::set<std::string> names;
  for (size_t i = 1; i < all.size(); ++i) names.insert(all[i].substr(0, all[i].find(';')));
  EXPECT_EQ(names.size(), 16u);
}

TEST(ProgressBar, ShowsCountRateAndTimeLeft) {
  struct Case {
    size_t done, total;
    double seconds;
    const char* expected;
  };
  const Case cases[] = {
      {0, 8, 0.0, "0/8 [..............................]"},
      {2, 8, 1.0, "2/8 [#######.......................] 2.0/s, 0:03 left"},
      {8, 8, 4.0, "8/8 [##############################] 2.0/s, 0:00 left"},
      {30, 2000, 60.0, "30/2000 [..............................] 0.5/s, 65:40 left"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(Progress::bar(c.done, c.total,
                            std::chrono::duration_cast<Progress::Clock::duration>(
                                std::chrono::duration<double>(c.seconds))),
              c.expected);
  }
}

TEST(ProgressBar, OnATerminalFailuresStandAboveTheBar) {
  std::ostringstream out;
  const Progress::Clock::time_point start{};
  Progress progress(out, true, 2, start);
  progress.step("file 1: lambda 1.1", start + std::chrono::seconds(1));
  progress.message("file 2: Cannot load the photograph x");
  progress.finish();
  const std::string text = out.str();
  EXPECT_EQ(text.find("file 1: lambda"), std::string::npos) << text;
  const size_t failure = text.find("\r\x1b[Kfile 2: Cannot load the photograph x\n");
  ASSERT_NE(failure, std::string::npos) << text;
  EXPECT_NE(text.find("\r1/2 [", failure), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
