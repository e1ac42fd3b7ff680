// pictora-cli: asks a Pictora server questions and manages it from the command line.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tools/cli/CliApp.h"

int main(int argc, char** argv) {
  const char* servers = std::getenv("PICTORA_SERVER");
  return Korvane::Pictora::Tools::RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout,
                                         std::cerr, servers != nullptr ? servers : "");
}
