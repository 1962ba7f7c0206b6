// The report of the current series from the main window: Ctrl+R, and the entry of the file
// overview's context menu. The desktop's browser is stood in for by a URL handler.
#include "app/report_action.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include "app/myqtapp.h"
#include "stdout_capture.h"
#include "test_support.h"

using namespace meravel;

// Takes the URLs the desktop would have opened.
class OpenedUrls : public QObject {
  Q_OBJECT
 public:
  OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
  ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

namespace {

void write_series(const TempDirectory& dir) {
  for (const char* name : {"a_photo.jpg", "b_photo.jpg"}) dir.write(name, "jpeg");
  dir.write("measures.csv",
            "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n"
            "a_photo.jpg;;x;1.2;0.5;\nb_photo.jpg;;x;1.3;0.5;\na_photo.jpg;;x;1.3;0.5;\n");
}

class ReportFromWindow : public testing::Test {
 protected:
  void SetUp() override {
    write_series(dir_);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    auto* field = window_.findChild<QLineEdit*>("lineEdit_directory");
    field->setText(QString::fromStdString(dir_.path()));
    StdoutCapture quiet;
    QTest::mouseClick(window_.findChild<QPushButton*>("pushButton_process"), Qt::LeftButton);
  }

  // The report was written for the series read and the page handed to the desktop.
  void expect_report_opened() {
    ASSERT_EQ(opened_.urls.size(), 1);
    EXPECT_EQ(opened_.urls[0],
              QUrl::fromLocalFile(QString::fromStdString(dir_ / "unblinded_report/report.html")));
    EXPECT_TRUE(dir_.exists("unblinded_report/report.html"));
    // Decimal points whatever the locale the window runs in.
    const std::string summary = dir_.read("unblinded_report/summary.csv");
    const size_t row = summary.find("\na_photo.jpg,");
    ASSERT_NE(row, std::string::npos) << summary;
    EXPECT_EQ(summary.substr(summary.find(',', row + 13), 13), ",2,0,0,1.25,0") << summary;
  }

  TempDirectory dir_;
  myQtApp window_;
  OpenedUrls opened_;
};

TEST_F(ReportFromWindow, ShortcutWritesAndOpensTheReport) {
  StdoutCapture output;
  QTest::keyClick(&window_, Qt::Key_R, Qt::ControlModifier);
  expect_report_opened();
  EXPECT_NE(output.text().find("Report written to " + dir_.path()), std::string::npos)
      << output.text();
}

TEST_F(ReportFromWindow, OverviewContextMenuWritesAndOpensTheReport) {
  auto* overview = window_.findChild<QTextBrowser*>("textBrowser_file_overview");
  const QString overview_before = overview->toHtml();
  QContextMenuEvent menu_request(QContextMenuEvent::Mouse, QPoint(20, 20),
                                 overview->viewport()->mapToGlobal(QPoint(20, 20)));
  QApplication::sendEvent(overview->viewport(), &menu_request);
  QAction* write = nullptr;
  QMenu* shown = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* menu = qobject_cast<QMenu*>(widget); menu && menu->isVisible()) {
      shown = menu;
      write = menu->findChild<QAction*>("action_write_report");
    }
  }
  ASSERT_NE(write, nullptr) << "no menu entry for the report";
  StdoutCapture output;
  write->trigger();
  shown->close();
  expect_report_opened();
  // The overview and the form are left as they were.
  EXPECT_EQ(overview->toHtml(), overview_before);
}

}  // namespace

#include "report_action_test.moc"
