#include "host/Uninstaller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"

namespace Korvane::Pictora::Host {
namespace {

// A manager whose units are a table; a unit never stops or cannot be loaded as its row says.
// (A unit that refuses to stop is the stand-in systemd's, in the end-to-end test.)
class FakeUnits : public IUnitManager {
 public:
  struct Unit {
    std::string description;
    std::string file;
    bool neverStops = false;
    bool unloadable = false;
    std::string state = "active";
  };

  std::map<std::string, Unit> units;
  std::vector<std::string> disabled;
  int reloads = 0;
  bool listFails = false;

  std::vector<std::string> UnitNames() override {
    if (listFails) throw UnitManagerError("Access denied");
    std::vector<std::string> names;
    for (const auto& [name, unit] : units) names.push_back(name);
    return names;
  }
  std::string Description(const std::string& name) override {
    if (Get(name).unloadable) throw UnitManagerError("Unit has a bad setting");
    return Get(name).description;
  }
  std::string FragmentPath(const std::string& name) override { return Get(name).file; }
  std::string ActiveState(const std::string& name) override { return Get(name).state; }
  void Stop(const std::string& name) override {
    Unit& unit = Get(name);
    unit.state = unit.neverStops ? "deactivating" : "inactive";
  }
  void Disable(const std::string& name) override { disabled.push_back(name); }
  void Reload() override { ++reloads; }

 private:
  Unit& Get(const std::string& name) { return units.at(name); }
};

TEST(UninstallerTest, RemovesTheProductsUnitsAndLeavesThoseThatDoNotStop) {
  TestSupport::TempFolder folder;
  FakeUnits fake;
  auto file = [&](const std::string& name) { return folder.Write(name, "[Unit]\n"); };
  fake.units = {
      {"a-server.service", {"Korvane Pictora Server", file("a-server.service")}},
      {"b-helper.service", {"KORVANE PICTORA helper", ""}},  // no unit file (transient)
      {"c-other.service", {"Korvane Pixel server", file("c-other.service")}},
      {"d-short.service", {"Korvane Pict", file("d-short.service")}},
      {"f-hangs.service", {"Korvane Pictora slow", file("f-hangs.service"), true}},
      {"g-broken.service", {"", file("g-broken.service"), false, true}},
  };
  const UninstallResult result = Uninstaller(fake, StopWait{std::chrono::milliseconds(30), std::chrono::milliseconds(5)}).Run();

  EXPECT_EQ(result.Message(), "f-hangs.service: still deactivating after 30 ms");
  EXPECT_EQ(fake.disabled, (std::vector<std::string>{"a-server.service", "b-helper.service"}));
  EXPECT_EQ(fake.reloads, 1);
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"c-other.service", "d-short.service", "f-hangs.service",
                                         "g-broken.service"}));
}

TEST(UninstallerTest, NothingToDoIsNoMessageAndNoListIsTheManagersReason) {
  FakeUnits none;
  none.units = {{"c-other.service", {"Other", ""}}};
  const UninstallResult empty = Uninstaller(none).Run();
  EXPECT_EQ(empty.Message(), "");
  EXPECT_EQ(none.reloads, 0);

  FakeUnits denied;
  denied.listFails = true;
  const UninstallResult failed = Uninstaller(denied).Run();
  EXPECT_EQ(failed.Message(), "cannot list the units: Access denied");
}

}  // namespace
}  // namespace Korvane::Pictora::Host
