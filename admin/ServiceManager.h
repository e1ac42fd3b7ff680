// The service store: the services file and the administration of services. Every operation
// reads the file afresh, changes its own copy of the service records, writes the file back whole
// (to a temporary file renamed over it) and only then tells the providers concerned, so a
// failing provider never keeps a change out of the file. The calls to providers are queued, not
// made: the facade makes them once it has released its lock (TakeProviderCalls).
//
// A record holds Name (normal form), Source, State ("On"/"Off"), Properties (markup) and
// ServiceProviders (names followed by ";"; empty: every configured provider).
//
// With several servers sharing one catalogue (cluster mode) the records are read from it and
// saved over the version read: when another server saved first, the operation starts again from
// a fresh read (a few times) rather than undo that change.
//
// Every operation starts a status record of its own and writes it as status XML into its status
// argument when it fails. Not thread-safe: the management facade serialises it (with a lock of
// its own, so that a slow cluster store holds only the service operations).
#pragma once

#include <string>
#include <vector>

#include "admin/ProviderServiceCalls.h"
#include "global/NameValueMap.h"
#include "global/Object.h"
#include "servercore/IServer.h"
#include "servercore/ServicesDocument.h"
#include "util/Status.h"

namespace Korvane::Pictora::ServerCore {

class ServiceManager : public Global::Object {
 public:
  // providersFolder: where the provider configuration files are, for the services meant for
  // every configured provider. catalogue: the cluster's shared one, or null for the file.
  // maxDocumentBytes: the longest services text a change may save (0: no limit).
  bool Init(const std::string& servicesFile, const std::string& providersFolder, IServicesCatalogue* catalogue,
            IServer* server, IProviderCalls* calls, std::size_t maxDocumentBytes = 0);

  // "<?xml ...?>" and the file's Pictora element; empty text (and status) when it cannot be read.
  std::string GetServicesXml(std::string& status);
  // Replaces the whole file; no provider is told.
  bool UpdateServicesXml(const std::string& servicesXml, std::string& status);
  bool AddService(const std::string& source, const std::string& name, const std::string& properties,
                  const std::string& providers, std::string& status);
  // Takes the service off the providers named (empty: every configured one); a record left
  // without provider is deleted.
  bool RemoveService(const std::string& name, const std::string& providers, std::string& status);
  bool StartService(const std::string& name, std::string& status);
  bool StopService(const std::string& name, std::string& status);
  bool RefreshService(const std::string& name, std::string& status);
  bool RefreshAllServices(std::string& status);

  // The provider calls the operations decided on since the last take, to be made by the caller
  // (after the facade has released its lock); none are left queued.
  DeferredCalls TakeProviderCalls() { return calls_.Take(); }

 private:
  // Runs one attempt of a change, again while the cluster store says another server saved first;
  // statusXml is as the caller gave it at each attempt.
  template <typename Attempt>
  bool Repeated(std::string& statusXml, Attempt attempt);
  // The text of the file, or of the shared catalogue (whose version is kept for the save).
  bool ReadText(std::string& text, GeneralUtilityLib::Status& status);
  bool ReadEntries(ServiceEntries& entries, GeneralUtilityLib::Status& status);
  bool SaveEntries(const ServiceEntries& entries, std::uint32_t failureCode, const char* failureMessage,
                   GeneralUtilityLib::Status& status);
  // A whole text from a manager: checked to be a document, saved in the document layer's form.
  bool SaveServicesXml(const std::string& text, GeneralUtilityLib::Status& status);
  // False, with why in status, for a text longer than maxDocumentBytes.
  bool WithinLimit(const std::string& text, GeneralUtilityLib::Status& status) const;
  // Writes a whole services text over the file or the catalogue; none longer than maxDocumentBytes.
  bool SaveText(const std::string& text, GeneralUtilityLib::Status& status);
  bool SaveToCatalogue(const std::string& text, GeneralUtilityLib::Status& status);
  // The names of a provider list; every configured provider for an empty one.
  std::vector<std::string> Expand(const std::string& providers) const;
  // Starts or stops a service on the providers its new record adds or drops.
  void Update(const Global::NameValueMap& from, const Global::NameValueMap& to);
  bool SetState(const std::string& name, bool on, std::string& statusXml);
  // One attempt of each change.
  bool AddServiceOnce(const std::string& source, const std::string& name, const std::string& properties,
                      const std::string& providers, std::string& statusXml);
  bool RemoveServiceOnce(const std::string& name, const std::string& providers, std::string& statusXml);
  bool SetStateOnce(const std::string& name, bool on, std::string& statusXml);

  std::string servicesFile_;
  std::string providersFolder_;
  IServicesCatalogue* catalogue_ = nullptr;  // cluster mode only
  std::int64_t catalogueVersion_ = 0;        // of the last read
  bool overtaken_ = false;                   // the last save lost to another server's
  std::size_t maxDocumentBytes_ = 0;
  IServer* server_ = nullptr;
  ProviderServiceCalls calls_{nullptr, nullptr};
};

}  // namespace Korvane::Pictora::ServerCore
