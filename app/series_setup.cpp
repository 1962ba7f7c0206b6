#include "app/myqtapp.h"

void myQtApp::process_directory() {}
