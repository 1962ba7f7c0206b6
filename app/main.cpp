#include "app/application.h"
#include "app/myqtapp.h"

int main(int argc, char** argv) {
  Application app(argc, argv);
  myQtApp* window = new myQtApp;  // lives until the process ends
  window->show();
  return app.exec();
}
