// Reading the texts a provider sends: its registration (Config and Dynamic values) and its
// lists of services (an ImageServices element with one Service element per service). Each text
// is parsed into a document of its own, so concurrent calls share nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "servercore/Registry.h"
#include "util/Status.h"

namespace Korvane::Pictora::ServerCore {

// False, with the XML layer's status entries added to `status`, when the text does not load.
bool ReadProviderValues(std::string_view xml, ProviderValues& values, GeneralUtilityLib::Status& status);

// The Service elements of the first ImageServices element, in document order.
bool ReadServiceElements(std::string_view xml, std::vector<ServiceElement>& elements,
                         GeneralUtilityLib::Status& status);

// The Name values of those Service elements (empty text where one has none).
bool ReadServiceNames(std::string_view xml, std::vector<std::string>& names, GeneralUtilityLib::Status& status);

}  // namespace Korvane::Pictora::ServerCore
