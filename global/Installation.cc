#include "global/Installation.h"

#include <cstdlib>

#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::Global {

namespace GU = GeneralUtilityLib;

namespace {

constexpr const char* kDefaultRegistryFile = "/etc/korvane/pictora.conf";

}  // namespace

std::string InstallationKeyPath() {
  const char* path = std::getenv("PICTORA_REGISTRY_FILE");
  return path != nullptr && *path != '\0' ? path : kDefaultRegistryFile;
}

namespace {

// "\" turned into "/" and a trailing "/" ensured; empty text stays empty.
std::string NormalizeFolder(std::string_view folder) {
  std::string normalized(folder);
  if (normalized.empty()) return normalized;
  GU::Replace(normalized, "\\", "/");
  if (normalized.back() != '/') normalized += '/';
  return normalized;
}

std::string SubFolder(std::string_view base, std::string_view name) {
  return GU::Format("%s%s%s", std::string(base).c_str(), std::string(name).c_str(), "/");
}

std::string HomeFolder() { return NormalizeFolder(ReadInstallationValue("Home")); }

std::string HomeAsWritten() {
  std::string home = ReadInstallationValue("Home");
  if (home.empty()) return HomeFolder();
  if (home.back() != '/') home += '/';
  return home;
}

std::string KorvaneDataFolder() {
  return SubFolder(
      NormalizeFolder(GU::GetSpecialFolder(GU::SpecialFolder::CommonApplicationData)),
      "Korvane");
}

std::string PictoraDataFolder() { return SubFolder(KorvaneDataFolder(), "Pictora"); }

std::string DocumentsFolder() {
  const std::string documents =
      NormalizeFolder(GU::GetSpecialFolder(GU::SpecialFolder::PersonalDocuments));
  return SubFolder(SubFolder(documents, "Korvane"), "Pictora");
}

std::string DefinitionsFolder() { return SubFolder(HomeFolder(), "XADefs"); }

}  // namespace

std::string ReadInstallationValue(std::string_view name) { return FindInstallationValue(name).value_or(""); }

std::optional<std::string> FindInstallationValue(std::string_view name) {
  std::string content;
  if (name.empty() || !GU::ReadFile(InstallationKeyPath(), content)) return std::nullopt;
  for (const std::string& rawLine : GU::Tokenize(content, "\r\n")) {
    const std::string line = GU::Trim(rawLine);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    // Value names of the installation key do not depend on letter case.
    if (!GU::Equals(GU::Trim(line.substr(0, equals)), name, true)) continue;
    std::string value = GU::Trim(line.substr(equals + 1));
    return value.size() < kMaxInstallationValueBytes ? value : std::string();
  }
  return std::nullopt;
}

std::string InstalledVersion() {
  return GU::DefaultIfEmpty(ReadInstallationValue("Version"), "0.0.0.0");
}

std::string InstallationFolder(int number) {
  switch (number) {
    case 0: return DefinitionsFolder();
    case 1: return HomeFolder();
    case 2: return SubFolder(DefinitionsFolder(), "RPDef Generators");
    case 3: return SubFolder(HomeFolder(), "RPDef Generators");
    case 4: return SubFolder(DefinitionsFolder(), "Raster Formats");
    case 5: return SubFolder(HomeFolder(), "Raster Formats");
    case 6: return SubFolder(DefinitionsFolder(), "Raster Processes");
    case 7: return SubFolder(HomeFolder(), "Raster Processes");
    case 8: return KorvaneDataFolder();
    case 9: return PictoraDataFolder();
    case 10: return SubFolder(HomeFolder(), "Format Runtime Data");
    case 11: return DocumentsFolder();
    case 12: return SubFolder(PictoraDataFolder(), "Logs");
    case 13: return SubFolder(DefinitionsFolder(), "GeoTransformers");
    case 14: return SubFolder(HomeFolder(), "Symbology");
    case 15: return HomeAsWritten();
    case 16: return SubFolder(HomeFolder(), "Help");
    case 17: return SubFolder(HomeFolder(), "Bitmaps");
    case 18: return SubFolder(PictoraDataFolder(), "Config");
    case 19: return SubFolder(HomeFolder(), "pedata");
    case 20: return SubFolder(HomeFolder(), "Bin");
    default: return {};
  }
}

}  // namespace Korvane::Pictora::Global
