// What the overview says above the files about the series just read: an order that could not be
// stored, and another instance that has the same series open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <memory>

#include "app/myqtapp.h"
#include "stdout_capture.h"
#include "test_support.h"

using namespace meravel;

namespace {

const QString kOrderNotStored = QStringLiteral(
    "The measuring order is not stored (random_order.csv cannot be written): it will change at "
    "the next Read!");

QString other_instance(long pid) {
  return QStringLiteral("This series is open in another instance of the program too (process %1).")
      .arg(pid);
}

// A main window as the user has it, shown, with its own order seed.
class Window {
 public:
  Window() {
    window_.set_order_seed([] { return 4711u; });
    window_.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }

  // Types the path and presses "Read!".
  void read_directory(const std::string& path) {
    auto* field = window_.findChild<QLineEdit*>("lineEdit_directory");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, QString::fromStdString(path));
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_process"), Qt::LeftButton);
  }
  void press_forward() {
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_file_fwd"), Qt::LeftButton);
  }
  QStringList overview_lines() {
    QStringList lines =
        window_.findChild<QTextBrowser*>("textBrowser_file_overview")->toPlainText().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
  }

 private:
  myQtApp window_;
};

void write_photographs(const TempDirectory& dir) {
  for (const char* name : {"a_photo.jpg", "b_photo.jpg"}) dir.write(name, "jpeg");
}

}  // namespace

TEST(SeriesNotices, AnOrderThatCannotBeStoredIsSaidFirstUntilItIsStored) {
  TempDirectory dir;
  write_photographs(dir);
  Window window;
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  // Root ignores permission bits; as "nobody" the folder is as read-only as for a user.
  const bool dropped = geteuid() == 0 && seteuid(65534) == 0;
  if (geteuid() == 0) GTEST_SKIP() << "cannot drop root privileges";
  {
    StdoutCapture output;
    window.read_directory(dir.path());
    EXPECT_EQ(output.text(), "Unable to write file " + dir.path() + "/random_order.csv\n");
  }
  EXPECT_EQ(window.overview_lines(),
            (QStringList{kOrderNotStored, "File 1 (0 measures) <-- ", "File 2 (0 measures)"}));
  window.press_forward();  // the overview is rebuilt with the notice
  EXPECT_EQ(window.overview_lines(),
            (QStringList{kOrderNotStored, "File 1 (0 measures)", "File 2 (0 measures) <-- "}));
  if (dropped) {
    ASSERT_EQ(seteuid(0), 0);
  }

  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  window.read_directory(dir.path());
  EXPECT_TRUE(dir.exists("random_order.csv"));
  EXPECT_EQ(window.overview_lines(),
            (QStringList{"File 1 (0 measures) <-- ", "File 2 (0 measures)"}));
}

TEST(SeriesNotices, ASeriesOpenInAnotherInstanceIsSaidFirst) {
  TempDirectory dir, elsewhere;
  write_photographs(dir);
  write_photographs(elsewhere);
  Window first, second;
  first.read_directory(dir.path());
  second.read_directory(dir.path());
  EXPECT_EQ(
      second.overview_lines(),
      (QStringList{other_instance(getpid()), "File 1 (0 measures) <-- ", "File 2 (0 measures)"}));
  EXPECT_EQ(first.overview_lines(),
            (QStringList{"File 1 (0 measures) <-- ", "File 2 (0 measures)"}));

  // Once the first has moved on to another series, this one is open only in the second.
  first.read_directory(elsewhere.path());
  second.read_directory(dir.path());
  EXPECT_EQ(second.overview_lines(),
            (QStringList{"File 1 (0 measures) <-- ", "File 2 (0 measures)"}));
}

TEST(SeriesNotices, AnInstanceThatIsGoneIsNotMentioned) {
  TempDirectory dir;
  write_photographs(dir);
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  dir.write("meravel.lock", std::to_string(gone) + "\n");
  {
    Window window;
    window.read_directory(dir.path());
    EXPECT_EQ(window.overview_lines(),
              (QStringList{"File 1 (0 measures) <-- ", "File 2 (0 measures)"}));
    EXPECT_EQ(dir.read("meravel.lock"), std::to_string(getpid()) + "\n");
  }
  // The window gave the series up with its end.
  EXPECT_FALSE(dir.exists("meravel.lock"));
}
