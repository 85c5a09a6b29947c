#include "app/gui/application.h"

int main(int argc, char** argv) { return vellumar::gui::RunApplication(argc, argv); }
