// Setting up a series from directories built in a temporary directory.
#include "series/series_from_directory.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

#include "stdout_capture.h"
#include "test_support.h"

using namespace meravel;

namespace {

using Entries = std::vector<std::pair<std::string, int>>;

Entries entries_of(const SeriesState& state) {
  Entries entries;
  for (const SeriesEntry& entry : state.file_list) entries.push_back({entry.name, entry.order_key});
  return entries;
}

std::vector<std::string> sorted_names(const SeriesState& state) {
  std::vector<std::string> names;
  for (const SeriesEntry& entry : state.file_list) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

// The lines of an order file split into (name, key), checking each line's form on the way.
Entries parse_order_text(const std::string& text) {
  Entries lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    const std::size_t first = line.find(';');
    const std::size_t second = line.find(';', first + 1);
    EXPECT_NE(second, std::string::npos) << line;
    EXPECT_EQ(second, line.size() - 1) << "nothing after the key's ';': " << line;
    const std::string key = line.substr(first + 1, second - first - 1);
    EXPECT_FALSE(key.empty());
    EXPECT_EQ(key.find_first_not_of("0123456789"), std::string::npos) << line;
    lines.push_back({line.substr(0, first), std::atoi(key.c_str())});
  }
  return lines;
}

// Every new order of these tests is drawn from this seed, unless a test says otherwise.
unsigned fixed_seed() { return 20120402u; }

class SeriesSetup : public testing::Test {
 protected:
  TempDirectory dir_;
  SeriesState state_;
};

// What a child process reports: its exit status and what it wrote to standard output.
struct ChildResult {
  int status = -1;
  std::string output;
};

// Runs `body` in a child process with its standard output in a pipe. With `unprivileged`, a child
// of root first becomes the user nobody, so that file permissions bind it; it exits with 77 when
// it cannot.
ChildResult run_in_child(const std::function<int()>& body, bool unprivileged) {
  int pipe_ends[2];
  EXPECT_EQ(pipe(pipe_ends), 0);
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    dup2(pipe_ends[1], 1);
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
    const int code = body();
    std::fflush(stdout);
    _exit(code);
  }
  close(pipe_ends[1]);
  ChildResult result;
  char buffer[4096];
  ssize_t length;
  while ((length = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
    result.output.append(buffer, static_cast<std::size_t>(length));
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

TEST_F(SeriesSetup, TakesSixCharacterNamesEndingInLowerOrUpperJpg) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    std::vector<std::string> subdirectories;
    std::vector<std::string> series;  // sorted by name
    const char* output;
  } const cases[] = {
      {"five characters are too short, six are enough", {"1.jpg", "12.jpg"}, {}, {"12.jpg"}, ""},
      {"only .jpg and .JPG exactly",
       {"photo.JPG", "photo.jpg", "photo.Jpg", "photo.jpeg", "photo.jpg.txt", "photo.jPG"},
       {},
       {"photo.JPG", "photo.jpg"},
       ""},
      // A directory has no pixels to measure, whatever its name.
      {"a subdirectory named like a photograph",
       {"img_01.jpg"},
       {"scans.jpg"},
       {"img_01.jpg"},
       "Not a regular file, left out of the series: scans.jpg\n"},
      {"hidden and blank names",
       {".x.jpg", "a b.JPG", " .jpg", "  .jpg"},
       {},
       {"  .jpg", ".x.jpg", "a b.JPG"},
       ""},
      {"the order file itself is no photograph",
       {"random_order.csv.jpg"},
       {},
       {"random_order.csv.jpg"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    for (const std::string& name : c.files) dir.write(name, "jpeg bytes");
    for (const std::string& name : c.subdirectories) dir.make_directory(name);
    SeriesState state;
    StdoutCapture output;
    ASSERT_EQ(set_up_series(state, dir.path(), fixed_seed), SetupOutcome::complete);
    EXPECT_EQ(sorted_names(state), c.series);
    EXPECT_EQ(output.text(), c.output);
    // The order file lists exactly the series.
    Entries lines = parse_order_text(dir.read("random_order.csv"));
    std::vector<std::string> listed;
    for (const auto& line : lines) listed.push_back(line.first);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, c.series);
  }
}

TEST_F(SeriesSetup, DirectoriesWithoutPhotographsGiveAnEmptySeries) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
  } const cases[] = {
      {"empty directory", {}},
      {"only short or wrongly ended names", {"a.jpg", ".jpg", "photo.jpeg", "photo.Jpg"}},
      {"an order file but no photograph", {"random_order.csv"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    for (const std::string& name : c.files) dir.write(name, "gone.jpg;5;\n");
    SeriesState state;
    state.file_list = {{"old.jpg", 1}, {"older.jpg", 2}};
    state.current_index = 1;
    StdoutCapture output;
    EXPECT_EQ(set_up_series(state, dir.path(), fixed_seed), SetupOutcome::no_images);
    EXPECT_TRUE(state.file_list.empty());
    EXPECT_EQ(state.current_index, 0u);
    EXPECT_EQ(state.series_directory, dir.path());
    EXPECT_EQ(output.text(), "No jpg containing directory selected.\n");
    EXPECT_EQ(dir.exists("random_order.csv"),
              c.files == std::vector<std::string>{"random_order.csv"});
  }
}

TEST_F(SeriesSetup, NewOrderFileHoldsListingOrderAndKeysOfTheSeededGenerator) {
  for (const char* name :
       {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG", "b_photo.jpg", "a_photo.jpg"})
    dir_.write(name);
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);

  const std::string text = dir_.read("random_order.csv");
  EXPECT_EQ(text.find('\r'), std::string::npos);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  Entries lines = parse_order_text(text);
  ASSERT_EQ(lines.size(), 5u);

  // Lines follow the listing; the keys are the generator's values in line order.
  std::vector<std::string> listing;
  DIR* directory = opendir(dir_.path().c_str());
  while (const dirent* entry = readdir(directory))
    if (std::string(entry->d_name).size() > 5 && std::string(entry->d_name) != "random_order.csv")
      listing.push_back(entry->d_name);
  closedir(directory);
  std::srand(20120402u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].first, listing[i]);
    EXPECT_EQ(lines[i].second, std::rand());
  }

  // The series is those lines sorted by key.
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto& a, const auto& b) { return a.second < b.second; });
  EXPECT_EQ(entries_of(state_), lines);
  EXPECT_EQ(state_.current_index, 0u);
  // Nothing but the photographs and the order file: no temporary file left behind.
  EXPECT_EQ(dir_.names(),
            (std::set<std::string>{"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG", "a_photo.jpg",
                                   "b_photo.jpg", "random_order.csv"}));
}

TEST_F(SeriesSetup, ExistingOrderFileIsTheSeries) {
  struct Case {
    const char* what;
    std::string order_file;
    Entries series;  // in measuring order; entries of equal key in either relative order
    std::vector<int> unread_lines = {};  // reported by number
    bool lists_nothing = false;          // the line that the file lists no photograph
  } const cases[] = {
      {"sorted by key",
       "c_photo.jpg;30;\nb_photo.jpg;10;\na_photo.jpg;20;\n",
       {{"b_photo.jpg", 10}, {"a_photo.jpg", 20}, {"c_photo.jpg", 30}}},
      {"CR LF reads like LF",
       "c_photo.jpg;30;\r\nb_photo.jpg;10;\r\na_photo.jpg;20;\r\n",
       {{"b_photo.jpg", 10}, {"a_photo.jpg", 20}, {"c_photo.jpg", 30}}},
      {"a negative key comes first",
       "a_photo.jpg;0;\nb_photo.jpg;-5;\nc_photo.jpg;7;\n",
       {{"b_photo.jpg", -5}, {"a_photo.jpg", 0}, {"c_photo.jpg", 7}}},
      {"equal keys are both kept",
       "a_photo.jpg;4;\nb_photo.jpg;9;\nc_photo.jpg;4;\n",
       {{"a_photo.jpg", 4}, {"c_photo.jpg", 4}, {"b_photo.jpg", 9}}},
      {"malformed lines add nothing, each reported",
       "\n;\n;;\nno separator\nname_only.jpg;12\n;lead.jpg;3;\nextra.jpg;12;34;\n"
       "blank.jpg; 8;\nword.jpg;abc;\nlast.jpg;2;",
       {{"word.jpg", 0}, {"last.jpg", 2}, {";lead.jpg", 3}, {"blank.jpg", 8}, {"extra.jpg", 12}},
       {2, 3, 4, 5}},
      {"no valid line: an empty series, and said so", "nothing here\n;;\n", {}, {1, 2}, true},
      {"names the directory does not hold", "gone.jpg;1;\n", {{"gone.jpg", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    dir.write("photo_in_dir.jpg");  // not in the order file, so not in the series
    dir.write("random_order.csv", c.order_file);
    SeriesState state;
    state.current_index = 2;
    StdoutCapture output;
    ASSERT_EQ(set_up_series(state, dir.path(), fixed_seed), SetupOutcome::complete);
    std::string expected_output;
    for (const int line : c.unread_lines) {
      expected_output += "Line " + std::to_string(line) + " of " + dir.file("random_order.csv") +
                         " is not a name and a key, each ended by ';', and adds nothing: ";
      std::istringstream lines(c.order_file);
      std::string text;
      for (int i = 0; i < line; ++i) std::getline(lines, text);
      expected_output += text + "\n";
    }
    if (c.lists_nothing)
      expected_output += dir.file("random_order.csv") + " lists no photographs.\n";
    EXPECT_EQ(output.text(), expected_output);
    EXPECT_EQ(state.current_index, 0u);
    Entries series = entries_of(state);
    // Equal keys may come in either order: compare with ties broken by name.
    std::vector<int> keys;
    for (const auto& entry : series) keys.push_back(entry.second);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    std::sort(series.begin(), series.end(), [](const auto& a, const auto& b) {
      return std::tie(a.second, a.first) < std::tie(b.second, b.first);
    });
    EXPECT_EQ(series, c.series);
    EXPECT_EQ(dir.read("random_order.csv"), c.order_file);  // never rewritten
  }
}

TEST_F(SeriesSetup, OrderStaysWhenFilesComeAndGo) {
  for (const char* name : {"first.jpg", "second.jpg", "third.jpg", "fourth.jpg"}) dir_.write(name);
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
  const Entries first_setup = entries_of(state_);
  const std::string order_file = dir_.read("random_order.csv");

  // Another seed would draw another order: the second set-up must not draw at all.
  const OrderSeed other_seed = [] { return 7u; };
  state_.current_index = 3;
  ASSERT_EQ(set_up_series(state_, dir_.path(), other_seed), SetupOutcome::complete);
  EXPECT_EQ(entries_of(state_), first_setup);
  EXPECT_EQ(state_.current_index, 0u);

  dir_.write("added.jpg");
  ASSERT_EQ(std::remove((dir_ / "second.jpg").c_str()), 0);
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
  EXPECT_EQ(entries_of(state_), first_setup);
  EXPECT_EQ(dir_.read("random_order.csv"), order_file);
}

TEST_F(SeriesSetup, InvalidDirectoryKeepsThePreviousSeries) {
  for (const char* name : {"first.jpg", "second.jpg"}) dir_.write(name);
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
  state_.current_index = 1;
  const Entries series = entries_of(state_);
  dir_.write("plain_file");

  struct Case {
    std::string directory;
    SetupOutcome outcome;
    const char* output;
  } const cases[] = {
      {dir_ / "missing", SetupOutcome::invalid_directory, " is no valid directory.\n"},
      {dir_ / "plain_file", SetupOutcome::invalid_directory, " is no valid directory.\n"},
      {"", SetupOutcome::no_directory_text, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory);
    StdoutCapture output;
    EXPECT_EQ(set_up_series(state_, c.directory, fixed_seed), c.outcome);
    EXPECT_EQ(output.text(), c.directory.empty() ? "" : c.directory + c.output);
    EXPECT_EQ(state_.series_directory, c.directory);
    EXPECT_EQ(entries_of(state_), series);
    EXPECT_EQ(state_.current_index, 1u);
  }
}

TEST_F(SeriesSetup, UnreadableOrderFileLeavesNoSeries) {
  struct Case {
    const char* what;
    std::function<void(const TempDirectory&)> make_order_file;
  } const cases[] = {
      {"a link to nowhere",
       [](const TempDirectory& dir) {
         ASSERT_EQ(symlink("nowhere.csv", (dir / "random_order.csv").c_str()), 0);
       }},
      {"a directory", [](const TempDirectory& dir) { dir.make_directory("random_order.csv"); }},
      // Reading it must not wait for a writer.
      {"a FIFO",
       [](const TempDirectory& dir) {
         ASSERT_EQ(mkfifo((dir / "random_order.csv").c_str(), 0644), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDirectory dir;
    for (const char* name : {"first.jpg", "second.jpg"}) dir.write(name);
    c.make_order_file(dir);
    SeriesState state;
    state.file_list = {{"old.jpg", 1}};
    StdoutCapture output;
    EXPECT_EQ(set_up_series(state, dir.path(), fixed_seed), SetupOutcome::order_file_unreadable);
    EXPECT_EQ(output.text(), "Unable to open file " + dir.path() + "/random_order.csv\n");
    // A series in listing order would not be blinded.
    EXPECT_TRUE(state.file_list.empty());
    EXPECT_EQ(state.current_index, 0u);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"first.jpg", "random_order.csv", "second.jpg"}));
  }
}

TEST_F(SeriesSetup, OrderFileWithoutReadPermissionLeavesNoSeries) {
  for (const char* name : {"first.jpg", "second.jpg"}) dir_.write(name);
  dir_.write("random_order.csv", "first.jpg;1;\nsecond.jpg;2;\n");
  ASSERT_EQ(chmod((dir_ / "random_order.csv").c_str(), 0200), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ChildResult child = run_in_child(
      [&] {
        SeriesState state;
        state.file_list = {{"old.jpg", 1}};
        SetupOutcome outcome = set_up_series(state, dir_.path(), fixed_seed);
        return outcome == SetupOutcome::order_file_unreadable && state.file_list.empty() ? 0 : 1;
      },
      true);
  if (child.status == 77) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.output, "Unable to open file " + dir_.path() + "/random_order.csv\n");
}

TEST_F(SeriesSetup, ReadOnlyDirectoryGetsNoOrderFileAndSaysSo) {
  for (const char* name : {"first.jpg", "second.jpg"}) dir_.write(name);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
  ChildResult child = run_in_child(
      [&] {
        SeriesState state;
        SetupOutcome outcome = set_up_series(state, dir_.path(), fixed_seed);
        // The series still stands for this set-up, sorted by the keys just drawn.
        return outcome == SetupOutcome::complete_order_not_stored && state.file_list.size() == 2 &&
                       state.file_list[0].order_key <= state.file_list[1].order_key
                   ? 0
                   : 1;
      },
      true);
  if (child.status == 77) GTEST_SKIP() << "cannot drop root privileges";
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.output, "Unable to write file " + dir_.path() + "/random_order.csv\n");
  EXPECT_EQ(dir_.names(), (std::set<std::string>{"first.jpg", "second.jpg"}));
}

TEST_F(SeriesSetup, OrderFileCutShortByAFullDiskIsNotLeftBehind) {
  // Long names, so that the file-size limit stops the writing part-way.
  for (int i = 0; i < 40; ++i)
    dir_.write(std::string(100, 'a' + i % 26) + std::to_string(i) + ".jpg");
  ChildResult child = run_in_child(
      [&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        SeriesState state;
        return set_up_series(state, dir_.path(), fixed_seed) ==
                           SetupOutcome::complete_order_not_stored &&
                       state.file_list.size() == 40
                   ? 0
                   : 1;
      },
      false);
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(child.output, "Unable to write file " + dir_.path() + "/random_order.csv\n");
  EXPECT_FALSE(dir_.exists("random_order.csv"));
  EXPECT_EQ(dir_.names().size(), 40u);  // no temporary file either

  // The next set-up, with room to write, draws afresh and keeps its order.
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
  EXPECT_EQ(parse_order_text(dir_.read("random_order.csv")).size(), 40u);
}

TEST_F(SeriesSetup, NamesThatWouldBreakACsvLineAreLeftOut) {
  for (const char* name :
       {"good.jpg", "semi;colon.jpg", "carriage\rreturn.jpg", "line\nfeed.JPG", "back\\slash.jpg"})
    dir_.write(name);
  StdoutCapture output;
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
  EXPECT_EQ(sorted_names(state_), std::vector<std::string>{"good.jpg"});
  EXPECT_EQ(parse_order_text(dir_.read("random_order.csv")).size(), 1u);

  // One line per name, in listing order, which the test does not know.
  std::vector<std::string> lines;
  std::istringstream stream(output.text());
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  const std::string prefix = "File name with ';' or a line break left out of the series: ";
  // A "\\" would make the name a path elsewhere on some systems; read back from the order file it
  // would be left out, so it is not let in.
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "File name with '/' or '\\' left out of the series: back\\slash.jpg",
                       prefix + "carriage\\rreturn.jpg", prefix + "line\\nfeed.JPG",
                       prefix + "semi;colon.jpg"}));

  // Only such names: no series at all.
  TempDirectory only_bad;
  only_bad.write("semi;colon.jpg");
  SeriesState state;
  StdoutCapture second_output;
  EXPECT_EQ(set_up_series(state, only_bad.path(), fixed_seed), SetupOutcome::no_images);
  EXPECT_EQ(second_output.text(),
            prefix + "semi;colon.jpg\nNo jpg containing directory selected.\n");
}

// What an editor or a hand leaves in an order file: a byte-order mark before the first name, a
// name listed twice (measured once, and said so), a name with '"' (left out, as from a listing).
TEST_F(SeriesSetup, OrderFileEditedByHand) {
  const std::string order = dir_ / "random_order.csv";
  const struct {
    const char* what;
    std::string order_file;
    std::vector<std::string> series;  // in measuring order
    std::string output;
  } cases[] = {
      {"byte-order mark",
       "\xEF\xBB\xBF"
       "first.jpg;1;\nsecond.jpg;2;\n",
       {"first.jpg", "second.jpg"},
       ""},
      {"a name twice",
       "a_photo.jpg;5;\nb_photo.jpg;3;\na_photo.jpg;1;\n",
       {"b_photo.jpg", "a_photo.jpg"},
       order + " lists a_photo.jpg more than once: it is measured once.\n"},
      {"a name with a quote",
       "\"quoted.jpg;1;\nplain.jpg;2;\n",
       {"plain.jpg"},
       "File name with '\"' left out of the series: \"quoted.jpg\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    dir_.write("photo_in_dir.jpg");
    dir_.write("random_order.csv", c.order_file);
    StdoutCapture output;
    ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
    std::vector<std::string> names;
    for (const SeriesEntry& entry : state_.file_list) names.push_back(entry.name);
    EXPECT_EQ(names, c.series);
    EXPECT_EQ(output.text(), c.output);
  }
  // From the listing, a name with '"' is left out too, and never reaches the order file.
  TempDirectory listed;
  listed.write("\"quoted.jpg");
  listed.write("plain.jpg");
  SeriesState state;
  StdoutCapture output;
  ASSERT_EQ(set_up_series(state, listed.path(), fixed_seed), SetupOutcome::complete);
  EXPECT_EQ(output.text(), "File name with '\"' left out of the series: \"quoted.jpg\n");
  const Entries lines = parse_order_text(listed.read("random_order.csv"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, "plain.jpg");
}

TEST_F(SeriesSetup, NonLatinDirectoryNames) {
  // UTF-8 bytes, as the file-name encoding of the platform gives them.
  for (const std::string sub : {"Maßband Öse", "測定データ", "измерение"}) {
    SCOPED_TRACE(sub);
    dir_.make_directory(sub);
    std::ofstream(dir_ / sub + "/Blatt_ä.jpg") << "x";
    SeriesState state;
    StdoutCapture output;
    ASSERT_EQ(set_up_series(state, dir_ / sub, fixed_seed), SetupOutcome::complete);
    EXPECT_EQ(sorted_names(state), std::vector<std::string>{"Blatt_ä.jpg"});
    EXPECT_EQ(output.text(), "");
    std::ifstream order_file(dir_ / sub + "/random_order.csv");
    std::string line;
    EXPECT_TRUE(std::getline(order_file, line));
    EXPECT_EQ(line.substr(0, line.find(';')), "Blatt_ä.jpg");
  }
}

// Only what can be read as a photograph is taken from the listing: a FIFO would block the
// program, a device would never end, a directory has no pixels.
TEST_F(SeriesSetup, OnlyRegularFilesAndLinksToThemAreTaken) {
  dir_.write("real.jpg", "jpeg bytes");
  dir_.make_directory("folder.jpg");
  ASSERT_EQ(mkfifo((dir_ / "pipe.jpg").c_str(), 0644), 0);
  ASSERT_EQ(symlink("real.jpg", (dir_ / "link.jpg").c_str()), 0);
  ASSERT_EQ(symlink("folder.jpg", (dir_ / "folder_link.jpg").c_str()), 0);
  ASSERT_EQ(symlink("nowhere.jpg", (dir_ / "dangling.jpg").c_str()), 0);
  ASSERT_EQ(symlink("/dev/null", (dir_ / "device.jpg").c_str()), 0);
  StdoutCapture output;
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
  EXPECT_EQ(sorted_names(state_), (std::vector<std::string>{"link.jpg", "real.jpg"}));

  std::vector<std::string> lines;  // in listing order, which the test does not know
  std::istringstream stream(output.text());
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::vector<std::string> expected;
  for (const char* name :
       {"dangling.jpg", "device.jpg", "folder.jpg", "folder_link.jpg", "pipe.jpg"})
    expected.push_back(std::string("Not a regular file, left out of the series: ") + name);
  EXPECT_EQ(lines, expected);
}

// A hand-edited order file must not lead the program to a file outside the series directory, nor
// measure one file under another's name.
TEST_F(SeriesSetup, OrderFileNamesThatLeadElsewhereAreLeftOut) {
  struct Case {
    std::string line;    // without its line break
    const char* output;  // empty: the name is taken
  } const cases[] = {
      {"../../outside/secret.jpg;1;",
       "File name with '/' or '\\' left out of the series: ../../outside/secret.jpg"},
      {"sub/photo.jpg;2;", "File name with '/' or '\\' left out of the series: sub/photo.jpg"},
      {"/etc/passwd;3;", "File name with '/' or '\\' left out of the series: /etc/passwd"},
      {"..\\..\\win.jpg;4;", "File name with '/' or '\\' left out of the series: ..\\..\\win.jpg"},
      {std::string("one.jpg\0other.jpg;5;", 20),
       "File name with a NUL byte left out of the series: one.jpg\\0other.jpg"},
      {".;6;", "File name '.' or '..' left out of the series: ."},
      {"..;7;", "File name '.' or '..' left out of the series: .."},
      {"good.jpg;8;", ""},
      {"...jpg;9;", ""},
      {"..hidden.jpg;10;", ""},
      {"a\rb.jpg;11;", ""},
  };
  std::string order_file;
  std::string expected_output;
  std::vector<std::string> expected_series;
  for (const Case& c : cases) {
    order_file += c.line + "\n";
    if (*c.output) {
      expected_output += std::string(c.output) + "\n";
    } else {
      expected_series.push_back(c.line.substr(0, c.line.find(';')));
    }
  }
  std::sort(expected_series.begin(), expected_series.end());
  dir_.write("photo_in_dir.jpg");
  dir_.write("random_order.csv", order_file);
  StdoutCapture output;
  ASSERT_EQ(set_up_series(state_, dir_.path(), fixed_seed), SetupOutcome::complete);
  EXPECT_EQ(output.text(), expected_output);  // one line each, in the file's order
  EXPECT_EQ(sorted_names(state_), expected_series);
  EXPECT_EQ(dir_.read("random_order.csv"), order_file);  // never rewritten
}
