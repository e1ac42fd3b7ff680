#include "etcd/Client.h"

#include <curl/curl.h>

#include <charconv>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

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
  if (found->is_number_integer()) return found->get<std::int64_t>();
  if (!found->is_string()) return 0;
  const std::string& text = found->get_ref<const std::string&>();
  std::int64_t value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  return failure == std::errc() && end == text.data() + text.size() ? value : 0;
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

// A member without a leader refuses at once (and ends a watch it holds) rather than waiting for
// one: its reads would be stale and its writes would time out.
std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> LeaderRequired(bool required) {
  return {required ? curl_slist_append(nullptr, "Grpc-Metadata-hasleader: true") : nullptr, &curl_slist_free_all};
}

// While every member refuses at once (an election, after a member rejoined), how long to wait
// before asking them again.
constexpr std::chrono::milliseconds kElectionPause{100};

// How much of a member's refusal goes into an error line.
constexpr std::size_t kMaxQuotedReply = 512;

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

bool Client::PostTo(std::size_t member, const std::string& path, const std::string& body, std::string& reply,
                    std::string& error, bool leaderRequired) {
  CURL* curl = ThreadHandle();
  const std::string url = endpoints_[member] + path;
  reply.clear();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  const auto headers = LeaderRequired(leaderRequired);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(requestTimeout_.count()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(requestTimeout_.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  const CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (code == CURLE_OK && status == 200) return true;
  error = code != CURLE_OK ? std::string(curl_easy_strerror(code)) + " (" + endpoints_[member] + ")"
                           : "HTTP " + std::to_string(status) + " from " + endpoints_[member] + ": " +
                                 reply.substr(0, kMaxQuotedReply);
  return false;
}

bool Client::Post(const std::string& path, const std::string& body, std::string& reply, std::string& error) {
  if (endpoints_.empty()) {
    error = "no cluster store member is configured";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + requestTimeout_;
  for (;;) {
    const std::size_t first = preferred_.load();
    for (std::size_t i = 0; i < endpoints_.size(); ++i) {
      const std::size_t member = (first + i) % endpoints_.size();
      if (PostTo(member, path, body, reply, error, true)) {
        preferred_ = member;
        return true;
      }
    }
    if (std::chrono::steady_clock::now() + kElectionPause >= deadline) return false;
    std::this_thread::sleep_for(kElectionPause);
  }
}

bool Client::Revision(std::optional<std::size_t> member, std::int64_t& revision, std::string& error) {
  // Counting the keys of an empty range: nothing read but the revision.
  Json body = {{"key", Base64Encode(std::string(1, '\0'))}, {"count_only", true}};
  if (member) body["serializable"] = true;
  std::string text;
  // A member's own revision, leader or not: one without a leader falls behind by that measure.
  if (!(member ? PostTo(*member, "/v3/kv/range", body.dump(), text, error, false)
               : Post("/v3/kv/range", body.dump(), text, error))) {
    return false;
  }
  const Json reply = Json::parse(text, nullptr, false);
  if (reply.is_discarded() || !(error = ReplyError(reply)).empty()) return false;
  revision = Int64(reply.value("header", Json::object()), "revision");
  return revision != 0;
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
  const std::atomic<bool>* behind;
  std::string pending;
  bool compacted = false;
  bool canceled = false;
  std::string refusal;  // the member's own error, when it ended the stream with one

  void Line(const std::string& line) {
    const Json object = Json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return;
    if (object.contains("error")) {
      refusal = object["error"].dump().substr(0, kMaxQuotedReply);
      return;
    }
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
  auto* stream = static_cast<WatchStream*>(target);
  return stream->behind->load() || (*stream->shouldStop)() ? 1 : 0;
}

}  // namespace

void Client::CheckLag(std::size_t member, const std::atomic<bool>& done, std::atomic<bool>& behind,
                      std::string& why) {
  // The member has to reach, within a period, the revision the majority had at its start; one
  // that cannot say where it is counts as behind.
  std::int64_t majorityBefore = 0;
  for (auto next = std::chrono::steady_clock::now() + kLagPeriod; !done.load();
       std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
    if (std::chrono::steady_clock::now() < next) continue;
    next = std::chrono::steady_clock::now() + kLagPeriod;
    std::int64_t majority = 0;
    std::int64_t own = 0;
    std::string error;
    if (!Revision(std::nullopt, majority, error)) {
      // No majority to compare with. A member that still answers is in an election; one that
      // does not is cut off from us, and so is its stream: a cut connection stays silent after
      // the cut heals until the member's retransmissions, backed off for as long as it lasted,
      // get through again.
      if (Revision(member, own, error)) continue;
      why = endpoints_[member] + " does not answer beside its watch, nor does a majority: " + error;
    } else if (majorityBefore != 0 && !Revision(member, own, error)) {
      why = endpoints_[member] + " does not answer beside its watch: " + error;
    } else if (own < majorityBefore) {
      why = endpoints_[member] + " is behind the majority (revision " + std::to_string(own) + " of " +
            std::to_string(majorityBefore) + ")";
    } else {
      majorityBefore = majority;
      continue;
    }
    behind = true;
    return;
  }
}

WatchEnd Client::Watch(const std::string& prefix, std::int64_t fromRevision,
                       const std::function<void(const std::vector<Event>&, std::int64_t)>& onEvents,
                       const std::function<bool()>& shouldStop, std::string& error) {
  const Json body = {{"create_request",
                      {{"key", Base64Encode(prefix)},
                       {"range_end", Base64Encode(PrefixEnd(prefix))},
                       {"start_revision", std::to_string(fromRevision)},
                       {"progress_notify", true}}}};
  const std::string text = body.dump();
  if (endpoints_.empty()) return WatchEnd::kBroken;
  const std::size_t member = preferred_.load() % endpoints_.size();
  std::atomic<bool> done{false};
  std::atomic<bool> behind{false};
  std::string lag;
  std::thread checker;
  if (endpoints_.size() > 1) checker = std::thread([&] { CheckLag(member, done, behind, lag); });
  WatchStream stream{&onEvents, &shouldStop, &behind, {}, false, false, {}};
  CURL* curl = ThreadHandle();
  const std::string url = endpoints_[member] + "/v3/watch";
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, text.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(text.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WatchData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &stream);
  const auto headers = LeaderRequired(true);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &WatchProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stream);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(requestTimeout_.count()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  const CURLcode code = curl_easy_perform(curl);
  if (!stream.pending.empty()) stream.Line(stream.pending);  // a last line without its end
  done = true;
  if (checker.joinable()) checker.join();
  if (stream.compacted) return WatchEnd::kCompacted;
  if (code == CURLE_ABORTED_BY_CALLBACK && !behind && shouldStop()) return WatchEnd::kStopped;
  // Next time, another member (unless a request meanwhile found one that answers).
  std::size_t watched = member;
  preferred_.compare_exchange_strong(watched, (member + 1) % endpoints_.size());
  error = behind                  ? lag
          : !stream.refusal.empty() ? endpoints_[member] + " ended the watch: " + stream.refusal
          : code != CURLE_OK      ? std::string(curl_easy_strerror(code)) + " (" + endpoints_[member] + ")"
                                  : "the watch stream of " + endpoints_[member] + " ended";
  return WatchEnd::kBroken;
}

}  // namespace Korvane::Pictora::Etcd
