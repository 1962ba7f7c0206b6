// The main window: the directory field, the series navigation, the two numeric start values of a
// measurement and the file overview. Its slots hold the program's workflow.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/photo_scale.h"
#include "fit/session_contract.h"
#include "series/measures_file.h"
#include "series/series_from_directory.h"
#include "series/series_lock.h"
#include "ui_myqtapp.h"
#include "windows/measuring_window.h"

// Start directory of the directory chooser; receives every path the chooser returns.
extern QString dialog_directory;

// The directory chooser used by get_path: (parent, caption, start directory) -> chosen path, or
// the empty string after a cancel. Tests replace it; by default it is Qt's modal chooser.
extern std::function<QString(QWidget*, const QString&, const QString&)> choose_directory;

class myQtApp : public QWidget, private Ui::myQtAppDLG {
  Q_OBJECT

 public:
  // The meta-data spells the argument type of get_number_of_measures "string".
  using string = std::string;

  explicit myQtApp(QWidget* parent = nullptr);

  // The seed of a newly drawn measuring order and the clock of the measuring date; the real ones
  // (time_order_seed, local_measuring_time) unless a test fixes them.
  void set_order_seed(meravel::OrderSeed seed) { order_seed_ = std::move(seed); }
  void set_measuring_clock(meravel::MeasuringClock clock) { measuring_clock_ = std::move(clock); }
  // The file-system calls of a save; the real ones unless a test makes them fail.
  void set_file_operations(meravel::FileOperations& operations) { file_operations_ = &operations; }
  // The image windows of its measurement sessions, with the fit they show.
  meravel::MeasuringWindow& measuring_window() { return measuring_window_; }

 public slots:
  void get_path();
  void process_directory();
  void do_something();
  void file_fwd();
  void file_bwd();
  void update_file_list();
  int get_number_of_measures(string name);
  void lock_all();
  void unlock_all();

 private:
  // The nine controls that a measurement disables, in the order they are disabled.
  std::array<QWidget*, 9> input_controls() const;
  // Takes the lock of the newly set up series in `directory` and returns the overview's notices
  // for it.
  std::vector<std::string> notices_of_new_series(meravel::SetupOutcome outcome,
                                                 const std::string& directory);

  meravel::OrderSeed order_seed_ = meravel::time_order_seed;
  meravel::MeasuringClock measuring_clock_ = meravel::local_measuring_time;
  meravel::FileOperations* file_operations_ = &meravel::posix_file_operations();
  // The lock of the series shown, so that another instance opening it says so.
  meravel::SeriesLock series_lock_;
  // Lines that the overview shows above the files while the series is set up: the order that is
  // not stored, the other instance that has the series open.
  std::vector<std::string> series_notices_;
  // The last line of the last measurement session ("Measurement for file 3 SAVED."), shown below
  // the notices until the next session ends or another series is set up.
  std::string last_session_line_;
  // The scale of the last accepted photograph that had one from key c or y, for key y to carry
  // over; its `from` is the position it was read at.
  meravel::SessionScale last_scale_;
  // The marker's side and the disc's diameter key c asked for, for the next photographs.
  ReferenceSizes reference_sizes_;
  // Kept for the main window's life: the switches of keys b and d last from one session to the
  // next.
  meravel::MeasuringWindow measuring_window_;
};
