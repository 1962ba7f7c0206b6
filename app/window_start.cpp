#include "app/window_start.h"

#include <unistd.h>

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kWithoutDisplay =
    "To measure a series without a display: meravel fit DIR (see 'meravel --help').\n";

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool names_platform(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "-platform" || argument == "--platform" ||
        argument.rfind("-platform=", 0) == 0 || argument.rfind("--platform=", 0) == 0)
      return true;
  }
  return false;
}

QtMessageHandler qt_default_handler = nullptr;

// Qt reports a platform plugin it cannot start as a fatal message and then aborts.
void on_qt_message(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
    const std::string text = unreachable_display_message(display_environment_of_process());
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    _exit(1);
  }
  if (qt_default_handler) {
    qt_default_handler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qUtf8Printable(message));
  }
}

}  // namespace

DisplayEnvironment display_environment_of_process() {
  return {variable("DISPLAY"), variable("WAYLAND_DISPLAY"), variable("QT_QPA_PLATFORM")};
}

std::optional<std::string> missing_display_message(const DisplayEnvironment& environment,
                                                   const std::vector<std::string>& arguments) {
  if (!environment.display.empty() || !environment.wayland_display.empty() ||
      !environment.qpa_platform.empty() || names_platform(arguments))
    return std::nullopt;
  return std::string(
             "meravel: the main window needs a display, and there is none here (DISPLAY "
             "is not set).\n") +
         kWithoutDisplay;
}

std::string unreachable_display_message(const DisplayEnvironment& environment) {
  std::string named;
  if (!environment.qpa_platform.empty())
    named = "QT_QPA_PLATFORM is " + environment.qpa_platform;
  else if (!environment.display.empty())
    named = "DISPLAY is " + environment.display;
  else if (!environment.wayland_display.empty())
    named = "WAYLAND_DISPLAY is " + environment.wayland_display;
  else
    named = "none is named";
  return "meravel: the main window needs a display, and it cannot be opened (" + named + ").\n" +
         kWithoutDisplay;
}

std::optional<std::string> window_arguments_message(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::nullopt;
  const std::string& first = arguments.front();
  std::string text = first.rfind('-', 0) == 0
                         ? "meravel: unknown option '" + first + "'.\n"
                         : "meravel: unknown command '" + first +
                               "'. The main window takes no arguments: it opens a series with "
                               "Read!.\nTo measure a series without the window: meravel fit DIR\n";
  return text + "See 'meravel --help'.\n";
}

void end_cleanly_when_no_display_opens() {
  qt_default_handler = qInstallMessageHandler(on_qt_message);
}
