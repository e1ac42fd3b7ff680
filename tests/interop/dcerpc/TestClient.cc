// Calls the test interface once with the runtime's client, for the interoperability tests
// against servers written by others. Usage:
//   dcerpc_test_client PROTSEQ ADDRESS ENDPOINT OPERATION ARGUMENT [CALL_TIMEOUT_MS]
// OPERATION: echo TEXT | echo3 TEXT (three calls on one binding) | fill COUNT | double VALUE |
// ping -. Prints "OK <result> <value>" or
// "STATUS <windows status>".
#include <iostream>
#include <string>

#include "dcerpc/Client.h"
#include "tests/dcerpc/TestInterface.h"

using namespace Korvane::Pictora::DceRpc;

namespace {

std::string Run(const Binding& binding, const std::string& operation, const std::string& argument) {
  const SyntaxId& id = Testing::TestInterfaceId();
  if (operation == "echo" || operation == "echo3") {
    Arguments args(2);
    for (int call = operation == "echo" ? 2 : 0; call < 3; ++call) {
      args.SetText(0, argument);
      args.SetText(1, std::string(argument.size() + 5, 'A'));
      binding.Call(id, Testing::Op::kEcho, Testing::EchoSpec(), args);
    }
    return std::to_string(args.ResultLong()) + " " + args.Text(1);
  }
  if (operation == "fill") {
    Arguments args(4);
    args.SetText(0, argument);
    args.SetLong(1, std::stoi(argument) + 1);
    args.SetText(3, std::string(10, 'A'));
    binding.Call(id, Testing::Op::kFill, Testing::FillSpec(), args);
    std::string text = args.Text(2).c_str();
    bool same = text == Testing::FillText(std::stoul(argument));
    return std::to_string(args.ResultLong()) + " " + (same ? "same" : "different:" + text.substr(0, 40));
  }
  if (operation == "double") {
    Arguments args(1);
    args.SetDouble(0, std::stod(argument));
    binding.Call(id, Testing::Op::kDouble, Testing::DoubleSpec(), args);
    return "0 " + std::to_string(args.Double(0));
  }
  Arguments args;
  binding.Call(id, Testing::Op::kPing, Testing::PingSpec(), args);
  return std::to_string(args.ResultSmall()) + " -";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::cerr << "usage: dcerpc_test_client PROTSEQ ADDRESS ENDPOINT OPERATION ARGUMENT [CALL_TIMEOUT_MS]\n";
    return 2;
  }
  Binding binding(argv[1], argv[2], argv[3]);
  if (argc > 6) binding.SetTimeouts({std::chrono::milliseconds(3000), std::chrono::milliseconds(std::stoi(argv[6]))});
  try {
    std::string result = Run(binding, argv[4], argv[5]);
    std::cout << "OK " << result << std::endl;
  } catch (const RpcError& e) {
    std::cout << "STATUS " << e.status() << std::endl;
  }
  return 0;
}
