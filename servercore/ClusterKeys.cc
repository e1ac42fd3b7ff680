#include "servercore/ClusterKeys.h"

#include "servercore/RegistryKeyLess.h"
#include "util/Status.h"
#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::ServerCore {
namespace GU = GeneralUtilityLib;
namespace {

constexpr std::string_view kProviders = "providers/";

// The name as the registry compares it, as one key piece.
std::string Piece(std::string_view name) {
  std::string key = GU::Trim(name);
  std::string piece;
  for (char c : key) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '%') {
      piece += "%25";
    } else if (c == '/') {
      piece += "%2F";
    } else {
      piece += c;
    }
  }
  return piece;
}

std::string Unpiece(std::string_view piece) {
  std::string name;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    if (piece[i] == '%' && piece.substr(i, 3) == "%25") {
      name += '%';
      i += 2;
    } else if (piece[i] == '%' && piece.substr(i, 3) == "%2F") {
      name += '/';
      i += 2;
    } else {
      name += piece[i];
    }
  }
  return name;
}

void AppendValues(std::string& text, const char* element, const GU::ElementList& values) {
  text.append("<").append(element).append(">");
  for (const auto& [name, value] : values.Pairs()) {
    text.append("<").append(name).append(">");
    GU::AppendEscapedXmlText(text, value);
    text.append("</").append(name).append(">");
  }
  text.append("</").append(element).append(">");
}

}  // namespace

std::string ClusterKeys::Provider(std::string_view name) const { return prefix_ + std::string(kProviders) + Piece(name); }

std::string ClusterKeys::Service(std::string_view provider, std::string_view service) const {
  return Provider(provider) + "/s/" + Piece(NormalizeServiceName(service));
}

std::string ClusterKeys::Failure(std::string_view provider, std::string_view service) const {
  return Provider(provider) + "/f/" + Piece(NormalizeServiceName(service));
}

ClusterKeys::Parsed ClusterKeys::Parse(std::string_view key) const {
  Parsed parsed;
  if (!key.starts_with(prefix_)) return parsed;
  key.remove_prefix(prefix_.size());
  if (key == "catalogue") {
    parsed.kind = Parsed::Kind::kCatalogue;
    return parsed;
  }
  if (!key.starts_with(kProviders)) return parsed;
  key.remove_prefix(kProviders.size());
  const std::size_t slash = key.find('/');
  parsed.provider = Unpiece(key.substr(0, slash));
  if (slash == std::string_view::npos) {
    parsed.kind = Parsed::Kind::kProvider;
    return parsed;
  }
  const std::string_view rest = key.substr(slash);
  if (rest.starts_with("/s/") || rest.starts_with("/f/")) {
    parsed.kind = rest[1] == 's' ? Parsed::Kind::kService : Parsed::Kind::kFailure;
    parsed.service = Unpiece(rest.substr(3));
  }
  return parsed;
}

std::string EncodeProvider(const ProviderEntry& entry) {
  std::string text = "<Provider><Name>";
  GU::AppendEscapedXmlText(text, entry.name);
  text += "</Name><Session>";
  GU::AppendEscapedXmlText(text, entry.sessionId);
  text += "</Session>";
  AppendValues(text, "Config", entry.config);
  AppendValues(text, "Dynamic", entry.dynamic);
  return text + "</Provider>";
}

bool DecodeProvider(std::string_view text, ProviderEntry& entry) {
  GU::XmlDocument document;
  if (!document.LoadXml(text) || !document.SelectNode("/Provider/Name", 0)) return false;
  entry.name = document.GetNodeText("");
  entry.sessionId = document.GetText("/Provider/Session", "");
  entry.config = GU::NodesToList(document, "/Provider/Config/*");
  entry.dynamic = GU::NodesToList(document, "/Provider/Dynamic/*");
  return true;
}

}  // namespace Korvane::Pictora::ServerCore
