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
  // Procedure 8 for the kept session (nothing when there is none); forgets it either way.
  bool CloseSession();
  // Procedure 9: whether the server still knows the kept session.
  bool SessionKnown();
  const std::string& SessionId() const { return sessionId_; }
  void ForgetSession() { sessionId_.clear(); }

  // Procedures 11, 15, 16, 17 (name + NUL-terminated data): the boolean result.
  bool NameData(uint16_t opnum, const std::string& name, const std::string& data, std::string& error);
  // Procedure 12.
  bool RemoveServiceProvider(const std::string& name);
  // Procedure 24.
  bool SetStopFlag();

  // Buffer-reply procedures taking (first text, second text): 13, 14, 18, 21, 46, 47. For the
  // session procedures pass SessionId() as first text.
  BufferReply NameBuffer(uint16_t opnum, const std::string& first, const std::string& second);
  // Procedure 19 (session only).
  BufferReply SessionBuffer(uint16_t opnum);

  DceRpc::Binding& Binding() { return binding_; }

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

  DceRpc::Binding binding_;
  std::string sessionId_;
};

}  // namespace Korvane::Pictora::Tools
