#pragma once

#include <QApplication>

// The program's application object. Create it before any image window: the measurement windows
// attach to it and share its event loop.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  // Ends the reading ahead of the next photograph, waiting for a read under way, so that no read
  // runs on while the program's statics end after main.
  ~Application() override;
};
