#include "util/Status.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <exception>
#include <iterator>
#include <utility>

#include "util/TextUtil.h"
#include "util/XmlDocument.h"

namespace Korvane::Pictora::GeneralUtilityLib {

namespace {

constexpr std::string_view kOwnPrefix = "Korvane.Pictora.";
constexpr std::string_view kUnknownIdText = "Unknown ID";
constexpr const char* kStatusPath = "//Status";

std::string WithoutOwnPrefix(std::string_view source) {
  std::string shortened(source);
  Replace(shortened, kOwnPrefix, "", true);
  return shortened;
}

std::string XmlSource(std::string_view source) {
  std::string dotted = WithoutOwnPrefix(source);
  Replace(dotted, "::", ".");
  return dotted;
}

std::string XmlIdText(std::uint32_t id) {
  return id == kUnknownStatusId ? std::string(kUnknownIdText) : Format("%06X", id);
}

void AppendElement(std::string& out, std::string_view name, std::string_view text) {
  out.append("<").append(name).append(">");
  AppendEscapedXmlText(out, text);
  out.append("</").append(name).append(">");
}

// Reads like the C library's unsigned hexadecimal conversion with a 32-bit result: leading
// white space, an optional sign and "0x" are accepted, reading stops at the first character
// that is not a hexadecimal digit, and overflow saturates at all bits set.
std::uint32_t ReadHex32(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (text.size() - i >= 3 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
    i += 2;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value, 16);
  if (error == std::errc::result_out_of_range) return kUnknownStatusId;
  return negative ? 0u - value : value;
}

std::uint32_t ParseIdText(std::string_view text) {
  if (Equals(text, kUnknownIdText, true)) return kUnknownStatusId;
  const std::uint32_t id = ReadHex32(text);
  return id == kUnknownStatusId ? 0 : id;
}

// The character of an entity name the XML parser decodes in element text, or NUL.
char EntityCharacter(std::string_view name) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [entity, character] : kEntities) {
    if (name == entity) return character;
  }
  return '\0';
}

// Reads "<name>text</name>" at `pos`, decoding the named entities, as the XML parser would.
// False for anything else (character references, carriage returns, NULs, nested markup):
// those texts are left to the parser.
bool ReadSimpleElement(std::string_view xml, std::size_t& pos, std::string_view name,
                       std::string& text) {
  const auto consume = [&](std::string_view part) {
    if (xml.substr(pos, part.size()) != part) return false;
    pos += part.size();
    return true;
  };
  if (!consume("<") || !consume(name) || !consume(">")) return false;
  text.clear();
  static constexpr std::string_view kStops("<&\r\0", 4);
  while (pos < xml.size() && xml[pos] != '<') {
    const std::size_t stop = std::min(xml.find_first_of(kStops, pos), xml.size());
    text.append(xml, pos, stop - pos);
    pos = stop;
    if (pos == xml.size() || xml[pos] == '<') break;
    if (xml[pos] != '&') return false;
    const std::size_t end = xml.find(';', pos);
    const char decoded = end == std::string_view::npos ? '\0' : EntityCharacter(xml.substr(pos + 1, end - pos - 1));
    if (decoded == '\0') return false;
    text += decoded;
    pos = end + 1;
  }
  // The parser drops text that is white space alone.
  if (text.find_first_not_of(" \t\n") == std::string::npos) text.clear();
  return consume("</") && consume(name) && consume(">");
}

// The records this system writes itself ("<Status>", items of ID, Source, Message and Details,
// "\n</Status>") read without building a document. Nothing is added unless the whole text has
// exactly that shape; the caller then reads it with the XML parser.
bool ReadOwnStatusXml(std::string_view xml, std::vector<StatusItem>& items) {
  constexpr std::string_view kOpen = "<Status>";
  constexpr std::string_view kClose = "\n</Status>";
  if (!xml.starts_with(kOpen) || !xml.ends_with(kClose) || xml.size() < kOpen.size() + kClose.size()) {
    return false;
  }
  const std::string_view body = xml.substr(kOpen.size(), xml.size() - kOpen.size() - kClose.size());
  std::vector<StatusItem> read;
  std::size_t pos = 0;
  std::string idText;
  while (pos < body.size()) {
    StatusItem& item = read.emplace_back();
    if (body.substr(pos, 6) != "<Item>") return false;
    pos += 6;
    if (!ReadSimpleElement(body, pos, "ID", idText) || !ReadSimpleElement(body, pos, "Source", item.source) ||
        !ReadSimpleElement(body, pos, "Message", item.message) ||
        !ReadSimpleElement(body, pos, "Details", item.details) || body.substr(pos, 7) != "</Item>") {
      return false;
    }
    pos += 7;
    item.id = ParseIdText(idText);
  }
  if (read.empty()) return false;
  items.insert(items.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
  return true;
}

}  // namespace

void AppendEscapedXmlText(std::string& out, std::string_view text) {
  // A value ends at its first NUL, as a C string would.
  text = text.substr(0, text.find('\0'));
  std::size_t plain = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool control = c < 32 && c != '\t' && c != '\n' && c != '\r';
    if (!control && c != '&' && c != '<' && c != '>') continue;
    out.append(text, plain, i - plain);
    plain = i + 1;
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      const char reference[] = {'&', '#', static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10), ';'};
      out.append(reference, sizeof reference);
    }
  }
  out.append(text, plain, std::string_view::npos);
}

std::string StatusItem::ToXml(bool withTime) const {
  // Written directly rather than through an XML document: every report passes here. The
  // markup is the same as the XML layer would write (the status tests compare the two).
  std::string xml;
  xml.reserve(96 + source.size() + message.size() + details.size());
  xml += "<Item>";
  if (withTime) AppendElement(xml, "Time", TimeStamp());
  AppendElement(xml, "ID", XmlIdText(id));
  AppendElement(xml, "Source", XmlSource(source));
  AppendElement(xml, "Message", message);
  AppendElement(xml, "Details", details);
  xml += "</Item>";
  return xml;
}

std::string StatusItem::ToString(const char* context) const {
  std::string line;
  if (!source.empty()) {
    std::string idText;
    if (id == kUnknownStatusId) {
      idText = " : Unknown ID";
    } else if (id != 0) {
      idText = Format(" : %06X", id);
    }
    const char* tag = id != 0 ? "Error: " : "";
    const std::string ctx = context != nullptr ? Format("[%s]: ", context) : "";
    line = Format("%s[%s%s] %s", ctx.c_str(), WithoutOwnPrefix(source).c_str(), idText.c_str(),
                  tag);
  }
  line += message;
  if (!details.empty()) line.append("\n").append(details);
  return line;
}

bool Status::Reset(std::string_view defaultSource) {
  items_.clear();
  defaultSource_ = defaultSource;
  return true;
}

bool Status::Set(std::uint32_t id, std::string_view message, std::string_view source,
                 std::string_view details) {
  Reset(source);
  return Add(id, message, source, details);
}

bool Status::Add(std::uint32_t id, std::string_view message, std::string_view source,
                 std::string_view details) {
  items_.push_back(MakeItem(id, message, source, details));
  return true;
}

bool Status::AddFront(std::uint32_t id, std::string_view message, std::string_view source,
                      std::string_view details) {
  items_.insert(items_.begin(), MakeItem(id, message, source, details));
  return true;
}

bool Status::AddItem(const StatusItem& item) {
  items_.push_back(item);
  return true;
}

bool Status::AddAll(const Status& other) {
  // Copy first: other may be this very record.
  const std::vector<StatusItem> copies = other.items_;
  items_.insert(items_.end(), copies.begin(), copies.end());
  return true;
}

std::string Status::ToXml(bool withTime) const {
  if (items_.empty()) return {};
  std::string xml = "<Status>";
  for (const StatusItem& item : items_) xml += item.ToXml(withTime);
  xml += "\n</Status>";
  return xml;
}

std::string Status::ToString(const char* context) const {
  std::string text;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i > 0) text += '\n';
    text += items_[i].ToString(context);
  }
  return text;
}

bool Status::AddXml(std::string_view statusXml) {
  try {
    if (statusXml.empty()) return false;
    if (ReadOwnStatusXml(statusXml, items_)) return true;
    XmlDocument document;
    if (!document.LoadXml(statusXml)) return false;
    const long count = document.CountChildren(kStatusPath);
    if (count < 0) return true;
    for (long i = 0; i < count; ++i) {
      StatusItem& item = items_.emplace_back();
      const std::string itemPath = Format("%s/*[%lu]", kStatusPath, static_cast<unsigned long>(i));
      if (!document.SelectNode(itemPath, 0)) continue;
      const auto field = [&](const char* name) {
        return document.GetText(Format("%s/%s", itemPath.c_str(), name), "");
      };
      item.id = ParseIdText(field("ID"));
      item.message = field("Message");
      item.source = field("Source");
      item.details = field("Details");
    }
    return true;
  } catch (...) {
    return false;
  }
}

StatusItem Status::MakeItem(std::uint32_t id, std::string_view message, std::string_view source,
                            std::string_view details) const {
  return StatusItem{id, std::string(message),
                    std::string(source.empty() ? std::string_view(defaultSource_) : source),
                    std::string(details)};
}

}  // namespace Korvane::Pictora::GeneralUtilityLib
