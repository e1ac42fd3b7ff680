// The services file ("Pictora.Services" in the Server folder) as the core reads it: created
// without services when missing, read again only when it changed (one stat tells), and the
// services meant for one provider. A service whose entry names no provider is meant for every
// configured provider, so the names of the provider configuration files are kept here too.
//
// Not thread-safe (but ServicesFor): the core uses it under its registry lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "servercore/ConfiguredProviders.h"
#include "servercore/FileStamp.h"
#include "servercore/Registry.h"

namespace Korvane::Pictora::ServerCore {

class ServicesFile {
 public:
  // serverFolder ends in "/"; empty when there is no Server folder, and then so is Path().
  // Writes the file without services when it is missing.
  void Open(const std::string& serverFolder);
  const std::string& Path() const { return path_; }

  // Brings the registry's services in step with the file: reads it when it changed and gives
  // the services that name no provider every configured one when that list changed. False when
  // the file cannot be read; the registry then keeps what it had.
  bool Refresh(Registry& registry);
  // The base names of the "*.PTPConfig" files, in name order.
  const std::vector<std::string>& ConfiguredProviders();

  // "<Pictora><Services>" + each Service entry of the file at path that is on and meant for
  // the provider + "</Services></Pictora>"; empty text when the file cannot be read. Reads the
  // file afresh into a document of its own: safe from any thread.
  static std::string ServicesFor(const std::string& path, const std::string& providerName);

 private:
  bool Read(std::vector<ServiceDefinition>& definitions) const;

  std::string serverFolder_;
  std::string path_;
  FileStamp stamp_;
  ServerCore::ConfiguredProviders configured_;
  std::uint64_t allocatedGeneration_ = 0;
};

}  // namespace Korvane::Pictora::ServerCore
