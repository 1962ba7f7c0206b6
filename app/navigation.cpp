#include "app/myqtapp.h"

void myQtApp::update_file_list() {}

int myQtApp::get_number_of_measures(string /*name*/) { return 0; }

void myQtApp::file_fwd() {}

void myQtApp::file_bwd() {}
