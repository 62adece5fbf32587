// korvane-call: see korvane_call.h, or run korvane-call --help.
#include <iostream>

#include "tools/korvane_call/korvane_call.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const auto environment = korvane::InterfaceAddressInputs::fromProcess(std::nullopt);
  const int status = korvane::tools::runKorvaneCall(args, environment, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
