#include "app/report_action.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <iostream>

#include "series/series_state.h"

using namespace meravel;

const char kReportShortcut[] = "Ctrl+R";

ReportOutcome write_and_open_report(const std::string& series_directory) {
  if (series_directory.empty()) {
    std::cout << "No series read: read a directory first, then write its report." << std::endl;
    return {};
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const ReportOutcome outcome =
      write_report(series_directory, default_report_directory(series_directory));
  QApplication::restoreOverrideCursor();
  for (const std::string& note : outcome.notes) std::cout << "Report: " << note << std::endl;
  if (!outcome.written) {
    std::cout << outcome.error << std::endl;
    return outcome;
  }
  std::cout << "Report written to " << outcome.page << " (it names the photographs)." << std::endl;
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(outcome.page)));
  return outcome;
}

void install_report_action(QWidget* window) {
  // The series shown is the one the last Read! set up.
  const auto write_current = [] { write_and_open_report(series_state().series_directory); };
  auto* overview = window->findChild<QTextBrowser*>(QStringLiteral("textBrowser_file_overview"));
  if (!overview) return;
  // Held by the overview, so that the window's own children stay the form's fifteen widgets;
  // it acts wherever the focus is in the window.
  auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(kReportShortcut)), overview);
  shortcut->setContext(Qt::WindowShortcut);
  QObject::connect(shortcut, &QShortcut::activated, overview, write_current);

  overview->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(overview, &QWidget::customContextMenuRequested, overview,
                   [overview, write_current](const QPoint& at) {
                     QMenu* menu = overview->createStandardContextMenu(at);
                     menu->setAttribute(Qt::WA_DeleteOnClose);
                     menu->addSeparator();
                     QAction* report =
                         menu->addAction(QStringLiteral("Write and open the report (%1)")
                                             .arg(QString::fromLatin1(kReportShortcut)));
                     report->setObjectName(QStringLiteral("action_write_report"));
                     QObject::connect(report, &QAction::triggered, overview, write_current);
                     menu->popup(overview->viewport()->mapToGlobal(at));
                   });
}
