// The server configuration file ("Pictora.PTSConfig" in the Server folder): written from the
// default template when missing, its endpoint replaced from the command line, and read into the
// configuration values the core keeps (every child of Pictora/Server/Config, then Version,
// ServerType, Protocol and Endpoint as authentication decides).
//
// Not thread-safe: used by the core's start-up and Synchronize, each under its own lock.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "util/ElementList.h"
#include "util/Status.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {

// The file's text: the declaration's markup, the definitions' (X_DEF) markup, and the Config values
// written as texts, with the allow lists as the LicenseManager element in its place (at the end
// when config has none).
std::string ConfigurationText(const std::string& declaration, const std::string& definitions,
                              const GeneralUtilityLib::ElementList& config,
                              const GeneralUtilityLib::ElementList& allowLists);

class ConfigurationFile {
 public:
  // serverFolder ends in "/"; empty when there is no Server folder, and then so is Path().
  // Writes the default file when it is missing; a file that cannot be written leaves Path()
  // empty and saveError saying why. The file is then kept open for reading until Close.
  void Open(const std::string& serverFolder, std::string& saveError);
  void Close() { handle_.reset(); }
  const std::string& Path() const { return path_; }

  // Rewrites the file's Endpoint, keeping the other values and the allow lists. Does nothing
  // when the file does not load; saveError says why a save failed.
  void ApplyEndpoint(const std::string& endpoint, std::string& saveError);

  // False, with 15616 "Failed to read configuration xml" in front of the XML layer's entries in
  // `status`, when the file does not load.
  bool Read(GeneralUtilityLib::ElementList& values, GeneralUtilityLib::Status& status) const;
  // The LogsFolder value of the file as it is now; false (with status) when it does not load.
  bool ReadLogsFolder(std::string& folder, GeneralUtilityLib::Status& status) const;

 private:
  bool Load(GeneralUtilityLib::XmlDocument& document, GeneralUtilityLib::Status& status) const;

  struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  std::string path_;
  std::unique_ptr<std::FILE, CloseFile> handle_;
};

}  // namespace Korvane::Pictora::ServerCore
