#include "util/XmlDocument.h"

#include <pugixml.hpp>

#include <cstring>
#include <sstream>
#include <string>

#include "util/FileUtil.h"
#include "util/TextUtil.h"

namespace Korvane::Pictora::GeneralUtilityLib {

namespace {

// Load failures carry a code of ours: this base plus the parser's status value, so that each
// parser failure keeps a distinct, stable number in the message.
constexpr unsigned kLoadErrorCodeBase = 0xC00CE500u;
// A document with more than one top-level element; the parser itself accepts it.
constexpr unsigned kMultipleRootsStatus = 0x20;
constexpr const char* kMultipleRootsReason = "Only one top level element is allowed";
// Texts come from peers: a document nested deeper than any the system exchanges is refused, so
// that no walk over a peer's document can cost more than a bounded factor of its size.
constexpr std::size_t kMaxNesting = 256;
constexpr unsigned kTooDeepStatus = 0x21;
constexpr const char* kTooDeepReason = "Elements are nested more than 256 levels deep";
constexpr const char* kUndefinedError = "Undefined error;  Exception caught";

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi;
constexpr unsigned kPrintOptions = pugi::format_raw | pugi::format_no_empty_element_tags;

// Texts are 8-bit byte strings: they pass through unconverted, whatever the declaration says.
// Only input that is plainly UTF-16 or UTF-32 is left to the parser's own detection.
pugi::xml_encoding EncodingOf(const std::string& content) {
  if (content.size() < 2) return pugi::encoding_utf8;
  const auto first = static_cast<unsigned char>(content[0]);
  const bool wide = first == 0 || content[1] == '\0' || first == 0xFE || first == 0xFF;
  return wide ? pugi::encoding_auto : pugi::encoding_utf8;
}

std::string IncrementDecimal(std::string digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return digits;
    }
    digits[i] = '0';
  }
  return "1" + digits;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Callers count positions from 0; the XPath engine counts from 1. Every predicate that is a
// bare integer ("[0]", "[ 12 ]") is raised by one; other predicates and string literals stay.
std::string ToOneBasedXPath(std::string_view xpath) {
  std::string result;
  result.reserve(xpath.size() + 8);
  char quote = 0;
  std::size_t i = 0;
  while (i < xpath.size()) {
    const char c = xpath[i];
    if (quote != 0 || c == '"' || c == '\'') {
      quote = quote == 0 ? c : (c == quote ? 0 : quote);
      result += c;
      ++i;
      continue;
    }
    if (c == '[') {
      std::size_t j = i + 1;
      while (j < xpath.size() && IsBlank(xpath[j])) ++j;
      const std::size_t digitsBegin = j;
      while (j < xpath.size() && IsDigit(xpath[j])) ++j;
      const std::size_t digitsEnd = j;
      while (j < xpath.size() && IsBlank(xpath[j])) ++j;
      if (digitsEnd > digitsBegin && j < xpath.size() && xpath[j] == ']') {
        result += '[';
        result += IncrementDecimal(std::string(xpath.substr(digitsBegin, digitsEnd - digitsBegin)));
        result += ']';
        i = j + 1;
        continue;
      }
    }
    result += c;
    ++i;
  }
  return result;
}

// The concatenated text of every text and CDATA node below root. Iterative: documents come
// from the network and may nest deeper than the stack would allow.
std::string DescendantText(const pugi::xml_node& root) {
  std::string text;
  pugi::xml_node node = root.first_child();
  while (node) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) text += node.value();
    if (node.type() == pugi::node_element && node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (!node.next_sibling()) {
      node = node.parent();
      if (node == root) return text;
    }
    node = node.next_sibling();
  }
  return text;
}

// The declaration's content as it stands between "<?xml " and "?>".
std::string DeclarationContent(const pugi::xml_node& node) {
  std::string text;
  for (const pugi::xml_attribute& attribute : node.attributes()) {
    if (!text.empty()) text += ' ';
    text.append(attribute.name()).append("=\"").append(attribute.value()).append("\"");
  }
  return text;
}

std::string TextContent(const pugi::xpath_node& selected) {
  if (selected.attribute()) return selected.attribute().value();
  const pugi::xml_node node = selected.node();
  switch (node.type()) {
    case pugi::node_element:
    case pugi::node_document:
      return DescendantText(node);
    case pugi::node_declaration:
      return DeclarationContent(node);
    default:
      return node.value();
  }
}

bool HasElementChild(const pugi::xml_node& node) {
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() == pugi::node_element) return true;
  }
  return false;
}

// Text the parser would not give back as it is once printed. Character references ("&#32;",
// "&#13;") are the only way to such text: printed, a text of nothing but white space is raw white
// space, which the next read drops, and a carriage return is a raw line end, read as a line feed.
bool IsBlankText(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  }
  return true;
}

bool ChangesWhenReadBack(const pugi::xml_node& node) {
  if (node.type() == pugi::node_pcdata) return IsBlankText(node.value()) || std::strchr(node.value(), '\r') != nullptr;
  if (node.type() != pugi::node_element) return false;
  for (const pugi::xml_node& child : node.children()) {
    if (ChangesWhenReadBack(child)) return true;
  }
  return false;
}

// The text as the next read gives it back: blank text gone, line ends as the parser reads them.
void MakeTextReadBackForm(pugi::xml_node node) {
  for (pugi::xml_node child = node.first_child(); child;) {
    const pugi::xml_node next = child.next_sibling();
    if (child.type() == pugi::node_element) {
      MakeTextReadBackForm(child);
    } else if (child.type() == pugi::node_pcdata && IsBlankText(child.value())) {
      node.remove_child(child);
    } else if (child.type() == pugi::node_pcdata) {
      std::string text = child.value();
      for (std::size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at)) {
        if (at + 1 < text.size() && text[at + 1] == '\n') {
          text.erase(at, 1);
        } else {
          text[at] = '\n';
        }
      }
      child.set_value(text.c_str());
    }
    child = next;
  }
}

// A markup value: as it reads back once written, so that every later rewrite keeps it as it is.
std::string InnerMarkup(const pugi::xml_node& node) {
  std::ostringstream out;
  if (!ChangesWhenReadBack(node)) {
    for (const pugi::xml_node& child : node.children()) child.print(out, "", kPrintOptions, pugi::encoding_utf8);
    return out.str();
  }
  pugi::xml_document copy;
  const pugi::xml_node root = copy.append_copy(node);
  MakeTextReadBackForm(root);
  for (const pugi::xml_node& child : root.children()) child.print(out, "", kPrintOptions, pugi::encoding_utf8);
  return out.str();
}

std::string NodeName(const pugi::xpath_node& selected) {
  if (selected.attribute()) return selected.attribute().name();
  const pugi::xml_node node = selected.node();
  switch (node.type()) {
    case pugi::node_pcdata:
      return "#text";
    case pugi::node_cdata:
      return "#cdata-section";
    case pugi::node_comment:
      return "#comment";
    case pugi::node_document:
      return "#document";
    default:
      return node.name();
  }
}

std::string NodeMarkup(const pugi::xml_node& node) {
  std::ostringstream out;
  node.print(out, "", kPrintOptions, pugi::encoding_utf8);
  return out.str();
}

// The whole document: its top-level nodes unindented, a line break after the declaration.
std::string DocumentMarkup(const pugi::xml_node& document) {
  std::string markup;
  for (const pugi::xml_node& child : document.children()) {
    markup += NodeMarkup(child);
    if (child.type() == pugi::node_declaration) markup += '\n';
  }
  return markup;
}

std::string Markup(const pugi::xpath_node& selected) {
  if (const pugi::xml_attribute attribute = selected.attribute()) {
    pugi::xml_document scratch;
    scratch.append_child("a").append_attribute(attribute.name()) = attribute.value();
    // Serialised as <a name="value"></a>: the attribute's markup sits between "<a " and "></a>".
    const std::string element = NodeMarkup(scratch.first_child());
    constexpr std::size_t kHead = 3, kTail = 5;
    return element.substr(kHead, element.size() - kHead - kTail);
  }
  const pugi::xml_node node = selected.node();
  return node.type() == pugi::node_document ? DocumentMarkup(node) : NodeMarkup(node);
}

long ChildCount(const pugi::xpath_node& selected) {
  if (selected.attribute()) return *selected.attribute().value() != '\0' ? 1 : 0;
  long count = 0;
  for (auto it = selected.node().begin(); it != selected.node().end(); ++it) ++count;
  return count;
}

// Whether any node lies more than `limit` levels below the document, walked without recursion.
bool NestedDeeperThan(const pugi::xml_document& document, std::size_t limit) {
  std::size_t depth = 1;
  for (pugi::xml_node node = document.first_child(); node;) {
    if (depth > limit) return true;
    if (node.first_child()) {
      node = node.first_child();
      ++depth;
      continue;
    }
    while (!node.next_sibling()) {
      node = node.parent();
      --depth;
      if (!node || node == document) return false;
    }
    node = node.next_sibling();
  }
  return false;
}

struct TextPosition {
  unsigned long line = 1;
  unsigned long column = 1;
};

TextPosition PositionOf(const std::string& content, std::ptrdiff_t offset) {
  const std::size_t end = offset < 0 ? 0 : std::min(content.size(), static_cast<std::size_t>(offset));
  TextPosition position;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (content[i] == '\n') {
      ++position.line;
      lineStart = i + 1;
    }
  }
  position.column = end - lineStart + 1;
  return position;
}

}  // namespace

struct XmlDocument::ParseFailure {
  unsigned code = 0;
  std::ptrdiff_t offset = 0;
  std::string reason;
};

struct XmlDocument::Impl {
  pugi::xml_document document;
  pugi::xpath_node currentNode;
  pugi::xpath_node_set nodeList;
  std::string selectedXPath;

  // Drops every reference into the tree; needed whenever nodes may have gone away.
  void ForgetNodes() {
    currentNode = pugi::xpath_node();
    ForgetSelection();
  }
  void ForgetSelection() {
    nodeList = pugi::xpath_node_set();
    selectedXPath.clear();
  }

  // "//" lists the document's top-level nodes, so that index 0 is its first node (the XML
  // declaration when there is one). Anything else is an XPath with 0-based positions.
  pugi::xpath_node_set Select(std::string_view xpath) const {
    if (xpath == "//") {
      std::vector<pugi::xpath_node> nodes;
      for (const pugi::xml_node& child : document.children()) nodes.emplace_back(child);
      return pugi::xpath_node_set(nodes.data(), nodes.data() + nodes.size(),
                                  pugi::xpath_node_set::type_sorted);
    }
    const pugi::xpath_query query(ToOneBasedXPath(xpath).c_str());
    if (!query) throw std::runtime_error(query.result().description());
    return query.evaluate_node_set(document);
  }

  // Parses content; on failure leaves the document empty and describes why.
  bool Parse(const std::string& content, ParseFailure& failure) {
    const pugi::xml_parse_result result = document.load_buffer(
        content.data(), content.size(), kParseOptions, EncodingOf(content));
    if (!result) {
      failure = {kLoadErrorCodeBase + result.status, result.offset, result.description()};
      document.reset();
      return false;
    }
    if (NestedDeeperThan(document, kMaxNesting)) {
      failure = {kLoadErrorCodeBase + kTooDeepStatus, 0, kTooDeepReason};
      document.reset();
      return false;
    }
    pugi::xml_node firstRoot;
    for (const pugi::xml_node& child : document.children()) {
      if (child.type() != pugi::node_element) continue;
      if (!firstRoot) {
        firstRoot = child;
        continue;
      }
      // The node's offset is that of its name; the message points at its "<".
      failure = {kLoadErrorCodeBase + kMultipleRootsStatus, child.offset_debug() - 1,
                 kMultipleRootsReason};
      document.reset();
      return false;
    }
    return true;
  }

  const pugi::xpath_node& Current() const {
    if (!currentNode) throw std::logic_error("no current node");
    return currentNode;
  }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::LoadFile(const std::string& path) {
  std::string content;
  if (!path.empty() && ReadFile(path, content)) return Parse(path, content);
  impl_->ForgetNodes();
  impl_->document.reset();
  return Failed(path, {}, {kLoadErrorCodeBase + pugi::status_file_not_found, 0, "File was not found"});
}

bool XmlDocument::LoadXml(std::string_view text) {
  if (text.empty()) {
    impl_->ForgetNodes();
    return false;
  }
  return Parse(text, std::string(text));
}

bool XmlDocument::Parse(std::string_view origin, const std::string& content) {
  impl_->selectedXPath.clear();
  try {
    impl_->ForgetNodes();
    ParseFailure failure;
    if (impl_->Parse(content, failure)) return true;
    return Failed(origin, content, failure);
  } catch (...) {
    status_.Set(kXmlUndefinedError, kUndefinedError);
    return false;
  }
}

bool XmlDocument::Failed(std::string_view origin, const std::string& content, const ParseFailure& failure) {
  const TextPosition position = PositionOf(content, failure.offset);
  status_.Set(kXmlLoadFailed,
              Format("Could not load XML: '%s'.  Please ensure that the XML is accessible and "
                     "valid.  Code: '%Xh';  Line: '%lu';  Column: '%lu';  Reason: '%s'",
                     Abbreviate(origin, "...", 100).c_str(), failure.code, position.line,
                     position.column, Trim(failure.reason).c_str()));
  return false;
}

bool XmlDocument::Save(const std::string& path) {
  if (!WriteFileAtomically(path, DocumentMarkup(impl_->document))) {
    throw XmlSaveError(Format("Could not save XML to '%s'", path.c_str()));
  }
  return true;
}

bool XmlDocument::Reset() { return true; }

bool XmlDocument::SelectNode(std::string_view xpath, std::size_t index) {
  if (xpath.empty()) return false;
  try {
    if (xpath != impl_->selectedXPath) {
      impl_->nodeList = impl_->Select(xpath);
      impl_->selectedXPath = xpath;
      if (index >= impl_->nodeList.size()) return false;
    }
    impl_->currentNode =
        index < impl_->nodeList.size() ? impl_->nodeList[index] : pugi::xpath_node();
    return static_cast<bool>(impl_->currentNode);
  } catch (...) {
    impl_->ForgetSelection();
    status_.Set(kXmlSelectFailed,
                Format("Could not select XML node; XPath: '%s'", std::string(xpath).c_str()));
    return false;
  }
}

long XmlDocument::CountNodes(std::string_view xpath) {
  if (xpath.empty()) return -1;
  try {
    impl_->nodeList = impl_->Select(xpath);
    impl_->selectedXPath = xpath;
    return static_cast<long>(impl_->nodeList.size());
  } catch (...) {
    impl_->ForgetSelection();
    status_.Set(kXmlCountFailed,
                Format("Could not count nodes in XML; XPath: '%s'", std::string(xpath).c_str()));
    return -1;
  }
}

long XmlDocument::CountChildren(std::string_view xpath) {
  if (xpath.empty()) return -1;
  try {
    const pugi::xpath_node first = impl_->Select(xpath).first();
    impl_->currentNode = first;
    if (!first) return -1;
    return ChildCount(first);
  } catch (...) {
    status_.Set(kXmlChildrenFailed,
                Format("Could not count children in XML; XPath: '%s'", std::string(xpath).c_str()));
    return -1;
  }
}

std::string XmlDocument::GetNodeName() {
  try {
    return impl_->currentNode ? NodeName(impl_->currentNode) : std::string();
  } catch (...) {
    status_.Set(kXmlUndefinedError, kUndefinedError);
    return {};
  }
}

std::string XmlDocument::GetNodeText(std::string_view defaultText) {
  try {
    std::string text = TextContent(impl_->Current());
    return text.empty() ? std::string(defaultText) : text;
  } catch (...) {
    status_.Set(kXmlUndefinedError, kUndefinedError);
    return std::string(defaultText);
  }
}

std::string XmlDocument::GetNodeContent(std::string_view defaultText) {
  try {
    const pugi::xpath_node& current = impl_->Current();
    if (current.attribute()) {
      const std::string value = current.attribute().value();
      return value.empty() ? std::string(defaultText) : value;
    }
    const pugi::xml_node firstChild = current.node().first_child();
    if (!firstChild) return std::string(defaultText);
    if (firstChild.type() != pugi::node_pcdata) return Markup(current);
    return TextContent(current);
  } catch (...) {
    return std::string(defaultText);
  }
}

bool XmlDocument::SetNodeText(std::string_view text) {
  try {
    const pugi::xpath_node& current = impl_->Current();
    const std::string value(text);
    if (current.attribute()) {
      pugi::xml_attribute attribute = current.attribute();
      if (!attribute.set_value(value.c_str())) throw std::runtime_error("set_value");
      return true;
    }
    pugi::xml_node node = current.node();
    if (node.type() != pugi::node_element) {
      if (!node.set_value(value.c_str())) throw std::runtime_error("set_value");
      return true;
    }
    // Removing the children invalidates any held selection that may contain them.
    impl_->ForgetSelection();
    while (node.first_child()) node.remove_child(node.first_child());
    if (!value.empty() && !node.append_child(pugi::node_pcdata).set_value(value.c_str())) {
      throw std::runtime_error("set_value");
    }
    return true;
  } catch (...) {
    status_.Set(kXmlUndefinedError, kUndefinedError);
    return false;
  }
}

std::string XmlDocument::GetNodeXml() {
  try {
    return Markup(impl_->Current());
  } catch (...) {
    status_.Set(kXmlUndefinedError, kUndefinedError);
    return {};
  }
}

std::string XmlDocument::GetText(std::string_view xpath, std::string_view defaultText) {
  if (!SelectNode(xpath, 0)) return {};
  return GetNodeText(defaultText);
}

std::optional<std::vector<std::pair<std::string, std::string>>> XmlDocument::GetChildValues() {
  std::vector<std::pair<std::string, std::string>> values;
  try {
    const pugi::xml_node node = impl_->currentNode.node();
    if (node.type() != pugi::node_element) return std::nullopt;
    for (const pugi::xml_node& child : node.children()) {
      if (child.type() != pugi::node_element) continue;
      values.emplace_back(child.name(), HasElementChild(child) ? InnerMarkup(child) : DescendantText(child));
    }
  } catch (...) {
    status_.Set(kXmlUndefinedError, kUndefinedError);
    return std::nullopt;
  }
  return values;
}

std::string XmlDocument::GetTextBelow(std::string_view xpath, std::string_view defaultText) {
  try {
    const pugi::xml_node node = impl_->Current().node();
    const pugi::xpath_query query(ToOneBasedXPath(xpath).c_str());
    const pugi::xpath_node found = node ? query.evaluate_node_set(node).first() : pugi::xpath_node();
    const std::string text = found ? TextContent(found) : std::string();
    return text.empty() ? std::string(defaultText) : text;
  } catch (...) {
    status_.Set(kXmlSelectFailed, Format("Could not select XML node; XPath: '%s'", std::string(xpath).c_str()));
    return std::string(defaultText);
  }
}

ElementList NodesToList(XmlDocument& document, std::string_view xpath) {
  ElementList list;
  const long count = document.CountNodes(xpath);
  for (long i = 0; i < count; ++i) {
    if (!document.SelectNode(xpath, static_cast<std::size_t>(i))) continue;
    std::string value = document.GetNodeText({});
    list[document.GetNodeName()] = std::move(value);
  }
  return list;
}

}  // namespace Korvane::Pictora::GeneralUtilityLib
