// The provider configuration files: one "<name>.PTPConfig" per configured provider in the
// Server folder, holding Pictora/ServiceProvider/Config with one child per setting. Readers
// accept the three spellings the writers produce; these helpers write the state rewrite's.
#pragma once

#include <string>
#include <vector>

#include "global/NameValueMap.h"

namespace Korvane::Pictora::ServerCore {

// "<?xml ...?>\n<Pictora><ServiceProvider>\n<Config>...</Config></ServiceProvider></Pictora>".
std::string StateRewriteText(const Global::NameValueMap& config);

// Writes the state rewrite of config over path, whole; false when the text does not load or the
// file cannot be written.
bool RewriteProviderFile(const std::string& path, const Global::NameValueMap& config);

// The base names of folder's "*.PTPConfig" files in name order; false with error when the folder
// cannot be listed.
bool ListProviderNames(const std::string& folder, std::vector<std::string>& names, std::string& error);

}  // namespace Korvane::Pictora::ServerCore
