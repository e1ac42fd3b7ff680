#include "servercore/ClusterWriter.h"

namespace Korvane::Pictora::ServerCore {
namespace {

using Kind = IClusterStore::Operation::Kind;
constexpr int kAttempts = 8;

}  // namespace

ClusterWriter::Result ClusterWriter::FromOutcome(IClusterStore::Outcome outcome) {
  switch (outcome) {
    case IClusterStore::Outcome::kDone: return Result::kDone;
    case IClusterStore::Outcome::kConflict: return Result::kContended;
    case IClusterStore::Outcome::kUnreachable: break;
  }
  return Result::kUnreachable;
}

ClusterWriter::Result ClusterWriter::ReadProvider(const std::string& name, std::optional<IClusterStore::Entry>& entry,
                                                  std::string& error) {
  if (!store_.Read(keys_.Provider(name), entry, error)) return Result::kUnreachable;
  return entry ? Result::kDone : Result::kMissing;
}

ClusterWriter::Result ClusterWriter::AddProvider(const ProviderEntry& entry, std::int64_t& revision,
                                                 std::string& error) {
  const std::string key = keys_.Provider(entry.name);
  const auto outcome = store_.Commit({{key, true, 0}}, {{Kind::kPut, key, EncodeProvider(entry), 0}}, revision, error);
  return outcome == IClusterStore::Outcome::kConflict ? Result::kExists : FromOutcome(outcome);
}

ClusterWriter::Result ClusterWriter::UpdateProvider(const std::string& name, const ProviderValues& values,
                                                    std::int64_t& revision, std::string& error) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::optional<IClusterStore::Entry> stored;
    if (const Result read = ReadProvider(name, stored, error); read != Result::kDone) return read;
    ProviderEntry entry;
    if (!DecodeProvider(stored->value, entry)) entry.name = name;
    entry.config.Merge(values.config);
    entry.dynamic.Merge(values.dynamic);
    const auto outcome = store_.Commit({{stored->key, false, stored->modRevision}},
                                       {{Kind::kPut, stored->key, EncodeProvider(entry), 0}}, revision, error);
    if (outcome != IClusterStore::Outcome::kConflict) return FromOutcome(outcome);
  }
  return Result::kContended;
}

ClusterWriter::Result ClusterWriter::RemoveProvider(const std::string& name,
                                                    const std::optional<IClusterStore::Condition>& fence,
                                                    std::int64_t& revision, std::string& error) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::optional<IClusterStore::Entry> stored;
    if (const Result read = ReadProvider(name, stored, error); read != Result::kDone) return read;
    std::vector<IClusterStore::Condition> conditions{{stored->key, true, stored->createRevision}};
    if (fence) conditions.push_back(*fence);
    const auto outcome = store_.Commit(
        conditions, {{Kind::kDeletePrefix, stored->key + "/", {}, 0}, {Kind::kDelete, stored->key, {}, 0}}, revision,
        error);
    // A failed fence is no reason to try again: the caller no longer has the right.
    if (outcome != IClusterStore::Outcome::kConflict || fence) return FromOutcome(outcome);
  }
  return Result::kContended;
}

ClusterWriter::Result ClusterWriter::ChangeServices(const std::string& provider, const std::vector<ServiceChange>& changes,
                                                    std::int64_t registration, std::int64_t& revision,
                                                    std::string& error) {
  std::vector<IClusterStore::Operation> operations;
  for (const ServiceChange& change : changes) {
    const std::string service = keys_.Service(provider, change.service);
    const std::string failure = keys_.Failure(provider, change.service);
    switch (change.kind) {
      case ServiceChange::Kind::kRegister: operations.push_back({Kind::kPut, service, change.markup, 0}); break;
      case ServiceChange::Kind::kFailure: operations.push_back({Kind::kPut, failure, change.markup, 0}); break;
      case ServiceChange::Kind::kRemove:
        operations.push_back({Kind::kDelete, service, {}, 0});
        operations.push_back({Kind::kDelete, failure, {}, 0});
        break;
    }
  }
  revision = 0;
  if (registration != 0) {
    // One round trip: a conflict can only mean that registration ended.
    if (operations.empty()) return Result::kDone;
    const auto outcome =
        store_.Commit({{keys_.Provider(provider), true, registration}}, operations, revision, error);
    return outcome == IClusterStore::Outcome::kConflict ? Result::kMissing : FromOutcome(outcome);
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::optional<IClusterStore::Entry> stored;
    if (const Result read = ReadProvider(provider, stored, error); read != Result::kDone) return read;
    if (operations.empty()) {
      revision = 0;
      return Result::kDone;
    }
    // Only while the registration read is the one that lasts: a provider that left and came
    // back in between starts without the services of its earlier life.
    const auto outcome = store_.Commit({{stored->key, true, stored->createRevision}}, operations, revision, error);
    if (outcome != IClusterStore::Outcome::kConflict) return FromOutcome(outcome);
  }
  return Result::kContended;
}

ClusterWriter::Result ClusterWriter::ReadCatalogue(std::string& text, std::int64_t& version, std::string& error) {
  std::optional<IClusterStore::Entry> stored;
  if (!store_.Read(keys_.Catalogue(), stored, error)) return Result::kUnreachable;
  text = stored ? stored->value : std::string();
  version = stored ? stored->modRevision : 0;
  return Result::kDone;
}

ClusterWriter::Result ClusterWriter::SaveCatalogue(const std::string& text, std::int64_t version,
                                                   std::int64_t& revision, std::string& error) {
  const std::string key = keys_.Catalogue();
  IClusterStore::Condition condition{key, version == 0, version};
  return FromOutcome(store_.Commit({condition}, {{Kind::kPut, key, text, 0}}, revision, error));
}

}  // namespace Korvane::Pictora::ServerCore
