// The report of the current series from the main window: Ctrl+R, or "Write and open the report"
// in the file overview's context menu. The form itself stays as it is.
#pragma once

#include <QWidget>
#include <string>

#include "report/report_writer.h"

// The shortcut that writes and opens the report.
extern const char kReportShortcut[];

// Adds the shortcut to `window` and the entry to the context menu of its overview (the
// QTextBrowser named textBrowser_file_overview).
void install_report_action(QWidget* window);

// Writes the report of the series in `series_directory` into its default folder and opens the
// page with the desktop's browser (QDesktopServices); one status line to standard output, and
// a line per note. Nothing when no series is read (empty directory): says so.
meravel::ReportOutcome write_and_open_report(const std::string& series_directory);
