// The main window's tests run inside the program's own application object, on the offscreen
// platform unless a display is chosen, and under a locale with a decimal comma (when the machine
// has one), as a user in such a locale would run the program.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/application.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  testing::InitGoogleTest(&argc, argv);
  Application app(argc, argv);
  return RUN_ALL_TESTS();
}
