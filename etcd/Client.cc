#include "etcd/Client.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "etcd/Base64.h"

namespace Korvane::Pictora::Etcd {
namespace {

using Json = nlohmann::json;

void InitialiseCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One handle per thread: its connections are reused from request to request.
CURL* ThreadHandle() {
  InitialiseCurl();
  thread_local std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  curl_easy_reset(handle.get());
  return handle.get();
}

std::size_t Append(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

std::int64_t Int64(const Json& object, const char* field) {
  auto found = object.find(field);
  if (found == object.end()) return 0;
  if (found->is_string()) return std::stoll(found->get<std::string>());
  return found->is_number() ? found->get<std::int64_t>() : 0;
}

std::string Bytes(const Json& object, const char* field) {
  auto found = object.find(field);
  if (found == object.end() || !found->is_string()) return {};
  return Base64Decode(found->get<std::string>()).value_or(std::string());
}

KeyValue ReadKeyValue(const Json& kv) {
  return KeyValue{Bytes(kv, "key"), Bytes(kv, "value"), Int64(kv, "create_revision"), Int64(kv, "mod_revision")};
}

// The store's own error in a reply, if any.
std::string ReplyError(const Json& reply) {
  auto found = reply.find("error");
  if (found != reply.end()) return found->is_string() ? found->get<std::string>() : found->dump();
  return {};
}

}  // namespace

std::string PrefixEnd(const std::string& prefix) {
  std::string end = prefix;
  while (!end.empty()) {
    if (static_cast<unsigned char>(end.back()) < 0xFF) {
      end.back() = static_cast<char>(static_cast<unsigned char>(end.back()) + 1);
      return end;
    }
    end.pop_back();
  }
  return std::string(1, '\0');  // every key
}

Client::Client(std::vector<std::string> endpoints, std::chrono::milliseconds requestTimeout)
    : endpoints_(std::move(endpoints)), requestTimeout_(requestTimeout) {}

bool Client::Post(const std::string& path, const std::string& body, std::string& reply, std::string& error) {
  if (endpoints_.empty()) {
    error = "no cluster store member is configured";
    return false;
  }
  const std::size_t first = preferred_.load();
  for (std::size_t i = 0; i < endpoints_.size(); ++i) {
    const std::size_t member = (first + i) % endpoints_.size();
    CURL* curl = ThreadHandle();
    const std::string url = endpoints_[member] + path;
    reply.clear();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(requestTimeout_.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(requestTimeout_.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OK && status == 200) {
      preferred_ = member;
      return true;
    }
    error = code != CURLE_OK ? std::string(curl_easy_strerror(code)) + " (" + endpoints_[member] + ")"
                             : "HTTP " + std::to_string(status) + " from " + endpoints_[member] + ": " + reply;
  }
  return false;
}

bool Client::Range(const std::string& prefix, std::vector<KeyValue>& kvs, std::int64_t& revision, std::string& error) {
  const Json body = {{"key", Base64Encode(prefix)}, {"range_end", Base64Encode(PrefixEnd(prefix))}};
  std::string text;
  if (!Post("/v3/kv/range", body.dump(), text, error)) return false;
  const Json reply = Json::parse(text, nullptr, false);
  if (reply.is_discarded() || !(error = ReplyError(reply)).empty()) return false;
  revision = Int64(reply.value("header", Json::object()), "revision");
  kvs.clear();
  for (const Json& kv : reply.value("kvs", Json::array())) kvs.push_back(ReadKeyValue(kv));
  return true;
}

bool Client::Get(const std::string& key, std::optional<KeyValue>& kv, std::int64_t& revision, std::string& error) {
  const Json body = {{"key", Base64Encode(key)}};
  std::string text;
  if (!Post("/v3/kv/range", body.dump(), text, error)) return false;
  const Json reply = Json::parse(text, nullptr, false);
  if (reply.is_discarded() || !(error = ReplyError(reply)).empty()) return false;
  revision = Int64(reply.value("header", Json::object()), "revision");
  const Json kvs = reply.value("kvs", Json::array());
  kv = kvs.empty() ? std::nullopt : std::optional<KeyValue>(ReadKeyValue(kvs.front()));
  return true;
}

namespace {

Json ConditionJson(const Condition& condition) {
  const bool create = condition.on == Condition::On::kCreateRevision;
  return {{"key", Base64Encode(condition.key)},
          {"target", create ? "CREATE" : "MOD"},
          {create ? "create_revision" : "mod_revision", std::to_string(condition.revision)},
          {"result", "EQUAL"}};
}

Json OperationJson(const Operation& operation) {
  switch (operation.kind) {
    case Operation::Kind::kPut: {
      Json put = {{"key", Base64Encode(operation.key)}, {"value", Base64Encode(operation.value)}};
      if (operation.lease != 0) put["lease"] = std::to_string(operation.lease);
      return {{"request_put", put}};
    }
    case Operation::Kind::kDelete:
      return {{"request_delete_range", {{"key", Base64Encode(operation.key)}}}};
    case Operation::Kind::kDeletePrefix:
      return {{"request_delete_range",
               {{"key", Base64Encode(operation.key)}, {"range_end", Base64Encode(PrefixEnd(operation.key))}}}};
  }
  return Json::object();
}

}  // namespace

TxnResult Client::Commit(const std::vector<Condition>& conditions, const std::vector<Operation>& operations,
                         std::int64_t& revision, std::string& error) {
  Json body = {{"compare", Json::array()}, {"success", Json::array()}};
  for (const Condition& condition : conditions) body["compare"].push_back(ConditionJson(condition));
  for (const Operation& operation : operations) body["success"].push_back(OperationJson(operation));
  std::string text;
  if (!Post("/v3/kv/txn", body.dump(), text, error)) return TxnResult::kFailed;
  const Json reply = Json::parse(text, nullptr, false);
  if (reply.is_discarded() || !(error = ReplyError(reply)).empty()) return TxnResult::kFailed;
  revision = Int64(reply.value("header", Json::object()), "revision");
  return reply.value("succeeded", false) ? TxnResult::kDone : TxnResult::kConflict;
}

bool Client::GrantLease(int ttlSeconds, std::int64_t& id, std::string& error) {
  std::string text;
  if (!Post("/v3/lease/grant", Json{{"TTL", ttlSeconds}}.dump(), text, error)) return false;
  const Json reply = Json::parse(text, nullptr, false);
  if (reply.is_discarded() || !(error = ReplyError(reply)).empty()) return false;
  id = Int64(reply, "ID");
  return id != 0;
}

bool Client::KeepAlive(std::int64_t id, std::string& error) {
  std::string text;
  if (!Post("/v3/lease/keepalive", Json{{"ID", std::to_string(id)}}.dump(), text, error)) return false;
  const Json reply = Json::parse(text, nullptr, false);
  if (reply.is_discarded() || !(error = ReplyError(reply)).empty()) return false;
  if (Int64(reply.value("result", Json::object()), "TTL") > 0) return true;
  error = "the lease has expired";
  return false;
}

namespace {

// The state of one watch stream while its lines arrive.
struct WatchStream {
  const std::function<void(const std::vector<Event>&, std::int64_t)>* onEvents;
  const std::function<bool()>* shouldStop;
  std::string pending;
  bool compacted = false;
  bool canceled = false;

  void Line(const std::string& line) {
    const Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded()) return;
    const Json result = object.value("result", Json::object());
    if (Int64(result, "compact_revision") != 0) compacted = true;
    if (result.value("canceled", false)) canceled = true;
    std::vector<Event> events;
    for (const Json& event : result.value("events", Json::array())) {
      events.push_back(Event{event.value("type", std::string("PUT")) == "DELETE", ReadKeyValue(event.value("kv", Json::object()))});
    }
    // The answer that creates the watch carries the store's revision before the changes it
    // has yet to send: no proof of progress. A batch proves its last change; an empty answer
    // after that (a progress notice) proves the store's revision.
    if (result.value("created", false)) return;
    const std::int64_t revision =
        events.empty() ? Int64(result.value("header", Json::object()), "revision") : events.back().kv.modRevision;
    if (!events.empty() || revision != 0) (*onEvents)(events, revision);
  }
};

std::size_t WatchData(char* data, std::size_t size, std::size_t count, void* target) {
  auto* stream = static_cast<WatchStream*>(target);
  // A line longer than any answer of ours could be (a value is at most a services file) ends
  // the stream rather than the memory.
  constexpr std::size_t kMaxLine = 64u << 20;
  if (stream->pending.size() + size * count > kMaxLine) return 0;
  stream->pending.append(data, size * count);
  for (std::size_t end = stream->pending.find('\n'); end != std::string::npos; end = stream->pending.find('\n')) {
    stream->Line(stream->pending.substr(0, end));
    stream->pending.erase(0, end + 1);
  }
  // A stream that ends as canceled or compacted is done.
  return stream->canceled ? 0 : size * count;
}

int WatchProgress(void* target, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return (*static_cast<WatchStream*>(target)->shouldStop)() ? 1 : 0;
}

}  // namespace

WatchEnd Client::Watch(const std::string& prefix, std::int64_t fromRevision,
                       const std::function<void(const std::vector<Event>&, std::int64_t)>& onEvents,
                       const std::function<bool()>& shouldStop, std::string& error) {
  const Json body = {{"create_request",
                      {{"key", Base64Encode(prefix)},
                       {"range_end", Base64Encode(PrefixEnd(prefix))},
                       {"start_revision", std::to_string(fromRevision)},
                       {"progress_notify", true}}}};
  const std::string text = body.dump();
  const std::size_t member = preferred_.load() % std::max<std::size_t>(endpoints_.size(), 1);
  if (endpoints_.empty()) return WatchEnd::kBroken;
  WatchStream stream{&onEvents, &shouldStop, {}, false, false};
  CURL* curl = ThreadHandle();
  const std::string url = endpoints_[member] + "/v3/watch";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, text.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(text.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WatchData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &stream);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &WatchProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stream);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(requestTimeout_.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  const CURLcode code = curl_easy_perform(curl);
  if (stream.compacted) return WatchEnd::kCompacted;
  if (code == CURLE_ABORTED_BY_CALLBACK && shouldStop()) return WatchEnd::kStopped;
  // Next time, another member.
  preferred_ = (member + 1) % endpoints_.size();
  error = code != CURLE_OK ? std::string(curl_easy_strerror(code)) + " (" + endpoints_[member] + ")"
                           : "the watch stream of " + endpoints_[member] + " ended";
  return WatchEnd::kBroken;
}

}  // namespace Korvane::Pictora::Etcd
