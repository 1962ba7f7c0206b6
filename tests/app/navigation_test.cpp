// Reading a directory into a series and moving through it, as a user does in the main window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <functional>

#include "app/myqtapp.h"
#include "series/series_from_directory.h"
#include "stdout_capture.h"
#include "test_support.h"

using namespace meravel;

namespace {

const char kPrompt[] = "Please select a jpg containing directory.";

class Navigation : public testing::Test {
 protected:
  void SetUp() override {
    series_state() = SeriesState();
    window_.set_order_seed([] { return 4711u; });
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }

  template <class T>
  T* child(const char* name) {
    T* widget = window_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QLineEdit* jump_field() { return child<QLineEdit>("lineEdit_jump_to"); }
  QTextBrowser* overview() { return child<QTextBrowser>("textBrowser_file_overview"); }
  QString selected_dir() { return child<QLabel>("selected_dir")->text(); }

  // Types the path as the user would (a path with other than ASCII characters is pasted) and
  // presses "Read!".
  void read_directory(const QString& path) {
    QLineEdit* field = child<QLineEdit>("lineEdit_directory");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    bool ascii = true;
    for (QChar c : path) ascii = ascii && c.unicode() < 128;
    if (ascii) {
      QTest::keyClicks(field, path);
    } else {
      field->insert(path);
    }
    ASSERT_EQ(field->text(), path);
    QTest::mouseClick(child<QPushButton>("pushButton_process"), Qt::LeftButton);
  }
  void read_directory(const std::string& path) { read_directory(QString::fromStdString(path)); }

  void press(char arrow) {
    QTest::mouseClick(
        child<QPushButton>(arrow == '>' ? "pushButton_file_fwd" : "pushButton_file_bwd"),
        Qt::LeftButton);
  }

  QStringList overview_lines() {
    QString text = overview()->toPlainText();
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
  }
  // The bold text of the overview; the current line is the only bold one.
  QString bold_text() {
    QString bold;
    for (QTextBlock block = overview()->document()->begin(); block.isValid(); block = block.next())
      for (auto it = block.begin(); !it.atEnd(); ++it)
        if (it.fragment().charFormat().fontWeight() == QFont::Bold) bold += it.fragment().text();
    return bold;
  }
  // The overview line at the top of the visible area.
  QString first_visible_line() {
    QCoreApplication::processEvents();
    QTextCursor cursor = overview()->cursorForPosition(QPoint(2, 2));
    QTextBlock block = cursor.block();
    QTextLine line = block.layout()->lineForTextPosition(cursor.positionInBlock());
    return block.text().mid(line.textStart(), line.textLength()).trimmed();
  }

  TempDirectory dir_;
  myQtApp window_;
};

}  // namespace

// Writes `count` photographs and an order file that puts them in the order of their names.
void write_numbered_series(const TempDirectory& dir, int count) {
  std::string order;
  for (int i = 1; i <= count; ++i) {
    const std::string name = "photo_" + std::to_string(100 + i) + ".jpg";
    dir.write(name, "jpeg");
    order += name + ";" + std::to_string(i * 10) + ";\n";
  }
  dir.write("random_order.csv", order);
}

TEST_F(Navigation, ReadShowsEveryFileWithItsCountAndTheFirstInBold) {
  for (const char* name : {"a_photo.jpg", "b_photo.jpg", "c_photo.jpg"}) dir_.write(name);
  dir_.write("random_order.csv", "a_photo.jpg;2;\nb_photo.jpg;3;\nc_photo.jpg;1;\n");
  dir_.write("measures.csv",
             "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n"
             "a_photo.jpg;x;\nc_photo.jpg;x;\na_photo.jpg;x;\nA_photo.jpg;x;\n");
  StdoutCapture output;
  read_directory(dir_.path());
  EXPECT_EQ(output.text(), "");
  EXPECT_EQ(selected_dir(), QString::fromStdString(dir_.path()));
  // Measuring order c, a, b; the overview names no file, only positions and counts.
  EXPECT_EQ(overview_lines(), (QStringList{"File 1 (1 measures) <-- ", "File 2 (2 measures)",
                                           "File 3 (0 measures)"}));
  EXPECT_EQ(bold_text(), "File 1 (1 measures) <-- ");
  EXPECT_EQ(first_visible_line(), "File 1 (1 measures) <--");

  using string = myQtApp::string;
  const string name = "a_photo.jpg";
  int count = -1;
  EXPECT_TRUE(QMetaObject::invokeMethod(&window_, "get_number_of_measures", Qt::DirectConnection,
                                        Q_RETURN_ARG(int, count), Q_ARG(string, name)));
  EXPECT_EQ(count, 2);
}

TEST_F(Navigation, ArrowsWrapAroundAndTypedNumbersJump) {
  write_numbered_series(dir_, 10);
  read_directory(dir_.path());
  struct Step {
    const char* typed;  // typed into the jump field before the press; "\b" erases a character
    char arrow;
    unsigned index;
  } const steps[] = {
      {"", '<', 9},   {"", '>', 0},      {"", '>', 1},   {"3", '<', 2}, {"", '>', 3},
      {"99", '>', 9}, {" 4abc", '<', 3}, {"0", '>', 0},  {"", '>', 1},  {"-2", '<', 0},
      {"7", '>', 6},  {"5\b", '>', 0},   {"10", '<', 9}, {"", '>', 0},  {"abc", '<', 0},
      {"1", '>', 0},  {"+8", '>', 7},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "typed \"" << step.typed << "\" then " << step.arrow);
    for (const char* c = step.typed; *c; ++c) {
      if (*c == '\b') {
        QTest::keyClick(jump_field(), Qt::Key_Backspace);
      } else {
        QTest::keyClicks(jump_field(), QString(QChar(*c)));
      }
    }
    press(step.arrow);
    EXPECT_EQ(series_state().current_index, step.index);
    EXPECT_EQ(bold_text(), QString("File %1 (0 measures) <-- ").arg(step.index + 1));
    EXPECT_EQ(jump_field()->text(), "");
    EXPECT_FALSE(jump_field()->isModified());
  }
}

TEST_F(Navigation, OnlyANumberTheUserTypedJumps) {
  write_numbered_series(dir_, 10);
  read_directory(dir_.path());
  jump_field()->setText("7");  // set by the program, not typed
  press('>');
  EXPECT_EQ(series_state().current_index, 1u);
  EXPECT_EQ(jump_field()->text(), "7");
}

TEST_F(Navigation, ViewKeepsThreeLinesAboveTheCurrentOne) {
  write_numbered_series(dir_, 10);
  read_directory(dir_.path());
  struct Case {
    const char* typed;
    QString first_visible;
  } const cases[] = {
      {"6", "File 3 (0 measures)"}, {"4", "File 1 (0 measures)"},     {"3", "File 1 (0 measures)"},
      {"7", "File 4 (0 measures)"}, {"1", "File 1 (0 measures) <--"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    QTest::keyClicks(jump_field(), c.typed);
    press('>');
    EXPECT_EQ(first_visible_line(), c.first_visible);
  }
}

TEST_F(Navigation, OneFileStaysCurrent) {
  write_numbered_series(dir_, 1);
  read_directory(dir_.path());
  for (char arrow : {'>', '<', '>'}) {
    press(arrow);
    EXPECT_EQ(series_state().current_index, 0u);
    EXPECT_EQ(overview_lines(), QStringList{"File 1 (0 measures) <-- "});
  }
}

TEST_F(Navigation, WithoutSeriesTheArrowsOnlySaySo) {
  dir_.write("not_a_photo.txt");
  for (bool after_empty_directory : {false, true}) {
    SCOPED_TRACE(after_empty_directory ? "after a directory without photographs" : "at start");
    if (after_empty_directory) {
      StdoutCapture output;
      read_directory(dir_.path());
      EXPECT_EQ(output.text(), "No jpg containing directory selected.\n");
      EXPECT_EQ(selected_dir(), QString::fromStdString(dir_.path()));
    }
    QTest::keyClicks(jump_field(), "3");
    StdoutCapture output;
    press('>');
    press('<');
    EXPECT_EQ(output.text(),
              "No jpg containing directory selected.\nNo jpg containing directory selected.\n");
    EXPECT_EQ(jump_field()->text(), "3");
    EXPECT_TRUE(jump_field()->isModified());
    EXPECT_EQ(overview()->toPlainText(), kPrompt);
    EXPECT_EQ(series_state().current_index, 0u);
    jump_field()->setText("");
  }
}

TEST_F(Navigation, FailedReadsAfterAGoodOne) {
  write_numbered_series(dir_, 5);
  dir_.write("measures.csv", "photo_101.jpg;x;\n");
  TempDirectory empty;
  TempDirectory unreadable_order;
  unreadable_order.write("photo_1.jpg");
  ASSERT_EQ(symlink("nowhere.csv", (unreadable_order / "random_order.csv").c_str()), 0);

  struct Case {
    const char* what;
    std::string directory;
    std::string output;
    bool series_kept;
    QString label;  // empty: the good directory stays shown
  } const cases[] = {
      {"empty text", "", "", true, ""},
      {"missing directory", dir_ / "missing", dir_ / "missing is no valid directory.\n", true, ""},
      {"no photographs", empty.path(), "No jpg containing directory selected.\n", false,
       QString::fromStdString(empty.path())},
      {"unreadable order file", unreadable_order.path(),
       "Unable to open file " + unreadable_order.path() + "/random_order.csv\n", false,
       QString::fromStdString(unreadable_order.path())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    series_state() = SeriesState();
    read_directory(dir_.path());
    press('>');
    ASSERT_EQ(overview_lines()[0], "File 1 (1 measures)");
    StdoutCapture output;
    read_directory(c.directory);
    EXPECT_EQ(output.text(), c.output);
    EXPECT_EQ(series_state().series_directory, c.directory);
    if (c.series_kept) {
      EXPECT_EQ(selected_dir(), QString::fromStdString(dir_.path()));
      EXPECT_EQ(series_state().file_list.size(), 5u);
      EXPECT_EQ(series_state().current_index, 1u);
      EXPECT_EQ(bold_text(), "File 2 (0 measures) <-- ");
      EXPECT_EQ(overview_lines()[0], "File 1 (1 measures)");
      // The measures file is looked up in the directory last entered.
      press('>');
      EXPECT_EQ(bold_text(), "File 3 (0 measures) <-- ");
      EXPECT_EQ(overview_lines()[0], "File 1 (0 measures)");
    } else {
      EXPECT_EQ(selected_dir(), c.label);
      EXPECT_TRUE(series_state().file_list.empty());
      EXPECT_EQ(overview()->toPlainText(), kPrompt);
      StdoutCapture arrow_output;
      press('>');
      EXPECT_EQ(arrow_output.text(), "No jpg containing directory selected.\n");
    }
  }
}

TEST_F(Navigation, NonLatinDirectoryNamesAreRead) {
  const QString name = QString::fromUtf8("Maßband 測定 измерение");
  const std::string path = dir_ / name.toUtf8().toStdString();
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  std::ofstream(path + "/Blatt_1.jpg") << "jpeg";
  const QString typed = QString::fromStdString(dir_.path()) + "/" + name;
  StdoutCapture output;
  read_directory(typed);
  EXPECT_EQ(output.text(), "");
  EXPECT_EQ(selected_dir(), typed);
  EXPECT_EQ(overview_lines(), QStringList{"File 1 (0 measures) <-- "});
  std::ifstream order_file(path + "/random_order.csv");
  std::string line;
  EXPECT_TRUE(std::getline(order_file, line));
  EXPECT_EQ(line.substr(0, line.find(';')), "Blatt_1.jpg");
}
