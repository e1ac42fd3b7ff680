#include "tools/cli/AdminCommands.h"

#include <CLI/CLI.hpp>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "global/MachineIdentity.h"
#include "interfaces/ServerProcedureShapes.h"
#include "tools/cli/AdminReport.h"
#include "tools/cli/CliCommands.h"

namespace Korvane::Pictora::Tools {

namespace Op = Rpc::ServerOp;

namespace {

constexpr const char* kAdminSynopsis =
    "Commands (each in a management session of its own, opened as ServerManager from this machine):\n"
    "  admin info [--xml]                      providers and services with their state\n"
    "  admin cluster status                    each server's view of the cluster store\n"
    "  admin providers-info                    the providers' report\n"
    "  admin config [set FILE|-]               the server's configuration, or replace it\n"
    "  admin services [set FILE|-]             the services document, or replace it\n"
    "  admin service add NAME --source S [--properties XML] [--providers A;B]\n"
    "  admin service remove NAME [--providers A;B]\n"
    "  admin service start|stop|refresh NAME\n"
    "  admin service refresh-all\n"
    "  admin service name NAME\n"
    "  admin provider create NAME --port P [--machine M]\n"
    "  admin provider delete|start|stop NAME\n"
    "  admin provider config NAME [set FILE|-]\n\n";

// The words the admin commands read. CLI11 writes them while parsing; the chosen command's
// callback turns them into its request.
struct AdminWords {
  std::string name;
  std::string source;
  std::string properties;
  std::string providers;
  std::string machine = Global::LocalHostName();
  int port = 0;
  std::string file;
  bool xml = false;
};

using Words = std::shared_ptr<AdminWords>;
using MakeRequest = std::function<AdminRequest(const AdminWords&)>;

std::string CheckDocumentFile(std::string& path) {
  return path == "-" ? std::string() : CLI::ExistingFile(path);
}

void Choose(CLI::App* command, std::optional<AdminRequest>& request, const Words& words, MakeRequest make) {
  command->callback([&request, words, make = std::move(make)] { request = make(*words); });
}

void AddName(CLI::App* command, const Words& words, const std::string& what) {
  command->add_option("NAME", words->name, what + "'s name")->required();
}

// `parent set FILE|-`: the document that replaces the one `parent` shows.
CLI::App* AddSet(CLI::App* parent, const Words& words) {
  CLI::App* set = parent->add_subcommand("set", "replaces it with the document in FILE ('-': standard input)");
  set->add_option("FILE", words->file, "the new document")
      ->required()
      ->check(CLI::Validator(CheckDocumentFile, "FILE|-", "document file"));
  return set;
}

// A command that shows a document, with `set` replacing it: `show` without set, `update` with.
void AddShowOrSet(CLI::App* command, std::optional<AdminRequest>& request, const Words& words, MakeRequest show,
                  MakeRequest update) {
  CLI::App* set = AddSet(command, words);
  command->callback([&request, words, set, show = std::move(show), update = std::move(update)] {
    request = set->parsed() ? update(*words) : show(*words);
  });
}

// The commands taking one NAME and answering nothing: `word` runs `opnum` on the named `noun`.
struct NameCommand {
  const char* word;
  const char* description;
  uint16_t opnum;
  const char* done;
};

void AddNameCommands(CLI::App* group, const char* noun, std::initializer_list<NameCommand> commands,
                     std::optional<AdminRequest>& request, const Words& words) {
  for (const NameCommand& command : commands) {
    CLI::App* sub = group->add_subcommand(command.word, command.description);
    AddName(sub, words, std::string("the ") + noun);
    Choose(sub, request, words, [noun, command](const AdminWords& w) {
      return AdminRequest{command.opnum, {w.name}, "", false, std::string(noun) + " '" + w.name + "' " + command.done};
    });
  }
}

void AddReportCommands(CLI::App* admin, std::optional<AdminRequest>& request, const Words& words) {
  CLI::App* info = admin->add_subcommand("info", "the server-manager report: providers and services with their state");
  info->add_flag("--xml", words->xml, "print the server's document as it is");
  Choose(info, request, words, [](const AdminWords& w) { return AdminRequest{Op::kGetServerInfo, {}, "", w.xml, ""}; });
  Choose(admin->add_subcommand("providers-info", "the providers' report, as the server's document"), request, words,
         [](const AdminWords&) { return AdminRequest{Op::kGetServiceProvidersInfo, {}, "", false, ""}; });

  AddShowOrSet(
      admin->add_subcommand("config", "the server's configuration document; `config set FILE|-` replaces it"),
      request, words, [](const AdminWords&) { return AdminRequest{Op::kGetServerConfigXml, {}, "", false, ""}; },
      [](const AdminWords& w) {
        return AdminRequest{Op::kUpdateServerConfigXml, {}, w.file, false, "server configuration updated",
                            Global::DocumentKind::kServerConfiguration};
      });
  AddShowOrSet(
      admin->add_subcommand("services", "the services document; `services set FILE|-` replaces it"), request, words,
      [](const AdminWords&) { return AdminRequest{Op::kGetServicesXml, {}, "", false, ""}; },
      [](const AdminWords& w) {
        return AdminRequest{Op::kUpdateServicesXml, {}, w.file, false, "services updated",
                            Global::DocumentKind::kServices};
      });
}

void AddServiceCommands(CLI::App* admin, std::optional<AdminRequest>& request, const Words& words) {
  CLI::App* service = admin->add_subcommand("service", "one service: add, remove, start, stop, refresh, name");
  service->require_subcommand(1);

  CLI::App* add = service->add_subcommand("add", "adds a service, switched off");
  AddName(add, words, "the service");
  add->add_option("--source", words->source, "where the service comes from")->required();
  add->add_option("--properties", words->properties, "its properties (XML)");
  add->add_option("--providers", words->providers, "the providers to run it, as A;B (default: every provider)");
  Choose(add, request, words, [](const AdminWords& w) {
    return AdminRequest{Op::kManagerAddService, {w.source, w.name, w.properties, w.providers}, "", false,
                        "service '" + w.name + "' added"};
  });

  // The server deletes the service once no provider is left on its list; without --providers it
  // takes off the configured providers only, so one that merely registered stays listed.
  CLI::App* remove = service->add_subcommand("remove", "takes a service off providers; deleted once none is left");
  AddName(remove, words, "the service");
  remove->add_option("--providers", words->providers,
                     "the providers to take it off, as A;B (default: every configured provider)");
  Choose(remove, request, words, [](const AdminWords& w) {
    return AdminRequest{Op::kManagerRemoveService, {w.name, w.providers}, "", false,
                        "service '" + w.name + "' taken off " +
                            (w.providers.empty() ? std::string("every configured provider") : w.providers)};
  });

  AddNameCommands(service, "service",
                  {{"start", "switches a service on and starts it on its providers", Op::kStartService, "started"},
                   {"stop", "stops a service on its providers and switches it off", Op::kStopService, "stopped"},
                   {"refresh", "sends a service's definition to its providers again", Op::kRefreshService,
                    "refreshed"}},
                  request, words);
  Choose(service->add_subcommand("refresh-all", "asks every configured provider to refresh all its services"), request,
         words, [](const AdminWords&) {
           return AdminRequest{Op::kRefreshAllServices, {}, "", false, "every configured provider refreshed"};
         });
  CLI::App* name = service->add_subcommand("name", "the service's name as the server spells it");
  AddName(name, words, "the service");
  Choose(name, request, words,
         [](const AdminWords& w) { return AdminRequest{Op::kGetServiceName, {w.name}, "", false, ""}; });
}

void AddProviderCommands(CLI::App* admin, std::optional<AdminRequest>& request, const Words& words) {
  CLI::App* provider =
      admin->add_subcommand("provider", "one provider's configuration: create, delete, start, stop, config");
  provider->require_subcommand(1);

  CLI::App* create = provider->add_subcommand("create", "writes a new provider configuration, switched off");
  AddName(create, words, "the provider");
  create->add_option("--machine", words->machine, "the machine it runs on (default: this one)");
  create->add_option("--port", words->port, "the port it listens on")->required()->check(CLI::Range(1, 65535));
  Choose(create, request, words, [](const AdminWords& w) {
    return AdminRequest{Op::kCreateServiceProvider, {w.machine, std::to_string(w.port), w.name}, "", false,
                        "provider '" + w.name + "' created"};
  });

  AddNameCommands(provider, "provider",
                  {{"delete", "deletes a provider's configuration", Op::kDeleteServiceProvider, "deleted"},
                   {"start", "switches a provider on and starts it", Op::kStartServiceProvider, "started"},
                   {"stop", "stops a provider and switches it off", Op::kStopServiceProvider, "stopped"}},
                  request, words);

  CLI::App* config =
      provider->add_subcommand("config", "a provider's configuration; `config NAME set FILE|-` replaces it");
  AddName(config, words, "the provider");
  AddShowOrSet(
      config, request, words,
      [](const AdminWords& w) { return AdminRequest{Op::kGetServiceProviderConfigXml, {w.name}, "", false, ""}; },
      [](const AdminWords& w) {
        return AdminRequest{Op::kUpdateServiceProviderConfigXml, {w.name}, w.file, false,
                            "configuration of provider '" + w.name + "' updated",
                            Global::DocumentKind::kProviderConfiguration};
      });
}

int Refused(std::ostream& err, const std::string& status) {
  return Refuse(err, status.empty() ? "the server refused without giving a reason" : "the server refused", status);
}

std::optional<std::string> ReadDocument(const std::string& path, std::istream& in) {
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) return std::nullopt;
  }
  std::istream& source = path == "-" ? in : file;
  std::string text{std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()};
  if (source.bad()) return std::nullopt;
  return text;
}

int PrintAnswer(const BufferReply& reply, const AdminRequest& request, OutputFormat format, std::ostream& out,
                std::ostream& err) {
  if (reply.result != 0) return Refused(err, reply.error);
  const TableMaker table = request.opnum == Op::kGetServerInfo ? TableMaker(ServerReportText) : TableMaker();
  return PrintDocument(reply.text, request.xml ? OutputFormat::kXml : format, table, out, err);
}

int Ask(ServerClient& client, const AdminRequest& request, OutputFormat format, std::ostream& out, std::ostream& err) {
  const std::vector<std::string>& texts = request.texts;
  std::string status;
  switch (request.opnum) {
    case Op::kGetServerInfo:
    case Op::kGetServerConfigXml:
    case Op::kGetServiceProvidersInfo:
    case Op::kGetServicesXml:
      return PrintAnswer(client.SessionBuffer(request.opnum), request, format, out, err);
    case Op::kGetServiceProviderConfigXml:
      return PrintAnswer(client.NameBuffer(request.opnum, client.SessionId(), texts.at(0)), request, format, out, err);
    case Op::kGetServiceName: {
      std::string name;
      if (!client.GetServiceName(texts.at(0), name, status)) return Refused(err, status);
      PrintDone(name, format, out);
      return kExitOk;
    }
    default:
      if (!client.SessionTexts(request.opnum, texts, status)) return Refused(err, status);
      PrintDone(request.done, format, out);
      return kExitOk;
  }
}

}  // namespace

void AddAdminCommands(CLI::App& app, std::optional<AdminRequest>& request) {
  CLI::App* admin = app.add_subcommand(
      "admin", "manages the server: its services, providers and configuration (from a machine on its allow list)");
  admin->require_subcommand(1);
  auto words = std::make_shared<AdminWords>();
  AddReportCommands(admin, request, words);
  AddServiceCommands(admin, request, words);
  AddProviderCommands(admin, request, words);
  admin->footer(kAdminSynopsis + app.get_footer());  // after the commands, which keep the shorter footer
}

bool LoadAdminDocument(AdminRequest& request, std::istream& in, std::ostream& err) {
  if (request.documentFile.empty()) return true;
  std::optional<std::string> document = ReadDocument(request.documentFile, in);
  if (!document) {
    err << "cannot read " << request.documentFile << "\n";
    return false;
  }
  if (request.documentKind) {
    const std::string name = request.documentFile == "-" ? "(standard input)" : request.documentFile;
    const Global::ConfigurationProblems problems = Global::CheckDocument(*request.documentKind, *document, name);
    for (const Global::ConfigurationProblem& problem : problems) err << problem.ToString() << "\n";
    if (!problems.empty()) {
      err << "not sent: the document has " << problems.size() << " problem(s)\n";
      return false;
    }
  }
  request.texts.push_back(std::move(*document));
  request.documentFile.clear();
  return true;
}

int RunAdmin(ServerClient& client, const AdminRequest& request, OutputFormat format, std::ostream& out,
             std::ostream& err) {
  return WithSession(client, SessionKind::kManagement, err, [&] { return Ask(client, request, format, out, err); });
}

}  // namespace Korvane::Pictora::Tools
