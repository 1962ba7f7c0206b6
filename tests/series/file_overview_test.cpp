// The overview's counts and its HTML.
#include "series/file_overview.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>

#include "test_support.h"

using namespace meravel;

namespace {

std::vector<SeriesEntry> entries_named(const std::vector<std::string>& names) {
  std::vector<SeriesEntry> entries;
  for (const std::string& name : names) entries.push_back({name, 0});
  return entries;
}

// The count as the program always took it: the whole file read once per name, a line's key
// being its text before the first ";".
int count_by_scanning_per_name(const std::string& path, const std::string& name) {
  std::ifstream file(path, std::ios::binary);
  int count = 0;
  for (std::string line; std::getline(file, line);)
    if (line.substr(0, line.find(';')) == name) ++count;
  return count;
}

}  // namespace

TEST(CountMeasures, TakesOnlyLinesWhoseFirstFieldIsTheNameExactly) {
  TempDirectory dir;
  dir.write("measures.csv",
            "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n"
            "a.jpg;x;\n"
            "a.jpg\n"
            "A.jpg;x;\n"
            "a.jpg ;x;\n"
            "xa.jpg;x;\n"
            " a.jpg;x;\n"
            "a.jpg;2012-04-01 18:00:00;2012-04-02 09:05:03;1.1;3.45679;\n"
            "b.jpg;x;\r\n"
            "\n"
            "c.jpg;no final line break;");
  struct Case {
    std::string name;
    int count;
  } const cases[] = {
      {"a.jpg", 3}, {"A.jpg", 1}, {"xa.jpg", 1}, {"b.jpg", 1},
      {"c.jpg", 1}, {"a.jp", 0},  {"d.jpg", 0},  {"Dateiname", 1},
  };
  std::vector<std::string> names;
  for (const Case& c : cases) names.push_back(c.name);
  names.push_back("a.jpg");  // a name listed twice shows the same count twice
  const std::vector<int> counts = count_measures(dir / "measures.csv", entries_named(names));
  ASSERT_EQ(counts.size(), names.size());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(counts[i], cases[i].count);
  }
  EXPECT_EQ(counts.back(), 3);
}

TEST(CountMeasures, NoReadableFileCountsNothing) {
  TempDirectory dir;
  dir.make_directory("measures.csv");
  // A FIFO would block the window until some other program wrote to it.
  ASSERT_EQ(mkfifo((dir / "fifo.csv").c_str(), 0644), 0);
  const auto entries = entries_named({"a.jpg", "b.jpg"});
  for (const std::string& path : {dir / "missing.csv", dir / "measures.csv", dir / "fifo.csv"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(count_measures(path, entries), (std::vector<int>{0, 0}));
  }
  EXPECT_TRUE(count_measures(dir / "missing.csv", {}).empty());
}

TEST(CountMeasures, EqualsTheScanPerName) {
  // Files of random lines over a tiny alphabet, so that names, prefixes, separators and line
  // breaks collide often.
  std::mt19937 random(17);
  const std::string alphabet = "ab.;\n\rj";
  TempDirectory dir;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 400)(random);
    for (int i = 0; i < length; ++i)
      text += alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
    dir.write("measures.csv", text);
    std::vector<std::string> names = {"", "a", "b", "ab", "a.j", "ba", "a\r", "b.jab", "aa"};
    const std::vector<int> counts = count_measures(dir / "measures.csv", entries_named(names));
    for (std::size_t i = 0; i < names.size(); ++i)
      EXPECT_EQ(counts[i], count_by_scanning_per_name(dir / "measures.csv", names[i])) << names[i];
  }
}

TEST(OverviewHtml, MarksTheCurrentLineAndAnchorsThreeLinesAbove) {
  struct Case {
    const char* what;
    std::vector<int> counts;
    unsigned current_index;
    std::string html;
  } const cases[] = {
      {"first of five, nothing measured",
       {0, 0, 0, 0, 0},
       0,
       "<b>File 1 (0 measures) &#60;-- </b><br>File 2 (0 measures)<br>File 3 (0 measures)<br>"
       "File 4 (0 measures)<br>File 5 (0 measures)<br>"},
      {"second of three; one measure is plural too",
       {1, 0, 0},
       1,
       "File 1 (1 measures)<br><b>File 2 (0 measures) &#60;-- </b><br>File 3 (0 measures)<br>"},
      {"third: still no anchor",
       {0, 0, 0},
       2,
       "File 1 (0 measures)<br>File 2 (0 measures)<br><b>File 3 (0 measures) &#60;-- </b><br>"},
      {"fourth: the anchor opens the text",
       {2, 0, 0, 12, 0},
       3,
       "<a name =\"hier\"></a>File 1 (2 measures)<br>File 2 (0 measures)<br>"
       "File 3 (0 measures)<br><b>File 4 (12 measures) &#60;-- </b><br>File 5 (0 measures)<br>"},
      {"sixth of ten",
       {0, 0, 0, 0, 0, 3, 0, 0, 0, 0},
       5,
       "File 1 (0 measures)<br>File 2 (0 measures)<br><a name =\"hier\"></a>File 3 (0 measures)<br>"
       "File 4 (0 measures)<br>File 5 (0 measures)<br><b>File 6 (3 measures) &#60;-- </b><br>"
       "File 7 (0 measures)<br>File 8 (0 measures)<br>File 9 (0 measures)<br>"
       "File 10 (0 measures)<br>"},
      {"no series", {}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(overview_html(c.counts, c.current_index), c.html);
  }
}

TEST(OverviewHtml, NoticesComeFirstInBoldWithTheirMarkupCharactersAsText) {
  struct Case {
    const char* what;
    std::vector<std::string> notices;
    std::string html_before_files;
  } const cases[] = {
      {"none", {}, ""},
      {"one",
       {"The order is not stored: it will change."},
       "<b>The order is not stored: it will change.</b><br>"},
      {"two, in their order", {"first", "second"}, "<b>first</b><br><b>second</b><br>"},
      {"markup characters",
       {"a <b> & \"c\" >"},
       "<b>a &#60;b&#62; &#38; &#34;c&#34; &#62;</b><br>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(
        overview_html({0, 2}, 1, c.notices),
        c.html_before_files + "File 1 (0 measures)<br><b>File 2 (2 measures) &#60;-- </b><br>");
  }
}
