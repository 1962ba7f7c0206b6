#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/myqtapp.h"
#include "app/photo_open.h"
#include "app/window_start.h"
#include "batch/batch_command.h"
#include "report/report_command.h"

using namespace meravel;

int main(int argc, char** argv) {
  // `meravel fit DIR`, --help and --version need no display.
  if (is_command_line(argc, argv)) return run_command_line(argc, argv);
  if (is_report_command(argc, argv)) return run_report_command(argc, argv);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const auto message = missing_display_message(display_environment_of_process(), arguments)) {
    std::fputs(message->c_str(), stderr);
    return 1;
  }
  end_cleanly_when_no_display_opens();
  keep_freed_images_for_reuse();
  Application app(argc, argv);
  // Qt has taken its own options (-platform, -style, ...) out of argv.
  if (const auto message = window_arguments_message({argv + 1, argv + argc})) {
    std::fputs(message->c_str(), stderr);
    return 2;
  }
  myQtApp* window = new myQtApp;  // lives until the process ends
  window->show();
  return app.exec();
}
