#include "rpc/StatusApi.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace Korvane::Pictora::Rpc {
namespace {

// A provider may register any name: the document stays valid JSON and keeps the name's text.
TEST(StatusApiTest, HostileNamesStayTextInValidJson) {
  ServerCore::RegistrySnapshot snapshot;
  snapshot.providers.push_back({"a\"b</script>\\\n", "e", "h", 0.5, {}, {"bad \xff utf-8"}});
  const auto document = nlohmann::json::parse(ProvidersJson(&snapshot));
  const auto& provider = document["providers"][0];
  EXPECT_EQ(provider["name"], "a\"b</script>\\\n");
  EXPECT_EQ(provider["services"][0], "bad \xef\xbf\xbd utf-8");  // replaced, not thrown
  EXPECT_TRUE(provider["last_ping"].is_null());
}

}  // namespace
}  // namespace Korvane::Pictora::Rpc
