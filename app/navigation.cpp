#include <QLineEdit>
#include <QTextBrowser>
#include <cstdlib>

#include "app/myqtapp.h"
#include "app/overview_view.h"
#include "app/photo_open.h"
#include "series/clutch_counts.h"
#include "series/details_file.h"
#include "series/file_navigation.h"
#include "series/file_overview.h"
#include "series/series_from_directory.h"
#include "series/status_line.h"

using namespace meravel;

namespace {

// A number the user typed into the jump field since the program last set it moves the current
// file there, whichever arrow was pressed, and is consumed. Returns whether it jumped.
bool jump_if_typed(QLineEdit* jump_field, SeriesState& state) {
  if (!jump_field->isModified()) return false;
  const int typed_position = std::atoi(jump_field->text().toLatin1().constData());
  state.current_index = jump_file_index(typed_position, state.file_list.size());
  jump_field->setText(QString());
  return true;
}

}  // namespace

void myQtApp::update_file_list() {
  const SeriesState& state = series_state();
  const std::string measures_path = state.series_directory + "/" + kMeasuresFileName;
  std::vector<std::string> notices = series_notices_;
  if (!last_session_line_.empty()) notices.push_back(last_session_line_);
  // A clutch measured egg by egg counts as its measurements, with its eggs beside them.
  std::vector<int> eggs;
  const std::vector<int> counts = measurements_with_clutches(
      count_measures(measures_path, state.file_list),
      count_clutch_records(state.series_directory + "/" + kDetailsFileName, state.file_list),
      &eggs);
  const std::string html = overview_html(counts, state.current_index, notices, eggs);
  show_overview_html(textBrowser_file_overview, html);
  textBrowser_file_overview->scrollToAnchor(QString::fromLatin1(kOverviewAnchor));
  follow_current_photograph();
}

int myQtApp::get_number_of_measures(string name) {
  const std::string measures_path = series_state().series_directory + "/" + kMeasuresFileName;
  return count_measures(measures_path, {SeriesEntry{name, 0}}).front();
}

void myQtApp::file_fwd() {
  SeriesState& state = series_state();
  if (state.file_list.empty()) {
    write_status_line(kNoSeriesMessage);
    return;
  }
  if (!jump_if_typed(lineEdit_jump_to, state))
    state.current_index = next_file_index(state.current_index, state.file_list.size());
  update_file_list();
}

void myQtApp::file_bwd() {
  SeriesState& state = series_state();
  if (state.file_list.empty()) {
    write_status_line(kNoSeriesMessage);
    return;
  }
  if (!jump_if_typed(lineEdit_jump_to, state))
    state.current_index = previous_file_index(state.current_index, state.file_list.size());
  update_file_list();
}
