#include <QApplication>
#include <clocale>

#include "app/myqtapp.h"

int main(int argc, char** argv) {
  // The application object comes first: the image windows of a measurement attach to it.
  QApplication app(argc, argv);
  // QApplication switches the C library to the user's locale; every number the program prints or
  // writes to its files uses a decimal point.
  std::setlocale(LC_NUMERIC, "C");
  myQtApp* window = new myQtApp;  // lives until the process ends
  window->show();
  return app.exec();
}
