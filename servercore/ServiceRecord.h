// The registry's record of one service: what the services file says about it and where it
// runs. Plain value.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "global/NameValueMap.h"
#include "servercore/RegistryKeyLess.h"
#include "util/ElementList.h"

namespace Korvane::Pictora::ServerCore {

struct ServiceRecord {
  std::string name;  // normal form
  std::string source;
  std::string state;  // "On"/"Off", read with ParseBool
  std::string registrationXml;  // the last <Service> element a provider sent
  std::string application;      // Properties/Application of the services file
  Global::NameValueMap failedOn;  // provider name -> <Status> markup it sent
  std::vector<std::string> runningOn;
  std::vector<std::string> allocatedOn;
  std::string serviceProvidersText;  // the file's ServiceProviders value, trimmed
  GeneralUtilityLib::ElementList properties;

  // The record as the server-manager report shows it: Name, Source, State, Properties,
  // the provider lists and counts and the status of the providers it failed on. With an
  // empty elementName no enclosing element is written.
  std::string ToXml(const std::string& elementName) const;

  // The copy a provider's record keeps: the description without the runtime lists, which
  // only the registry's own record maintains.
  ServiceRecord DescriptionCopy() const;
};

using ServiceMap = std::map<std::string, ServiceRecord, RegistryKeyLess>;

}  // namespace Korvane::Pictora::ServerCore
