// The process entry: hands the command line to the application main routine
// and exits with its status.
#include "app_shell/main_interface.h"
#include "platform/appkit/application_main.h"

int main(int argc, char** argv) {
  return korvane::NSApplicationMain(argc, argv, korvane::loadMainInterface);
}
