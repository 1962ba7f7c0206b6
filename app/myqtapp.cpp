#include "app/myqtapp.h"

#include <QCoreApplication>
#include <QFileDialog>

#include "app/report_action.h"
#include "fit/parameter_table.h"
#include "fit/session_contract.h"

using namespace meravel;

QString dialog_directory = QStringLiteral("C:/");

std::function<QString(QWidget*, const QString&, const QString&)> choose_directory =
    [](QWidget* parent, const QString& caption, const QString& start) {
      return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
    };

myQtApp::myQtApp(QWidget* /*parent: always a top-level window*/) : QWidget(nullptr) {
  setupUi(this);
  lineEdit_threshold->setText(QString::number(kStartThreshold));
  lineEdit_lambda->setText(QString::number(lambda_milli_of(kStartLambda)));
  connect(pushButton_browse, SIGNAL(clicked()), this, SLOT(get_path()));
  connect(pushButton_process, SIGNAL(clicked()), this, SLOT(process_directory()));
  connect(pushButton_file_fwd, SIGNAL(clicked()), this, SLOT(file_fwd()));
  connect(pushButton_file_bwd, SIGNAL(clicked()), this, SLOT(file_bwd()));
  connect(pushButton_do, SIGNAL(clicked()), this, SLOT(do_something()));
  install_report_action(this);
  // The program's window is never deleted: the series lock goes when the event loop ends.
  if (QCoreApplication* application = QCoreApplication::instance())
    connect(application, &QCoreApplication::aboutToQuit, this, [this] { series_lock_.release(); });
}

void myQtApp::get_path() {
  // A cancel returns the empty path, which is kept like any other: the next chooser then opens
  // wherever Qt opens for an empty start directory.
  dialog_directory = choose_directory(
      this, QStringLiteral("Choose the directory of the photographs"), dialog_directory);
  lineEdit_directory->setText(dialog_directory);
}

void myQtApp::lock_all() {
  static const char* const key_help_pieces[] = {
      "<span style=\"font-family:'Fixedsys'; font-size:8pt;\">",
      "Please use the following keys on the OpenCV window:<br><br>",
      "ENTER: Save measurement<br>",
      "ESC: Cancel measurement<br><br>",
      "m: Set w-curve top and bottom by mouse.<br><br>",
      "s: Select region of interest by mouse.<br>",
      "q: Reset region of interest.<br>",
      "z: Show a part by mouse (z again: whole photograph).<br><br>",
      "o: Optimiser (all values)<br>",
      "p: Optimiser (width->lambda->all)<br>",
      "u: Optimiser (width)<br>",
      "i: Optimiser (lambda)<br>",
      "a: Automatic fit (all values)<br>",
      "f: Flip the top (green triangle) to the other end<br><br>",
      "w: Reposition (width)<br>",
      "h: Reposition (height)<br>",
      "t: Reposition (translation)<br>",
      "l: Reposition (lambda)<br>",
      "r: Reposition (all values)<br><br>",
      "d: Show visualisation of distance transformation<br>",
      "n: Dark object on a light ground (n again: light on dark)<br><br>",
      "k: Set the scale: click both ends of a known length.",
      "</span>",
  };
  std::string help;
  for (const char* piece : key_help_pieces) help += piece;
  textBrowser_file_overview->setHtml(QString::fromLatin1(help.c_str()));

  for (QWidget* control : input_controls()) control->setEnabled(false);
}

void myQtApp::unlock_all() {
  for (QWidget* control : input_controls()) control->setEnabled(true);
}

std::array<QWidget*, 9> myQtApp::input_controls() const {
  return {pushButton_do,     pushButton_file_fwd, pushButton_file_bwd,
          pushButton_browse, pushButton_process,  lineEdit_threshold,
          lineEdit_jump_to,  lineEdit_lambda,     lineEdit_directory};
}
