#include "tools/cli/Output.h"

#include <strings.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <set>
#include <sstream>

#include "tools/cli/CliCommands.h"

namespace Korvane::Pictora::Tools {

namespace {

using Json = nlohmann::ordered_json;

// Deeper elements are written as their markup's text: a hostile answer cannot exhaust the stack.
constexpr int kMaxDepth = 64;

bool Parse(pugi::xml_document& document, const std::string& xml) {
  return document.load_buffer(xml.data(), xml.size(), pugi::parse_default).status == pugi::status_ok &&
         document.document_element();
}

bool HasElementChildren(const pugi::xml_node& node) {
  return std::any_of(node.children().begin(), node.children().end(),
                     [](const pugi::xml_node& child) { return child.type() == pugi::node_element; });
}

Json ElementToJson(const pugi::xml_node& node, int depth) {
  if (!HasElementChildren(node) && node.attributes().empty()) return node.text().get();
  if (depth >= kMaxDepth) return "(nested too deeply)";
  Json object = Json::object();
  for (const pugi::xml_attribute& attribute : node.attributes()) {
    object[std::string("@") + attribute.name()] = attribute.value();
  }
  std::set<std::string> repeated;
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    Json value = ElementToJson(child, depth + 1);
    const std::string name = child.name();
    auto found = object.find(name);
    if (found == object.end()) {
      object[name] = std::move(value);
      continue;
    }
    // A second element of the name: the first becomes the first of an array.
    if (repeated.insert(name).second) *found = Json::array({std::move(*found)});
    found->push_back(std::move(value));
  }
  return object;
}

void LeafRows(const pugi::xml_node& node, const std::string& path, int depth, std::vector<TableRow>& rows) {
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    const std::string at = path.empty() ? child.name() : path + "/" + child.name();
    if (HasElementChildren(child) && depth < kMaxDepth) {
      LeafRows(child, at, depth + 1, rows);
    } else {
      rows.push_back({{at, child.text().get()}, ""});
    }
  }
}

}  // namespace

std::string NormalizeOutputWord(std::string& word) {
  for (const char* known : {"table", "json", "xml"}) {
    if (strcasecmp(word.c_str(), known) == 0) {
      word = known;
      return {};
    }
  }
  return "table, json or xml expected";
}

OutputFormat OutputFormatFrom(const std::string& word) {
  if (word == "json") return OutputFormat::kJson;
  return word == "xml" ? OutputFormat::kXml : OutputFormat::kTable;
}

std::string Table(const std::vector<std::string>& heading, const std::vector<TableRow>& rows) {
  std::vector<size_t> widths(heading.size());
  for (size_t i = 0; i < heading.size(); ++i) widths[i] = heading[i].size();
  for (const TableRow& row : rows) {
    for (size_t i = 0; i < row.cells.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], row.cells[i].size());
  }
  std::ostringstream text;
  auto line = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i + 1 < cells.size(); ++i) text << cells[i] << std::string(widths[i] - cells[i].size() + 2, ' ');
    text << cells.back() << "\n";
  };
  line(heading);
  for (const TableRow& row : rows) {
    line(row.cells);
    std::istringstream lines(row.notes);
    for (std::string note; std::getline(lines, note);) text << "    " << note << "\n";
  }
  if (rows.empty()) text << "(none)\n";
  return text.str();
}

std::optional<std::string> XmlToJson(const std::string& xml) {
  pugi::xml_document document;
  if (!Parse(document, xml)) return std::nullopt;
  const pugi::xml_node root = document.document_element();
  Json json = Json::object();
  json[root.name()] = ElementToJson(root, 0);
  return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

std::string XmlToTable(const std::string& xml) {
  pugi::xml_document document;
  if (!Parse(document, xml)) return {};
  std::vector<TableRow> rows;
  LeafRows(document.document_element(), "", 0, rows);
  return Table({"ELEMENT", "VALUE"}, rows);
}

std::string ListTable(const std::string& xml, const char* element, const char* heading) {
  pugi::xml_document document;
  if (!Parse(document, xml)) return {};
  std::vector<TableRow> rows;
  for (const pugi::xml_node& child : document.document_element().children(element)) {
    rows.push_back({{child.text().get()}, ""});
  }
  return Table({heading}, rows);
}

int PrintDocument(const std::string& xml, OutputFormat format, const TableMaker& table, std::ostream& out,
                  std::ostream& err) {
  std::string text;
  if (format == OutputFormat::kXml) {
    text = xml;
  } else if (format == OutputFormat::kJson) {
    text = XmlToJson(xml).value_or("");
  } else {
    text = table ? table(xml) : XmlToTable(xml);
  }
  if (text.empty()) return Refuse(err, "the server's answer does not parse", xml);
  out << text;
  if (text.back() != '\n') out << "\n";
  return kExitOk;
}

void PrintDone(const std::string& line, OutputFormat format, std::ostream& out) {
  if (format == OutputFormat::kJson) {
    out << Json{{"done", line}}.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
  } else {
    out << line << "\n";
  }
}

}  // namespace Korvane::Pictora::Tools
