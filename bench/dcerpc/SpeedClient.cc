// dcerpc_speed_client KIND PORT CONNECTIONS SECONDS
//   KIND: echo (a message the size of the null call's request, echoed back), null (procedure 0
//   of the test interface over a bound connection, raw PDUs) or version (procedure 0 of the
//   server's interface, GetVersion, with the 256 characters of room pictora-cli sends).
// Closed loop: each connection sends its next message as soon as the answer is in. Prints one
// line: "calls_per_second p50_us p99_us failures".
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/dcerpc/BenchWire.h"
#include "dcerpc/Ndr.h"
#include "interfaces/ServerProcedureShapes.h"

using namespace Korvane::Pictora::DceRpc;
namespace Rpc = Korvane::Pictora::Rpc;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: dcerpc_speed_client echo|null|version PORT CONNECTIONS SECONDS\n");
    return 2;
  }
  const bool version = std::strcmp(argv[1], "version") == 0;
  const bool rpc = version || std::strcmp(argv[1], "null") == 0;
  const auto port = static_cast<uint16_t>(std::atoi(argv[2]));
  const int connections = std::atoi(argv[3]);
  const double seconds = std::atof(argv[4]);
  const std::vector<uint8_t> nullCall = Bench::RequestPdu(Testing::Op::kPing, {});
  std::vector<uint8_t> request = rpc ? nullCall : std::vector<uint8_t>(nullCall.size(), 0x5A);
  const SyntaxId& interfaceId = version ? Rpc::ServerInterfaceId() : Testing::TestInterfaceId();
  if (version) {
    const ProcedureSpec& spec = Rpc::ServerProcedureSpec(Rpc::ServerOp::kGetVersion);
    Arguments args(1);
    args.SetText(Rpc::VersionParam::kVersion, std::string(256, ' '));
    std::vector<uint8_t> stub;
    EncodeRequestStub(spec, args, stub);
    request.clear();
    EncodeRequestFragments(2, 0, Rpc::ServerOp::kGetVersion, stub, kTcpFragmentCap, request);
  }

  std::atomic<bool> go{false}, stop{false};
  std::atomic<size_t> failures{0};
  std::vector<std::vector<double>> latencies(static_cast<size_t>(connections));
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&, c] {
      int fd = rpc ? Bench::ConnectBound(port, interfaceId) : Bench::Connect(port);
      if (fd < 0) {
        ++failures;
        return;
      }
      std::vector<uint8_t> reply(request.size());
      auto& mine = latencies[static_cast<size_t>(c)];
      mine.reserve(1 << 20);
      while (!go) std::this_thread::yield();
      while (!stop) {
        auto start = Clock::now();
        bool ok = Bench::WriteFull(fd, request.data(), request.size()) &&
                  (rpc ? Bench::ReadPdu(fd, reply) == PduType::kResponse
                       : Bench::ReadFull(fd, reply.data(), reply.size()));
        if (!ok) {
          ++failures;
          break;
        }
        mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      }
      close(fd);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto started = Clock::now();
  go = true;
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  for (auto& thread : threads) thread.join();
  std::vector<double> all;
  for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
  std::sort(all.begin(), all.end());
  if (all.empty()) all.push_back(0);
  std::printf("%.0f %.1f %.1f %zu\n", static_cast<double>(all.size()) / elapsed, all[all.size() / 2],
              all[all.size() * 99 / 100], failures.load());
  return 0;
}
