#include "app/application.h"

#include <QFont>
#include <clocale>

#include "app/photo_open.h"

using namespace meravel;

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // QApplication switches the C library to the user's locale. Every number the program prints
  // or writes to its files keeps the decimal point, whatever that locale's separator is.
  std::setlocale(LC_NUMERIC, "C");
  // The form's geometry was laid out for the narrow Windows dialog font at 8 pt: prefer narrow
  // fonts where it is missing, so that every caption fits its box.
  QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg 2"),
                             {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans Narrow"),
                              QStringLiteral("DejaVu Sans Condensed")});
  QFont::insertSubstitutions(QStringLiteral("Fixedsys"),
                             {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
}

Application::~Application() { photograph_prefetch().stop(); }
