// Status records: the failure format of every operation and of the remote interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Korvane::Pictora::GeneralUtilityLib {

// ID of an entry whose code is not known; written "Unknown ID".
inline constexpr std::uint32_t kUnknownStatusId = 0xFFFFFFFFu;

// One entry of a status record. ID 0 is information, anything else an error code.
struct StatusItem {
  std::uint32_t id = 0;
  std::string message;
  std::string source;
  std::string details;

  // The entry's <Item> element, values escaped as the XML layer escapes element text.
  std::string ToXml(bool withTime) const;
  // One text line: "[Source : 00DC09] Error: message", or the message alone without source.
  std::string ToString(const char* context = nullptr) const;
};

// Appends text escaped as element content the way the XML layer writes it: "&", "<" and ">" as
// entities, control characters other than tab and line breaks as "&#NN;" (two decimal digits);
// the text ends at its first NUL.
void AppendEscapedXmlText(std::string& out, std::string_view text);

// An ordered list of entries with a default source. Plain value type.
class Status {
 public:
  Status() = default;
  explicit Status(std::string_view defaultSource) : defaultSource_(defaultSource) {}

  // Removes every entry; entries added later with an empty source get defaultSource.
  bool Reset(std::string_view defaultSource);
  bool Set(std::uint32_t id, std::string_view message, std::string_view source = {},
           std::string_view details = {});
  bool Add(std::uint32_t id, std::string_view message, std::string_view source = {},
           std::string_view details = {});
  bool AddFront(std::uint32_t id, std::string_view message, std::string_view source = {},
                std::string_view details = {});
  // Appends an unchanged copy (an empty source stays empty).
  bool AddItem(const StatusItem& item);
  bool AddAll(const Status& other);

  std::size_t Count() const { return items_.size(); }
  // REQUIRES: index < Count().
  const StatusItem& GetItem(std::size_t index) const { return items_[index]; }
  const std::vector<StatusItem>& Items() const { return items_; }
  const std::string& DefaultSource() const { return defaultSource_; }

  // "<Status>" + each item's XML + "\n</Status>"; empty text when there is no entry.
  std::string ToXml(bool withTime = false) const;
  // The entries' text lines joined with "\n".
  std::string ToString(const char* context = nullptr) const;
  // Appends one entry per child of the <Status> element. False for empty or unparsable text.
  // Records of the shape ToXml() writes are read without building a document.
  bool AddXml(std::string_view statusXml);

 private:
  StatusItem MakeItem(std::uint32_t id, std::string_view message, std::string_view source,
                      std::string_view details) const;

  std::vector<StatusItem> items_;
  std::string defaultSource_;
};

}  // namespace Korvane::Pictora::GeneralUtilityLib
