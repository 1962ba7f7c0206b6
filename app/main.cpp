#include "app/application.h"
#include "app/myqtapp.h"
#include "batch/batch_command.h"

int main(int argc, char** argv) {
  // `meravel fit DIR`, --help and --version need no display.
  if (is_command_line(argc, argv)) return run_command_line(argc, argv);
  Application app(argc, argv);
  myQtApp* window = new myQtApp;  // lives until the process ends
  window->show();
  return app.exec();
}
