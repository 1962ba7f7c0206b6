// The overview is put into the text browser without Qt's HTML import; what the user sees must be
// what the import shows: the same pixels at every scroll position, the same text, bold run,
// anchor and scroll range.
#include "app/overview_view.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <string>
#include <vector>

#include "app/myqtapp.h"
#include "series/file_overview.h"

using namespace meravel;

namespace {

// The window's overview and, beside it, a browser of the same font and size that shows the HTML
// through QTextBrowser::setHtml.
class OverviewView : public testing::Test {
 protected:
  void SetUp() override {
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    shown_ = window_.findChild<QTextBrowser*>(QStringLiteral("textBrowser_file_overview"));
    ASSERT_NE(shown_, nullptr);
    imported_.setFont(shown_->font());
    imported_.resize(shown_->size());
    imported_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&imported_));
  }

  void show_both(const std::string& html) {
    show_overview_html(shown_, html);
    shown_->scrollToAnchor(QString::fromLatin1(kOverviewAnchor));
    imported_.clear();
    imported_.setHtml(QString::fromLatin1(html.data(), static_cast<int>(html.size())));
    imported_.scrollToAnchor(QString::fromLatin1(kOverviewAnchor));
    QCoreApplication::processEvents();
  }

  // Compares the two browsers at their current scroll positions and at a few set ones.
  void expect_same_view() {
    EXPECT_EQ(shown_->toPlainText(), imported_.toPlainText());
    EXPECT_EQ(text_with(shown_, true), text_with(&imported_, true));
    EXPECT_EQ(anchor_text(shown_), anchor_text(&imported_));
    QScrollBar* shown_bar = shown_->verticalScrollBar();
    QScrollBar* imported_bar = imported_.verticalScrollBar();
    EXPECT_EQ(shown_bar->maximum(), imported_bar->maximum());
    EXPECT_EQ(shown_bar->value(), imported_bar->value()) << "after the scroll to the anchor";
    for (int position : {-1, 0, 5, 13, imported_bar->maximum() / 2, imported_bar->maximum()}) {
      SCOPED_TRACE(position);
      if (position >= 0) {
        shown_bar->setValue(position);
        imported_bar->setValue(position);
        QCoreApplication::processEvents();
      }
      EXPECT_TRUE(pixels(shown_) == pixels(&imported_));
    }
  }

  // The text area's pixels (the scroll bars may be drawn hovered by an earlier test's mouse).
  static QImage pixels(QTextBrowser* browser) {
    return browser->viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  }

  // The text of the fragments whose weight is (or is not) bold.
  static QString text_with(QTextBrowser* browser, bool bold) {
    QString text;
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next())
      for (auto it = block.begin(); !it.atEnd(); ++it)
        if ((it.fragment().charFormat().fontWeight() == QFont::Bold) == bold)
          text += it.fragment().text();
    return text;
  }

  // The character that carries each anchor name, with the text following it on its line.
  static QStringList anchor_text(QTextBrowser* browser) {
    QStringList named;
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next())
      for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextCharFormat format = it.fragment().charFormat();
        if (format.isAnchor() && !format.anchorNames().isEmpty())
          named << format.anchorNames().join(',') + ':' +
                       it.fragment().text().section(QChar(QChar::LineSeparator), 0, 0);
      }
    return named;
  }

  myQtApp window_;
  QTextBrowser* shown_ = nullptr;
  QTextBrowser imported_;
};

TEST_F(OverviewView, TheOverviewLooksAsImportedFromItsHtml) {
  struct Case {
    int files;
    unsigned current_index;
  };
  const Case cases[] = {{0, 0},   {1, 0},   {3, 1},   {40, 0},    {40, 3},
                        {40, 20}, {40, 39}, {40, 38}, {300, 150}, {1200, 1199}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.files << " files, current " << c.current_index);
    std::vector<int> counts;
    for (int i = 0; i < c.files; ++i) counts.push_back(i * 7 % 13 * (i % 3 == 0 ? 100 : 1));
    show_both(overview_html(counts, c.current_index));
    expect_same_view();
  }
}

// Markup other than the overview's own, or text whose blanks HTML collapses, goes through Qt's
// import unchanged.
TEST_F(OverviewView, OtherMarkupIsLeftToQtsImport) {
  const char* const htmls[] = {
      "<span style=\"font-family:'Fixedsys'; font-size:8pt;\">Keys:<br><br>ENTER: Save<br>",
      "File  1 (0 measures)<br>",
      " File 1 (0 measures)<br>",
      "File 1<br> File 2<br>",
      "<i>File 1</i><br>",
      "<b>File 1<br>File 2</b><br>",
      "<a name =\"hier\"></a><br>File 1<br>",
      "File 1 &lt;-- <br>",
      "File 1 (0 measures)\nFile 2<br>",
      "<b>File 1 (0 measures)<br>",
  };
  for (const char* html : htmls) {
    SCOPED_TRACE(html);
    show_both(html);
    EXPECT_EQ(shown_->toHtml(), imported_.toHtml());
    expect_same_view();
  }
}

// Other writers replace the overview with their own rich text; after an overview the key help
// shows as in a window that never had one.
TEST_F(OverviewView, KeyHelpAfterAnOverviewIsUnchanged) {
  show_overview_html(shown_, overview_html(std::vector<int>(50, 2), 25));
  window_.lock_all();
  myQtApp fresh;
  fresh.lock_all();
  EXPECT_EQ(shown_->toHtml(),
            fresh.findChild<QTextBrowser*>(QStringLiteral("textBrowser_file_overview"))->toHtml());
}

}  // namespace
