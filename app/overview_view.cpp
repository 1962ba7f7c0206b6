#include "app/overview_view.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// The overview's markup read into plain text: lines joined by '\n', the bold runs and the
// anchors as character ranges of that text.
struct OverviewText {
  QString text;
  std::vector<std::pair<int, int>> bold_runs;         // [begin, end) positions
  std::vector<std::pair<int, QString>> anchor_names;  // position of the character named
};

bool starts_with(const std::string& html, std::size_t at, const char* token) {
  return html.compare(at, std::strlen(token), token) == 0;
}

// Reads `html` when it holds nothing but the overview's own markup; otherwise nothing, and the
// caller leaves it to Qt's HTML import. Whitespace that HTML would collapse (a blank at the start
// of a line, two blanks in a row) and anything else Qt might read differently is refused too.
std::optional<OverviewText> read_overview_markup(const std::string& html) {
  OverviewText read;
  read.text.reserve(static_cast<int>(html.size()));
  int bold_begin = -1;
  std::optional<QString> pending_anchor;
  bool line_start = true;
  std::size_t at = 0;
  while (at < html.size()) {
    const char c = html[at];
    if (c == '<') {
      if (starts_with(html, at, "<br>")) {
        if (bold_begin >= 0 || pending_anchor) return std::nullopt;
        read.text += QLatin1Char('\n');
        line_start = true;
        at += 4;
      } else if (starts_with(html, at, "<b>")) {
        if (bold_begin >= 0) return std::nullopt;
        bold_begin = read.text.size();
        at += 3;
      } else if (starts_with(html, at, "</b>")) {
        if (bold_begin < 0) return std::nullopt;
        read.bold_runs.emplace_back(bold_begin, read.text.size());
        bold_begin = -1;
        at += 4;
      } else if (starts_with(html, at, "<a name =\"")) {
        const std::size_t name_begin = at + 10;
        const std::size_t name_end = html.find('"', name_begin);
        if (name_end == std::string::npos || !starts_with(html, name_end, "\"></a>") ||
            pending_anchor)
          return std::nullopt;
        const std::string name = html.substr(name_begin, name_end - name_begin);
        for (char n : name)
          if (!std::isalnum(static_cast<unsigned char>(n)) && n != '_') return std::nullopt;
        if (name.empty()) return std::nullopt;
        pending_anchor = QString::fromLatin1(name.data(), static_cast<int>(name.size()));
        at = name_end + 6;
      } else {
        return std::nullopt;
      }
      continue;
    }
    char shown = c;
    if (c == '&') {
      if (!starts_with(html, at, "&#60;")) return std::nullopt;
      shown = '<';
      at += 5;
    } else if (c >= 0x20 && c < 0x7f && c != '>' && c != '"') {
      ++at;
    } else {
      return std::nullopt;
    }
    if (shown == ' ' && (line_start || read.text.endsWith(QLatin1Char(' ')))) return std::nullopt;
    if (pending_anchor) {
      read.anchor_names.emplace_back(read.text.size(), *pending_anchor);
      pending_anchor.reset();
    }
    read.text += QLatin1Char(shown);
    line_start = false;
  }
  if (bold_begin >= 0 || pending_anchor) return std::nullopt;
  return read;
}

// Lines of one block follow each other closer than separate blocks do when the font's leading is
// negative: inside a block a line advances by its rounded-up ascent + descent + leading, while a
// block of one line is as high as the line itself. The difference, measured on a two-line block
// laid out for the same device, is given to the blocks as top and bottom margins (collapsed
// margins take the larger of the two, so each boundary moves by it once).
qreal line_step_correction(const QTextDocument& document) {
  QTextDocument probe;
  probe.setDefaultFont(document.defaultFont());
  probe.documentLayout()->setPaintDevice(document.documentLayout()->paintDevice());
  probe.setTextWidth(1000);
  probe.setPlainText(QStringLiteral("x") + QChar(QChar::LineSeparator) + QStringLiteral("x"));
  const QTextBlock block = probe.begin();
  probe.documentLayout()->blockBoundingRect(block);
  const QTextLayout* layout = block.layout();
  if (!layout || layout->lineCount() < 2) return 0;
  return (layout->lineAt(1).y() - layout->lineAt(0).y()) - layout->lineAt(0).height();
}

// A document with the settings of the browser's present one, so that text put into it looks the
// same.
QTextDocument* document_like(const QTextDocument& model, QObject* parent) {
  auto* document = new QTextDocument(parent);
  document->setUndoRedoEnabled(model.isUndoRedoEnabled());
  document->setDefaultFont(model.defaultFont());
  document->setDefaultStyleSheet(model.defaultStyleSheet());
  document->setDefaultTextOption(model.defaultTextOption());
  document->setDocumentMargin(model.documentMargin());
  document->setIndentWidth(model.indentWidth());
  document->setUseDesignMetrics(model.useDesignMetrics());
  document->setDefaultCursorMoveStyle(model.defaultCursorMoveStyle());
  document->setBaseUrl(model.baseUrl());
  return document;
}

// The text goes into a document of its own, which has no layout yet, and is shown once it is
// complete: filled inside the browser, every change would reach its layout and view at once,
// which doubles the time.
void put_overview_text(QTextBrowser* browser, const OverviewText& read) {
  QTextDocument* shown = browser->document();
  QTextDocument* document = document_like(*shown, browser);
  const qreal correction = line_step_correction(*shown);

  QTextCursor cursor(document);
  cursor.beginEditBlock();
  cursor.insertText(read.text, QTextCharFormat());
  QTextBlockFormat block_format;
  block_format.setTopMargin(correction);
  block_format.setBottomMargin(correction);
  cursor.select(QTextCursor::Document);
  cursor.setBlockFormat(block_format);
  block_format.setTopMargin(0);
  QTextCursor(document->begin()).setBlockFormat(block_format);

  QTextCharFormat bold;
  bold.setFontWeight(QFont::Bold);
  for (const auto& [begin, end] : read.bold_runs) {
    cursor.setPosition(begin);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(bold);
  }
  for (const auto& [position, name] : read.anchor_names) {
    QTextCharFormat anchor;
    anchor.setAnchor(true);
    anchor.setAnchorNames({name});
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(anchor);
  }
  cursor.endEditBlock();

  // The browser deletes a document it made itself when given another; earlier overviews are ours.
  const bool shown_is_ours = shown->parent() == browser;
  browser->setDocument(document);
  if (shown_is_ours) delete shown;
}

}  // namespace

void show_overview_html(QTextBrowser* browser, const std::string& html) {
  browser->clear();
  if (std::optional<OverviewText> read = read_overview_markup(html)) {
    put_overview_text(browser, *read);
  } else {
    browser->setHtml(QString::fromLatin1(html.data(), static_cast<int>(html.size())));
  }
  // Qt lays out a document of many blocks piece by piece from the event loop; finish now, so the
  // scroll range is whole when the caller scrolls.
  QTextDocument* document = browser->document();
  document->documentLayout()->blockBoundingRect(document->lastBlock());
}
