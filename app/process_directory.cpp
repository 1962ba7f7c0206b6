#include <QFile>

#include "app/myqtapp.h"
#include "app/photo_open.h"
#include "series/measurement_save.h"
#include "series/series_from_directory.h"

using namespace meravel;

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
      series_lock_.release();
      series_notices_.clear();
      selected_dir->setText(QFile::decodeName(state.series_directory.c_str()));
      textBrowser_file_overview->setText(
          QStringLiteral("Please select a jpg containing directory."));
      follow_current_photograph();
      return;
    case SetupOutcome::complete:
    case SetupOutcome::complete_order_not_stored:
      series_notices_ = notices_of_new_series(outcome, state.series_directory);
      last_session_line_.clear();
      selected_dir->setText(QFile::decodeName(state.series_directory.c_str()));
      update_file_list();
      return;
  }
}

std::vector<std::string> myQtApp::notices_of_new_series(SetupOutcome outcome,
                                                        const std::string& directory) {
  std::vector<std::string> notices;
  if (outcome == SetupOutcome::complete_order_not_stored) {
    notices.push_back(
        "The measuring order is not stored (random_order.csv cannot be written): it will change "
        "at the next Read!");
  }
  if (series_lock_.acquire(directory) == SeriesLock::State::held_by_other) {
    const long other = series_lock_.other_process_id();
    notices.push_back("This series is open in another instance of the program too" +
                      (other > 0 ? " (process " + std::to_string(other) + ")" : std::string()) +
                      ".");
  }
  // A save cut short is taken back before the overview counts the records. Record files that no
  // save may append to are named by the save that refuses them.
  for (const std::string& file : take_back_unfinished_save(directory))
    notices.push_back("An unfinished save was taken back from " + file + ".");
  return notices;
}
