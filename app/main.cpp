#include "app/application.h"
#include "app/myqtapp.h"
#include "app/photo_open.h"
#include "batch/batch_command.h"
#include "report/report_command.h"

int main(int argc, char** argv) {
  // `meravel fit DIR`, --help and --version need no display.
  if (is_command_line(argc, argv)) return run_command_line(argc, argv);
  if (is_report_command(argc, argv)) return run_report_command(argc, argv);
  keep_freed_images_for_reuse();
  Application app(argc, argv);
  myQtApp* window = new myQtApp;  // lives until the process ends
  window->show();
  return app.exec();
}
