// pictora-cli: asks a Pictora server questions from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/cli/CliCommands.h"
#include "tools/common/ServerClient.h"

namespace Tools = Korvane::Pictora::Tools;

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  std::optional<Korvane::Pictora::DceRpc::Binding> binding = Tools::TcpBindingFor("localhost:3982");
  if (words.size() >= 2 && (words[0] == "--server" || words[0] == "--pipe")) {
    binding = words[0] == "--pipe" ? Tools::PipeBindingFor(words[1]) : Tools::TcpBindingFor(words[1]);
    if (!binding) {
      std::cerr << "bad --server (HOST:PORT expected): " << words[1] << "\n";
      return 2;
    }
    words.erase(words.begin(), words.begin() + 2);
  }
  Tools::ServerClient client(*binding);
  return Tools::RunCliCommand(client, words, std::cout, std::cerr);
}
