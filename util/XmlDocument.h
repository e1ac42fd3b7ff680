// One parsed XML document with a cursor that XPath selections move.
//
// Selections keep the system's convention: a positional predicate counts from 0
// ("//Services/*[0]" is the first child). Text nodes holding only white space are dropped
// when a document is parsed. The selection "//" at index 0 makes the document's first node
// current, which is its XML declaration when it has one.
//
// Every operation but Save catches its own failures, records them in GetStatus() and answers
// with a neutral value. Not thread-safe: one thread at a time per document.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/ElementList.h"
#include "util/Status.h"

namespace Korvane::Pictora::GeneralUtilityLib {

// Status IDs recorded by XmlDocument.
inline constexpr std::uint32_t kXmlLoadFailed = 30977;      // 0x7901
inline constexpr std::uint32_t kXmlSelectFailed = 30978;    // 0x7902
inline constexpr std::uint32_t kXmlCountFailed = 30979;     // 0x7903
inline constexpr std::uint32_t kXmlChildrenFailed = 30980;  // 0x7904
inline constexpr std::uint32_t kXmlUndefinedError = 31231;  // 0x79FF

// Raised by XmlDocument::Save, the one operation whose failure is an exception.
class XmlSaveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Parses XML text. Texts from the network come here: they can never name a file.
  // On failure the status holds one 30977 entry with the parser's reason; its "Code" is
  // 0xC00CE500 plus the parser's status number (0xC00CE520: more than one top-level element).
  // Bytes pass through unconverted (texts are 8-bit), unless the input is UTF-16 or UTF-32.
  bool LoadXml(std::string_view text);
  // Reads and parses a regular file (never a FIFO or a device); failures as LoadXml's, a file
  // that cannot be read with the code of a missing file.
  bool LoadFile(const std::string& path);
  // Writes the whole document, unindented with a line break after the declaration, to a
  // temporary file beside path and renames it over path. Throws XmlSaveError on failure.
  bool Save(const std::string& path);
  bool Reset();

  bool SelectNode(std::string_view xpath, std::size_t index);
  long CountNodes(std::string_view xpath);
  long CountChildren(std::string_view xpath);

  std::string GetNodeName();
  std::string GetNodeText(std::string_view defaultText);
  std::string GetNodeContent(std::string_view defaultText);
  bool SetNodeText(std::string_view text);
  // Markup of the current node, unindented, empty elements as start and end tag. For the
  // document root ("/") the markup of all its top-level nodes, as Save writes them.
  std::string GetNodeXml();
  std::string GetText(std::string_view xpath, std::string_view defaultText);
  // The element children of the current node as (name, value) in document order: a child that
  // holds elements gives its inner markup, unindented, so that markup values survive a round
  // trip; any other child its text. None when the current node is no element.
  std::optional<std::vector<std::pair<std::string, std::string>>> GetChildValues();
  // The text of the first node that xpath selects below the current node, defaultText when none
  // has any; the current node and the selection stay as they were.
  std::string GetTextBelow(std::string_view xpath, std::string_view defaultText);

  const Status& GetStatus() const { return status_; }
  Status& GetStatus() { return status_; }

 private:
  struct Impl;
  struct ParseFailure;

  bool Parse(std::string_view origin, const std::string& content);
  bool Failed(std::string_view origin, const std::string& content, const ParseFailure& failure);

  Status status_;
  std::unique_ptr<Impl> impl_;
};

// One (name, text) pair per node the XPath selects; a later node of the same name
// (ignoring case) overwrites the earlier value and keeps its place.
ElementList NodesToList(XmlDocument& document, std::string_view xpath);

}  // namespace Korvane::Pictora::GeneralUtilityLib
