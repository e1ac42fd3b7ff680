#include "tools/common/ServerClient.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "global/MachineIdentity.h"
#include "interfaces/ServerProcedureShapes.h"

namespace Korvane::Pictora::Tools {

using DceRpc::Arguments;
namespace Op = Rpc::ServerOp;

namespace {

// Room the server may fill: error texts up to 4000 characters, identifiers of 36.
const std::string& ErrorPlaceholder() {
  static const std::string placeholder(4000, ' ');
  return placeholder;
}
constexpr size_t kSessionIdLength = 36;
constexpr size_t kVersionRoom = 256;
// A text that keeps growing between the size request and the fetch gets a few more tries.
constexpr int kBufferAttempts = 4;

std::string Trimmed(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string UserName() {
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) return entry->pw_name;
  const char* user = std::getenv("USER");
  return user != nullptr ? user : std::to_string(getuid());
}

}  // namespace

std::optional<DceRpc::Binding> TcpBindingFor(const std::string& hostPort) {
  size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == hostPort.size()) return std::nullopt;
  std::string host = hostPort.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  DceRpc::Binding binding("ncacn_ip_tcp", host, hostPort.substr(colon + 1));
  if (binding.Validate() != DceRpc::StatusCode::kOk) return std::nullopt;
  return binding;
}

DceRpc::Binding PipeBindingFor(const std::string& pipeName) {
  return DceRpc::Binding("ncacn_np", "", "\\pipe\\" + pipeName);
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string SessionInfoXml(const std::string& application) {
  auto element = [](const char* name, const std::string& value) {
    return std::string("<") + name + ">" + XmlEscape(value) + "</" + name + ">";
  };
  return "<SessionInfo>" + element("Application", application) +
         element("MachineName", Global::LocalHostName()) + element("IPAddress", Global::LocalAddress()) +
         element("FQDN", Global::LocalFullyQualifiedName()) + element("UserName", UserName()) +
         "</SessionInfo>";
}

void ServerClient::Call(uint16_t opnum, Arguments& args) {
  binding_.Call(Rpc::ServerInterfaceId(), opnum, Rpc::ServerProcedureSpec(opnum), args);
  answered_ = true;
}

bool ServerClient::GetVersion(std::string& version) {
  Arguments args(1);
  args.SetText(Rpc::VersionParam::kVersion, std::string(kVersionRoom, ' '));
  Call(Op::kGetVersion, args);
  version = Trimmed(args.Text(Rpc::VersionParam::kVersion));
  return args.ResultSmall() != 0;
}

bool ServerClient::OpenSession(const std::string& sessionInfoXml, std::string& error) {
  return Open(Op::kOpenSession, sessionInfoXml, error);
}

bool ServerClient::OpenManagementSession(const std::string& sessionInfoXml, std::string& status) {
  managementSession_ = Open(Op::kManagerOpenSession, sessionInfoXml, status);
  return managementSession_;
}

bool ServerClient::Open(uint16_t opnum, const std::string& sessionInfoXml, std::string& error) {
  namespace P = Rpc::OpenSessionParam;
  Arguments args(3);
  args.SetText(P::kInfo, sessionInfoXml);
  args.SetText(P::kSessionId, std::string(kSessionIdLength, ' '));
  args.SetText(P::kError, ErrorPlaceholder());
  Call(opnum, args);
  if (args.ResultSmall() == 0) {
    error = Trimmed(args.Text(P::kError));
    return false;
  }
  sessionId_ = Trimmed(args.Text(P::kSessionId));
  return true;
}

bool ServerClient::CloseSession() {
  if (sessionId_.empty()) return false;
  const std::string session = std::exchange(sessionId_, std::string());
  if (std::exchange(managementSession_, false)) {
    std::string ignored;
    return CallTexts(Op::kManagerCloseSession, {session}, ignored);
  }
  Arguments args(1);
  args.SetText(Rpc::TextParam::kText, session);
  Call(Op::kCloseSession, args);
  return args.ResultSmall() != 0;
}

bool ServerClient::SessionKnown() {
  if (sessionId_.empty()) return false;
  Arguments args(1);
  args.SetText(Rpc::TextParam::kText, sessionId_);
  Call(Op::kGetSession, args);
  return args.ResultSmall() != 0;
}

bool ServerClient::NameData(uint16_t opnum, const std::string& name, const std::string& data,
                            std::string& error) {
  namespace P = Rpc::NameDataParam;
  Arguments args(5);
  args.SetText(P::kSession, sessionId_);
  args.SetText(P::kName, name);
  args.SetText(P::kData, data + '\0');  // the server reads a NUL-terminated text
  args.SetLong(P::kLength, static_cast<int32_t>(data.size() + 1));
  args.SetText(P::kError, ErrorPlaceholder());
  Call(opnum, args);
  if (args.ResultSmall() != 0) return true;
  error = Trimmed(args.Text(P::kError));
  return false;
}

bool ServerClient::RemoveServiceProvider(const std::string& name) {
  std::string ignored;
  return SessionTexts(Op::kRemoveServiceProvider, {name}, ignored);
}

bool ServerClient::SessionTexts(uint16_t opnum, const std::vector<std::string>& texts, std::string& status) {
  std::vector<std::string> withSession{sessionId_};
  withSession.insert(withSession.end(), texts.begin(), texts.end());
  return CallTexts(opnum, withSession, status);
}

bool ServerClient::CallTexts(uint16_t opnum, const std::vector<std::string>& texts, std::string& status) {
  const DceRpc::ProcedureSpec& shape = Rpc::ServerProcedureSpec(opnum);
  if (shape.params.size() != texts.size() + 1) throw std::invalid_argument("wrong number of texts for the procedure");
  Arguments args(shape.params.size());
  for (size_t i = 0; i < texts.size(); ++i) args.SetText(i, texts[i]);
  args.SetText(texts.size(), ErrorPlaceholder());
  Call(opnum, args);
  if (args.ResultSmall() != 0) return true;
  status = Trimmed(args.Text(texts.size()));
  return false;
}

bool ServerClient::GetServiceName(const std::string& service, std::string& name, std::string& status) {
  namespace P = Rpc::ServiceNameParam;
  Arguments args(4);
  args.SetText(P::kSession, sessionId_);
  args.SetText(P::kService, service);
  args.SetText(P::kName, ErrorPlaceholder());  // the server writes no more than we make room for
  args.SetText(P::kStatus, ErrorPlaceholder());
  Call(Op::kGetServiceName, args);
  if (args.ResultSmall() == 0) {
    status = Trimmed(args.Text(P::kStatus));
    return false;
  }
  name = args.Text(P::kName);
  return true;
}

bool ServerClient::SetStopFlag() {
  Arguments args(2);
  args.SetText(Rpc::TwoTextsParam::kFirst, "");
  args.SetText(Rpc::TwoTextsParam::kSecond, "");
  Call(Op::kSetStopFlag, args);
  return args.ResultSmall() != 0;
}

void ServerClient::CallForBuffer(uint16_t opnum, Arguments& args, size_t buffer, size_t error,
                                 BufferReply& reply) {
  Call(opnum, args);
  reply.result = args.ResultLong();
  reply.text = args.Text(buffer);
  reply.error = Trimmed(args.Text(error));
}

void ServerClient::CallNameBuffer(uint16_t opnum, const std::string& first, const std::string& second,
                                  int32_t size, BufferReply& reply) {
  namespace P = Rpc::NameBufferParam;
  Arguments args(5);
  args.SetText(P::kSession, first);
  args.SetText(P::kName, second);
  args.SetLong(P::kSize, size);
  args.SetText(P::kError, ErrorPlaceholder());
  CallForBuffer(opnum, args, P::kBuffer, P::kError, reply);
}

void ServerClient::CallSessionBuffer(uint16_t opnum, int32_t size, BufferReply& reply) {
  namespace P = Rpc::SessionBufferParam;
  Arguments args(4);
  args.SetText(P::kSession, sessionId_);
  args.SetLong(P::kSize, size);
  args.SetText(P::kError, ErrorPlaceholder());
  CallForBuffer(opnum, args, P::kBuffer, P::kError, reply);
}

template <typename CallOnce>
BufferReply ServerClient::Negotiate(CallOnce callOnce) {
  // Size 0 first: the server answers with the size it needs, then the text.
  BufferReply reply;
  int32_t size = 0;
  for (int attempt = 0; attempt < kBufferAttempts; ++attempt) {
    callOnce(size, reply);
    if (reply.result <= 0) break;
    size = reply.result;
  }
  if (reply.result > 0) {
    reply.error = "the server's answer kept growing; try again";
    reply.result = -1;
  }
  if (reply.result == 0) reply.text = reply.text.substr(0, reply.text.find('\0'));
  return reply;
}

BufferReply ServerClient::NameBuffer(uint16_t opnum, const std::string& first, const std::string& second) {
  return Negotiate([&](int32_t size, BufferReply& reply) { CallNameBuffer(opnum, first, second, size, reply); });
}

BufferReply ServerClient::SessionBuffer(uint16_t opnum) {
  return Negotiate([&](int32_t size, BufferReply& reply) { CallSessionBuffer(opnum, size, reply); });
}

}  // namespace Korvane::Pictora::Tools
