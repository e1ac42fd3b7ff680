// A cluster server's registry changes: how the store's answers come back as refusals, and how
// changes read from the store become registry changes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "servercore/ClusterRegistryChanges.h"
#include "servercore/StatusCodes.h"

namespace Korvane::Pictora::ServerCore {
namespace {

// A store whose provider record is `stored`, whose every commit ends with `outcome` (a write
// moves its revision on), whose whole reads answer while `readable`, and whose stream is silent.
class ScriptedStore : public IClusterStore {
 public:
  std::optional<Entry> stored = Entry{"/p/providers/alpha", "", 1, 1};
  Outcome outcome = Outcome::kDone;
  int commits = 0;
  std::vector<Condition> conditions;  // of the last commit
  std::atomic<bool> readable = true;
  std::atomic<std::int64_t> revision = 3;
  bool ReadAll(const std::string&, std::vector<Entry>&, std::int64_t& read, std::string&) override {
    read = revision;
    return readable;
  }
  bool Read(const std::string&, std::optional<Entry>& entry, std::string&) override {
    entry = stored;
    return true;
  }
  Outcome Commit(const std::vector<Condition>& held, const std::vector<Operation>&, std::int64_t& written,
                 std::string& error) override {
    conditions = held;
    written = ++revision;
    error = "no quorum";
    ++commits;
    return outcome;
  }
  bool GrantLease(int, std::int64_t&, std::string&) override { return false; }
  bool KeepAlive(std::int64_t, std::string&) override { return false; }
  StreamEnd Watch(const std::string&, std::int64_t, const OnChanges&, const std::function<bool()>& shouldStop,
                  std::string&) override {
    while (!shouldStop()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return StreamEnd::kStopped;
  }
};

TEST(ClusterChangesTest, StoreAnswersBecomeRefusals) {
  ScriptedStore store;
  ClusterRegistryChanges changes(store, "/p/", "me", {[](auto&) {}, [](auto&) {}, [](auto&) {}});
  GeneralUtilityLib::Status status;
  RegistryChange update = RegistryChange::Provider(RegistryChange::Kind::kUpdateProvider, "Alpha");
  store.outcome = IClusterStore::Outcome::kConflict;
  EXPECT_EQ(changes.Land(update, status), ChangeOutcome::kRefused);
  EXPECT_EQ(store.commits, 8);
  EXPECT_EQ(status.GetItem(0).id, kStatusClusterContended);
  RegistryChange add = RegistryChange::Provider(RegistryChange::Kind::kAddProvider, "Alpha");
  EXPECT_EQ(changes.Land(add, status), ChangeOutcome::kExists);  // created meanwhile by another server
  // Once the store did not answer, the next change is refused before anything is decided.
  store.outcome = IClusterStore::Outcome::kUnreachable;
  EXPECT_EQ(changes.Land(update, status), ChangeOutcome::kRefused);
  GeneralUtilityLib::Status next;
  EXPECT_FALSE(changes.Accepting(next));
  EXPECT_EQ(next.GetItem(0).id, kStatusClusterUnreachable);
}

// The stream brings nothing: a change this server stored is read back whole before the caller
// hears of a success, and when that fails too the caller is refused.
TEST(ClusterChangesTest, AcknowledgedOnlyOnceReadBackHere) {
  ScriptedStore store;
  ClusterRegistryChanges changes(store, "/p/", "me", {[](auto&) {}, [](auto&) {}, [](auto&) {}},
                                 {3, std::chrono::seconds(60), std::chrono::milliseconds(10),
                                  std::chrono::milliseconds(20), std::chrono::milliseconds(300)});
  std::vector<IClusterStore::Entry> entries;
  std::string error;
  ASSERT_TRUE(changes.Replica().ReadInitial(entries, error));
  changes.Replica().Start();
  RegistryChange remove = RegistryChange::Provider(RegistryChange::Kind::kRemoveProvider, "Alpha");
  GeneralUtilityLib::Status status;
  EXPECT_EQ(changes.Land(remove, status), ChangeOutcome::kDone);  // the stream is silent: read whole
  store.readable = false;
  EXPECT_EQ(changes.Land(remove, status), ChangeOutcome::kRefused);
  EXPECT_EQ(status.GetItem(0).id, kStatusClusterUnreachable);
}

// A services change holds to the registration this server had applied when it was decided, in
// one commit: once that registration ended, the provider is missing (even when it came back).
TEST(ClusterChangesTest, ServicesChangeHoldsToTheRegistrationItWasDecidedOn) {
  ScriptedStore store;
  ClusterRegistryChanges changes(store, "/p/", "me", {[](auto&) {}, [](auto&) {}, [](auto&) {}});
  Registry registry;
  const std::string key = changes.Keys().Provider("alpha");
  changes.FromStore({false, {key, EncodeProvider({"Alpha", "s", {}, {}}), 7, 7}}, registry);
  RegistryChange services = RegistryChange::Provider(RegistryChange::Kind::kServices, "ALPHA");
  services.Add(ServiceStep::Kind::kRemove, ServiceElement{{}, "images/thumbs", {}, {}});
  GeneralUtilityLib::Status status;
  changes.Take(services, status);
  store.stored = IClusterStore::Entry{key, "", 9, 9};  // its next life, which a read would find
  store.outcome = IClusterStore::Outcome::kConflict;
  EXPECT_EQ(changes.Land(services, status), ChangeOutcome::kMissing);
  EXPECT_EQ(store.commits, 1);
  ASSERT_EQ(store.conditions.size(), 1u);
  EXPECT_EQ(store.conditions[0].revision, 7);
}

TEST(ClusterChangesTest, StoreChangesNameProvidersAsTheyRegistered) {
  ScriptedStore store;
  ClusterRegistryChanges changes(store, "/p/", "me", {[](auto&) {}, [](auto&) {}, [](auto&) {}});
  Registry registry;
  registry.ReplaceDefinitions({ServiceDefinition{"Images/Thumbs", "s", "On", "", "", {}}});
  registry.AddProvider("Alpha", "session", {});
  const ClusterKeys& keys = changes.Keys();
  const RegistryChange service = changes.FromStore(
      {false, {keys.Service("alpha", "images/thumbs"), "<Service><Name>Images\\Thumbs</Name></Service>"}}, registry);
  ASSERT_EQ(service.kind, RegistryChange::Kind::kServices);
  EXPECT_EQ(service.provider, "Alpha");
  ASSERT_EQ(service.steps.size(), 1u);
  EXPECT_EQ(service.steps[0].element.name, "Images/Thumbs");
  EXPECT_EQ(changes.FromStore({true, {keys.Provider("ALPHA"), ""}}, registry).provider, "Alpha");
  // A service the catalogue does not define, and a provider not registered here, change nothing.
  EXPECT_EQ(
      changes.FromStore({false, {keys.Service("alpha", "maps"), "<Service><Name>Maps</Name></Service>"}}, registry)
          .kind,
      RegistryChange::Kind::kNone);
  EXPECT_EQ(changes.FromStore({true, {keys.Service("beta", "images/thumbs"), ""}}, registry).kind,
            RegistryChange::Kind::kNone);
}

}  // namespace
}  // namespace Korvane::Pictora::ServerCore
