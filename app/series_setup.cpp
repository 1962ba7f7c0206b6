#include "series/series_setup.h"

#include <QFile>

#include "app/myqtapp.h"

void myQtApp::process_directory() {
  // The typed text becomes a path in the file-name encoding of the platform (UTF-8 bytes on
  // Linux), so folders with umlauts or non-Latin names open; shown paths are decoded back.
  SeriesState& state = series_state();
  const SetupOutcome outcome = set_up_series(
      state, QFile::encodeName(lineEdit_directory->text()).toStdString(), order_seed_);
  switch (outcome) {
    case SetupOutcome::no_directory_text:
    case SetupOutcome::invalid_directory:
      return;
    case SetupOutcome::no_images:
    case SetupOutcome::order_file_unreadable:
      selected_dir->setText(QFile::decodeName(state.series_directory.c_str()));
      textBrowser_file_overview->setText(
          QStringLiteral("Please select a jpg containing directory."));
      return;
    case SetupOutcome::complete:
      selected_dir->setText(QFile::decodeName(state.series_directory.c_str()));
      update_file_list();
      return;
  }
}
