// What the program says instead of opening its main window where it cannot: no display, or
// arguments the window does not take. Qt itself would abort with a note about reinstalling.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The environment a window start depends on; empty strings for unset variables.
struct DisplayEnvironment {
  std::string display;          // DISPLAY
  std::string wayland_display;  // WAYLAND_DISPLAY
  std::string qpa_platform;     // QT_QPA_PLATFORM
};

DisplayEnvironment display_environment_of_process();

// The message for a start without any display to open the window on, or nothing when one is
// named (a display variable, a Qt platform, Qt's -platform argument). `arguments` are the
// program's arguments without the program itself.
std::optional<std::string> missing_display_message(const DisplayEnvironment& environment,
                                                   const std::vector<std::string>& arguments);

// The message when a named display cannot be opened (an X server that is gone, a display the
// user may not use).
std::string unreachable_display_message(const DisplayEnvironment& environment);

// The message for arguments left over once Qt has taken its own: the window takes none.
std::optional<std::string> window_arguments_message(const std::vector<std::string>& arguments);

// From here until the process ends, Qt's fatal message about a platform it cannot open ends the
// program with status 1 and `unreachable_display_message` instead of an abort.
void end_cleanly_when_no_display_opens();
