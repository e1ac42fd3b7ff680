#include "tools/cli/CliApp.h"

#include <strings.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <utility>

#include "dcerpc/Status.h"
#include "tools/cli/AdminCommands.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/ClusterStatus.h"
#include "tools/common/ServerList.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Tools {

namespace GU = GeneralUtilityLib;

namespace {

constexpr const char* kExitStatuses =
    "Exit status:\n"
    "  0  done\n"
    "  1  refused: the server answered with a failure\n"
    "  2  bad usage\n"
    "  3  unreachable: no connection to any server given, or the call failed on the way\n"
    "Environment:\n"
    "  PICTORA_SERVER  the servers asked when neither --server nor --pipe is given\n"
    "                  (HOST:PORT, several comma-separated)";

std::string CheckHostPort(const std::string& text) {
  return TcpBindingFor(text) ? std::string() : "HOST:PORT expected (\"[v6 address]:PORT\" for IPv6)";
}

// The report word of the command line, any letter case, becomes the server's report name.
std::string ToReportKind(std::string& word) {
  static const std::pair<const char*, const char*> kKinds[] = {
      {"basic", "Basic"}, {"detailed", "Detailed"}, {"client", "ServerInfoForClient"}};
  for (const auto& [name, kind] : kKinds) {
    if (strcasecmp(word.c_str(), name) == 0) {
      word = kind;
      return {};
    }
  }
  return "basic, detailed or client expected";
}

int Unreachable(const std::string& where, const DceRpc::RpcError& error, std::ostream& err) {
  err << "cannot talk to " << where << ": " << error.what() << " (status " << error.status() << ")\n";
  return kExitUnreachable;
}

// Runs the command on the servers in turn until one answers. A server that answered anything
// has the command: a later failure on the way is not retried elsewhere, as the server may have
// acted already.
int RunOnFirstThatAnswers(ServerList servers, const CliAction& action, std::ostream& err) {
  for (size_t tried = 1;; ++tried) {
    ServerClient client(servers.CurrentBinding());
    try {
      return action(client);
    } catch (const DceRpc::RpcError& error) {
      Unreachable("the server at " + servers.CurrentAddress(), error, err);
      if (client.Answered() || tried == servers.Size()) return kExitUnreachable;
      servers.MoveToNext();
    }
  }
}

}  // namespace

void AddQueryCommands(CLI::App& app, CliAction& action, const OutputFormat& format, std::ostream& out,
                      std::ostream& err) {
  // Captured by the callbacks below, which run after parsing while `app` is alive.
  auto kind = std::make_shared<std::string>("Basic");
  auto name = std::make_shared<std::string>();
  auto xml = std::make_shared<bool>(false);

  app.add_subcommand("version", "the server's version")->callback([&] {
    action = [&](ServerClient& client) { return Version(client, format, out, err); };
  });

  CLI::App* info = app.add_subcommand("info", "the server's information report");
  info->add_option("kind", *kind, "basic (default), detailed or client")
      ->type_name("")
      ->transform(CLI::Validator(ToReportKind, "", "report kind"));
  info->callback([&, kind] {
    action = [&, kind](ServerClient& client) { return Info(client, *kind, format, out, err); };
  });

  CLI::App* providersFor = app.add_subcommand("providers-for", "providers running SERVICE, least loaded first");
  providersFor->add_option("SERVICE", *name, "the service's name")->required();
  providersFor->add_flag("--xml", *xml, "print the server's document as it is (as --output xml)");
  providersFor->callback([&, name, xml] {
    action = [&, name, xml](ServerClient& client) {
      return ProvidersFor(client, *name, *xml ? OutputFormat::kXml : format, out, err);
    };
  });

  app.add_subcommand("providers", "the registered providers")->callback([&] {
    action = [&](ServerClient& client) { return Providers(client, format, out, err); };
  });

  CLI::App* services = app.add_subcommand("services", "the services a provider registered");
  services->add_option("PROVIDER", *name, "the provider's name")->required();
  services->callback([&, name] {
    action = [&, name](ServerClient& client) { return Services(client, *name, format, out, err); };
  });

  app.add_subcommand("stop", "asks a server in console mode to stop")->callback([&] {
    action = [&](ServerClient& client) { return Stop(client, format, out, err); };
  });
}

int RunCli(const std::vector<std::string>& words, std::istream& in, std::ostream& out, std::ostream& err,
           const std::string& defaultServers) {
  CLI::App app("Asks a Korvane Pictora server questions and manages it.", "pictora-cli");
  app.set_version_flag("--version",
                       std::string("pictora-cli ") + PICTORA_VERSION +
                           " (the product's release)\n"
                           "`pictora-cli version` prints the server's interface version instead (procedure 0,\n"
                           "e.g. 1.0.0.2): the revision of the RPC interface, not a release number.");
  app.require_subcommand(1);
  app.fallthrough();  // --server and --pipe may also follow the command
  app.footer(kExitStatuses);

  std::vector<std::string> servers{"localhost:3982"};
  std::string pipe;
  CLI::Option* serverOption =
      app.add_option("--server", servers,
                     "the server's TCP endpoint (default $PICTORA_SERVER, else localhost:3982); several,\n"
                     "comma-separated or repeated, are servers of one cluster: the first that answers\n"
                     "runs the command")
          ->type_name("HOST:PORT")
          ->delimiter(',')
          ->allow_extra_args(false)
          ->check(CLI::Validator(CheckHostPort, "", "HOST:PORT"));
  app.add_option("--pipe", pipe, "the server's local channel instead (e.g. KorvanePictora)")
      ->type_name("NAME")
      ->excludes(serverOption);

  std::string outputWord = "table";
  app.add_option("--output", outputWord, "how answers are printed: table (default), json or xml")
      ->type_name("table|json|xml")
      ->transform(CLI::Validator(NormalizeOutputWord, "", "output format"));
  OutputFormat format = OutputFormat::kTable;

  CliAction action;
  AddQueryCommands(app, action, format, out, err);
  std::optional<AdminRequest> adminRequest;
  AddAdminCommands(app, adminRequest);
  bool clusterStatus = false;
  CLI::App* cluster = app.get_subcommand("admin")->add_subcommand("cluster", "the cluster as each server sees it");
  cluster->require_subcommand(1);
  cluster->add_subcommand("status", "each server's view: the store reachable, who runs the liveness pass, revision")
      ->callback([&clusterStatus] { clusterStatus = true; });

  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return app.exit(error, out, err) == 0 ? kExitOk : kExitUsage;
  }
  format = OutputFormatFrom(outputWord);
  if (serverOption->count() == 0 && !GU::Trim(defaultServers).empty()) {
    servers.clear();
    for (const std::string& server : GU::Tokenize(defaultServers, ",")) {
      servers.push_back(GU::Trim(server));
      if (!CheckHostPort(servers.back()).empty()) {
        err << "PICTORA_SERVER: " << CheckHostPort(servers.back()) << ": '" << servers.back() << "'\n";
        return kExitUsage;
      }
    }
    if (servers.empty()) {
      err << "PICTORA_SERVER names no server\n";
      return kExitUsage;
    }
  }
  if (clusterStatus) {
    std::vector<std::pair<std::string, DceRpc::Binding>> bindings;
    if (!pipe.empty()) bindings.emplace_back("pipe " + pipe, PipeBindingFor(pipe));
    for (const std::string& server : servers) {
      if (pipe.empty()) bindings.emplace_back(server, *TcpBindingFor(server));
    }
    return ClusterStatus(bindings, format, out, err);
  }
  if (adminRequest) {
    if (!LoadAdminDocument(*adminRequest, in, err)) return kExitUsage;
    action = [&](ServerClient& client) { return RunAdmin(client, *adminRequest, format, out, err); };
  }
  if (pipe.empty()) return RunOnFirstThatAnswers(ServerList(servers), action, err);
  ServerClient client(PipeBindingFor(pipe));
  try {
    return action(client);
  } catch (const DceRpc::RpcError& error) {
    return Unreachable("the server", error, err);
  }
}

}  // namespace Korvane::Pictora::Tools
