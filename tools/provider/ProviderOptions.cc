#include "tools/provider/ProviderOptions.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "tools/common/ServerClient.h"

namespace Korvane::Pictora::Tools {

namespace {

constexpr long kMaxMilliseconds = 3600000;

bool ParseLong(const std::string& text, long minimum, long maximum, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) return false;
  value = parsed;
  return true;
}

const CLI::Validator kNotEmpty(
    [](const std::string& text) { return text.empty() ? std::string("must not be empty") : std::string(); }, "",
    "not empty");

const CLI::Validator kHostPort(
    [](const std::string& text) { return TcpBindingFor(text) ? std::string() : std::string("HOST:PORT expected"); },
    "", "host and port");

const CLI::Validator kFinite(
    [](const std::string& text) {
      char* end = nullptr;
      const double value = std::strtod(text.c_str(), &end);
      return !text.empty() && *end == '\0' && std::isfinite(value) ? std::string() : std::string("a number expected");
    },
    "", "finite number");

}  // namespace

std::optional<ProviderOptions> ParseProviderOptions(const std::vector<std::string>& words, std::ostream& out,
                                                    std::ostream& err, int& exitStatus) {
  ProviderOptions options;
  CLI::App app(
      "A stand-in Pictora service provider for demos and tests: serves the provider interface on a\n"
      "TCP port of its own and, given --server, registers itself and its services there. With\n"
      "several servers (one cluster) it moves to the next when the one in use stops answering.",
      "pictora-provider");
  app.set_version_flag("--version", PICTORA_VERSION);
  app.add_option("--name", options.name, "the provider's name (default " + options.name + ")")->check(kNotEmpty);
  app.add_option("--server", options.servers,
                 "the server to register with; several, comma-separated or repeated,\n"
                 "are servers of one cluster, used in turn; without it, serve only")
      ->type_name("HOST:PORT")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(kHostPort);
  app.add_option("--host", options.hostMachine, "the address the server calls back (default: host name)")
      ->type_name("HOSTMACHINE")
      ->check(kNotEmpty);
  app.add_option("--port", options.port, "the TCP port to serve, 0-65535 (default 0: any free port)")
      ->type_name("PORT")
      ->check(CLI::Range(0, 65535).description(""));
  double load = 0;
  CLI::Option* loadOption =
      app.add_option("--load", load, "a fixed load to report (default: from recent calls)")
          ->check(kFinite);
  app.add_option("--service", options.services, "a service to register besides those the server names;\nrepeatable")
      ->type_name("NAME")
      ->allow_extra_args(false)
      ->check(kNotEmpty);
  long updateMs = options.updatePeriod.count();
  app.add_option("--update-ms", updateMs, "how often to send the update, 10-3600000 (default 10000)")
      ->type_name("MS")
      ->check(CLI::Range(10L, kMaxMilliseconds).description(""));
  std::string delay;
  app.add_option("--reregister-delay-ms", delay,
                 "the random wait before registering again once the server forgot us\n"
                 "(default 1000:10000)")
      ->type_name("MIN:MAX")
      ->check(CLI::Validator(
          [&options](const std::string& text) -> std::string {
            const size_t colon = text.find(':');
            long low = 0;
            long high = 0;
            if (colon == std::string::npos || !ParseLong(text.substr(0, colon), 0, kMaxMilliseconds, low) ||
                !ParseLong(text.substr(colon + 1), low, kMaxMilliseconds, high))
              return "MIN:MAX expected, 0 <= MIN <= MAX <= 3600000";
            options.reregisterMin = std::chrono::milliseconds(low);
            options.reregisterMax = std::chrono::milliseconds(high);
            return {};
          },
          "", "range"));
  app.add_flag("--refuse-ping", options.refusePing, "answer every ping with access denied (for tests)");
  app.add_flag("--silent", options.silent, "accept calls but never answer them (for tests)");
  long answerDelayUs = 0;
  app.add_option("--answer-delay-us", answerDelayUs,
                 "wait this long before every answer, as a provider further away or busier would,\n0-1000000 (for "
                 "benchmarks; default 0)")
      ->type_name("US")
      ->check(CLI::Range(0L, 1000000L).description(""));

  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    exitStatus = app.exit(error, out, err) == 0 ? 0 : kProviderUsageExit;
    return std::nullopt;
  }
  if (*loadOption) options.load = load;
  options.updatePeriod = std::chrono::milliseconds(updateMs);
  options.answerDelay = std::chrono::microseconds(answerDelayUs);
  exitStatus = 0;
  return options;
}

}  // namespace Korvane::Pictora::Tools
