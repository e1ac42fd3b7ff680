// A caller of the server's procedure interface for the tools (client tool, stand-in provider):
// one binding to the server, an optional session, and the size negotiation of buffer replies
// done for the caller.
//
// Transport failures surface as DceRpc::RpcError (status 1722: the server cannot be reached);
// a procedure's own failure is its result, with the server's error text where it sends one.
//
// Thread safety: none; one object per thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dcerpc/Client.h"

namespace Korvane::Pictora::Tools {

// "host:port" (TCP; "[v6]:port" for an IPv6 address) or a pipe name; nullopt when malformed.
std::optional<DceRpc::Binding> TcpBindingFor(const std::string& hostPort);
DceRpc::Binding PipeBindingFor(const std::string& pipeName);

// Characters a text needs escaped inside an XML element.
std::string XmlEscape(const std::string& text);

// <SessionInfo> with Application and this machine's name, address, fully qualified name, user.
std::string SessionInfoXml(const std::string& application);

struct BufferReply {
  int32_t result = -1;  // 0: text holds the answer; -1: failure, error holds the reason
  std::string text;
  std::string error;
};

class ServerClient {
 public:
  explicit ServerClient(DceRpc::Binding binding) : binding_(std::move(binding)) {}

  // Procedure 0. False when the server says so.
  bool GetVersion(std::string& version);

  // Procedure 4; the identifier is kept for the calls below.
  bool OpenSession(const std::string& sessionInfoXml, std::string& error);
  // Procedure 25: a management session (Application "ServerManager"), kept like the one of 4.
  bool OpenManagementSession(const std::string& sessionInfoXml, std::string& status);
  // Closes the kept session (nothing when there is none) with 8, or 26 for a management session;
  // forgets it either way.
  bool CloseSession();
  // Procedure 9: whether the server still knows the kept session.
  bool SessionKnown();
  const std::string& SessionId() const { return sessionId_; }
  void ForgetSession() { sessionId_.clear(); }

  // Procedures 11, 15, 16, 17 (name + NUL-terminated data): the boolean result.
  bool NameData(uint16_t opnum, const std::string& name, const std::string& data, std::string& error);
  // Procedure 12.
  bool RemoveServiceProvider(const std::string& name);
  // Procedures shaped (session, texts..., in/out status) -> small: 12 and the management
  // procedures 28-31, 33, 35, 38-42, 44, 45. The kept session goes first; `status` receives the
  // server's status text on failure.
  bool SessionTexts(uint16_t opnum, const std::vector<std::string>& texts, std::string& status);
  // Procedure 43: the stored spelling of a service's name.
  bool GetServiceName(const std::string& service, std::string& name, std::string& status);
  // Procedure 24.
  bool SetStopFlag();

  // Buffer-reply procedures taking (first text, second text): 13, 14, 18, 21, 34, 46, 47. For
  // the session procedures pass SessionId() as first text.
  BufferReply NameBuffer(uint16_t opnum, const std::string& first, const std::string& second);
  // Buffer-reply procedures of the kept session alone: 19, 27, 32, 36, 37.
  BufferReply SessionBuffer(uint16_t opnum);

  DceRpc::Binding& Binding() { return binding_; }
  // Whether any call has come back from the server (with whatever result).
  bool Answered() const { return answered_; }

 private:
  // Calls once with `size`; result and buffer/error land in reply.
  void CallNameBuffer(uint16_t opnum, const std::string& first, const std::string& second,
                      int32_t size, BufferReply& reply);
  void CallSessionBuffer(uint16_t opnum, int32_t size, BufferReply& reply);
  // Calls a buffer-reply procedure with the arguments prepared and reads its reply.
  void CallForBuffer(uint16_t opnum, DceRpc::Arguments& args, size_t buffer, size_t error,
                     BufferReply& reply);
  template <typename CallOnce>
  BufferReply Negotiate(CallOnce callOnce);

  // Every call goes through here: runs `opnum` and notes that the server answered.
  void Call(uint16_t opnum, DceRpc::Arguments& args);
  bool Open(uint16_t opnum, const std::string& sessionInfoXml, std::string& error);
  // `texts` then room for the status; the status text when the result is false.
  bool CallTexts(uint16_t opnum, const std::vector<std::string>& texts, std::string& status);

  DceRpc::Binding binding_;
  std::string sessionId_;
  bool managementSession_ = false;  // sessionId_ came from 25 and closes with 26
  bool answered_ = false;
};

}  // namespace Korvane::Pictora::Tools
