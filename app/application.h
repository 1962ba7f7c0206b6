#pragma once

#include <QApplication>

// The program's application object. Create it before any image window: the measurement windows
// attach to it and share its event loop.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
};
