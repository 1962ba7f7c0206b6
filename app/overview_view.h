// Showing the file overview's HTML in the text browser, quickly for long series.
#pragma once

#include <string>

class QTextBrowser;

// Replaces the browser's contents with `html` (Latin-1) shown as rich text, exactly as
// QTextBrowser::setHtml shows it: same text, same bold runs and anchor, same pixels and the same
// scroll range. The overview's own markup (text lines ended by "<br>", "<b>...</b>" within a
// line, "<a name =\"...\"></a>" in front of text, "&#60;") is put in directly with one block per
// line, which Qt lays out several times faster than one block of 10,000 lines; any other markup
// goes through setHtml. The whole document is laid out before the call returns.
void show_overview_html(QTextBrowser* browser, const std::string& html);
