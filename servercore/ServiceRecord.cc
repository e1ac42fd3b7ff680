#include "servercore/ServiceRecord.h"

#include <algorithm>
#include <sstream>

#include "util/Status.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr std::uint32_t kServiceLoadFailed = 15620;

std::vector<std::string> FailedProviders(const ServiceRecord& record) {
  std::vector<std::string> failed;
  if (!GU::ParseBool(record.state, false)) return failed;
  for (const std::string& provider : record.allocatedOn) {
    if (std::find(record.runningOn.begin(), record.runningOn.end(), provider) ==
        record.runningOn.end()) {
      failed.push_back(provider);
    }
  }
  return failed;
}

std::string FailureStatusXml(const ServiceRecord& record, const std::vector<std::string>& failed) {
  GU::Status status;
  for (const std::string& provider : failed) {
    const std::string statusXml = record.failedOn.Get(provider);
    if (!statusXml.empty()) {
      status.AddXml(statusXml);
    } else {
      status.Add(kServiceLoadFailed,
                 GU::Format("Failed to load service '%s' on serviceprovider: %s; The "
                            "serviceprovider is not running or does not exist.",
                            record.name.c_str(), provider.c_str()));
    }
  }
  const std::string details = status.ToString();
  status.AddFront(kServiceLoadFailed,
                  GU::Format("Failed to load service '%s' on serviceproviders: %s;\n%s",
                             record.name.c_str(), GU::Join(failed, ";").c_str(),
                             details.c_str()));
  return status.ToXml();
}

}  // namespace

std::string ServiceRecord::ToXml(const std::string& elementName) const {
  const std::vector<std::string> failed = FailedProviders(*this);
  std::ostringstream out;
  if (!elementName.empty()) out << "<" << elementName << ">";
  out << "\n<Name>" << name << "</Name>"
      << "\n<Source>" << source << "</Source>"
      << "\n<State>" << state << "</State>"
      << "\n<Properties><Application>" << application << "</Application></Properties>"
      << "\n<ServiceProviders>" << GU::Join(allocatedOn, ";") << "</ServiceProviders>"
      << "\n<RunningOnServiceProviders>" << GU::Join(runningOn, ";")
      << "</RunningOnServiceProviders>"
      << "\n<FailedOnServiceProviders>" << GU::Join(failed, ";") << "</FailedOnServiceProviders>"
      << "\n<AllocatedOnCount>" << allocatedOn.size() << "</AllocatedOnCount>"
      << "\n<RunningOnCount>" << runningOn.size() << "</RunningOnCount>"
      // Written twice: readers of the report know the element in both places.
      << "\n<AllocatedOnCount>" << allocatedOn.size() << "</AllocatedOnCount>";
  if (failed.empty()) {
    out << "<Status></Status>";
  } else {
    out << FailureStatusXml(*this, failed);
  }
  if (!elementName.empty()) out << "</" << elementName << ">";
  return out.str();
}

ServiceRecord ServiceRecord::DescriptionCopy() const {
  ServiceRecord copy;
  copy.name = name;
  copy.source = source;
  copy.state = state;
  copy.registrationXml = registrationXml;
  copy.application = application;
  copy.serviceProvidersText = serviceProvidersText;
  copy.properties = properties;
  return copy;
}

}  // namespace Korvane::Pictora::ServerCore
