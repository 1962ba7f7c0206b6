#include "app/application.h"

#include <clocale>

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // QApplication switches the C library to the user's locale. Every number the program prints
  // or writes to its files keeps the decimal point, whatever that locale's separator is.
  std::setlocale(LC_NUMERIC, "C");
}
