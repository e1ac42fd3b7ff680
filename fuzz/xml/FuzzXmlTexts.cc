// Feeds arbitrary text to every place that parses an XML text a peer sends: the session
// information, a provider's registration and updates, its lists of services to add and remove,
// a management session's information, status records from providers, and the XML layer itself
// with the lists built from it and the configuration check the client tool runs on a document
// before sending it. The first byte picks the place (and the document's kind), the rest is the
// text. The registry is a real core's (listener and provider calls stubbed), started afresh now
// and then so that its growth stays bounded. Operations that save files are left out: they parse
// their text through the same XML layer before anything is written, and file writes would make
// each run slow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "admin/ServerManagerProxy.h"
#include "global/ConfigurationCheck.h"
#include "global/NameValueMap.h"
#include "servercore/ServerImpl.h"
#include "tests/support/ServerStubs.h"
#include "tests/support/TempFolder.h"
#include "util/XmlDocument.h"

namespace {

using namespace Korvane::Pictora;
namespace GU = GeneralUtilityLib;

constexpr unsigned kCallsPerCore = 8192;

class Harness {
 public:
  Harness() {
    if (root_.Path().empty()) ::abort();
    Restart();
  }

  void Run(const uint8_t* data, size_t size) {
    if (size == 0) return;
    if (++calls_ % kCallsPerCore == 0) Restart();
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string out, id;
    switch (data[0] % 9) {
      case 0: core_->OpenSession(text, id, out); break;
      case 1: core_->AddServiceProvider("P" + std::to_string(calls_), "s", text, out); break;
      case 2: core_->UpdateServiceProviderInfo("Fuzz", text, out); break;
      case 3: core_->AddServices("Fuzz", text, out); break;
      case 4: core_->RemoveServices("Fuzz", text, out); break;
      case 5: facade_->OpenSession(text, id, out); break;
      case 6: {
        GU::Status status;
        status.AddXml(text);
        break;
      }
      case 7: {
        Global::NameValueMap map;
        map.LoadXml(text, "//Service");
        break;
      }
      default: {
        GU::XmlDocument document;
        if (document.LoadXml(text)) GU::NodesToList(document, "//*");
        Global::CheckDocument(static_cast<Global::DocumentKind>(data[0] / 9 % 4), text, "fuzz");
      }
    }
  }

 private:
  void Restart() {
    facade_.reset();
    core_.reset();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(root_.Path(), ignored))
      std::filesystem::remove_all(entry.path(), ignored);
    core_ = std::make_unique<ServerCore::ServerImpl>([&] { ServerCore::ServerImpl::Seams s; s.listener = &listener_; s.providerCalls = &providers_; return s; }());
    if (core_->Init("") != 0) ::abort();
    std::string out;
    if (!core_->AddServiceProvider("Fuzz", "s", "<P><Config><Endpoint>1</Endpoint></Config></P>", out)) ::abort();
    facade_ = std::make_unique<ServerCore::ServerManagerProxy>(&providers_);
    facade_->Init(core_.get(), "");
  }

  TestSupport::TempFolder root_;
  TestSupport::ScopedEnv appData_{"PICTORA_COMMON_APPDATA", root_.Path()};
  TestSupport::ScopedEnv registry_{"PICTORA_REGISTRY_FILE", root_ / "pictora.conf"};
  TestSupport::QuietListener listener_;
  TestSupport::AnsweringProviderCalls providers_;
  std::unique_ptr<ServerCore::ServerImpl> core_;
  std::unique_ptr<ServerCore::ServerManagerProxy> facade_;
  unsigned calls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness harness;
  harness.Run(data, size);
  return 0;
}
