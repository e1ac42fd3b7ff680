// How pictora-cli prints what a server answered: `--output table` (the default: aligned columns
// for people), `json` (for scripts) or `xml` (the server's document as it is).
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Korvane::Pictora::Tools {

enum class OutputFormat { kTable, kJson, kXml };

// CLI11 transform of the --output word (any letter case) into "table", "json" or "xml"; the
// reason when it is none of them.
std::string NormalizeOutputWord(std::string& word);
OutputFormat OutputFormatFrom(const std::string& word);

struct TableRow {
  std::vector<std::string> cells;
  std::string notes;  // lines printed indented under the row
};

// Columns two spaces apart, the last one unpadded; "(none)" under the heading when there are no rows.
std::string Table(const std::vector<std::string>& heading, const std::vector<TableRow>& rows);

// The document as JSON: an element with element children becomes an object of them (a name
// repeated among siblings becomes an array, attributes are "@name"), any other element its
// text. Nothing when the text does not parse.
std::optional<std::string> XmlToJson(const std::string& xml);
// The document's elements that hold text, as ELEMENT (its path below the root) and VALUE rows;
// empty text when it does not parse.
std::string XmlToTable(const std::string& xml);

// The texts of the root's `element` children (a list answer: <Pictora><X>a</X><X>b</X></Pictora>)
// as one column under `heading`; empty text when the document does not parse.
std::string ListTable(const std::string& xml, const char* element, const char* heading);

// A table maker for one kind of document; empty text when the document does not suit it.
using TableMaker = std::function<std::string(const std::string& xml)>;

// Prints a document the server answered in `format` (a table by `table`, XmlToTable when
// none); kExitRefused, with the reason on `err`, when it does not convert.
int PrintDocument(const std::string& xml, OutputFormat format, const TableMaker& table, std::ostream& out,
                  std::ostream& err);
// Prints the line a command without an answer prints once done ({"done": line} as JSON).
void PrintDone(const std::string& line, OutputFormat format, std::ostream& out);

}  // namespace Korvane::Pictora::Tools
