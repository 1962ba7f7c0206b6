#include "app/myqtapp.h"

void myQtApp::do_something() {}
