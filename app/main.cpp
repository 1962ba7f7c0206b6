#include "app/application.h"
#include "app/myqtapp.h"
#include "app/photo_open.h"

int main(int argc, char** argv) {
  keep_freed_images_for_reuse();
  Application app(argc, argv);
  myQtApp* window = new myQtApp;  // lives until the process ends
  window->show();
  return app.exec();
}
