// Writes the scdoc source of corvane-parameters(5): the template's text with
// the line "@PARAMETERS@" replaced by the parameter reference, one section
// per group and one for the column switches.
//
//   corvane-parameters-page corvane-parameters.5.scd.in > corvane-parameters.5.scd
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "service/parameters/parameter_reference.h"
#include "service/parameters/parameters.h"

namespace {

using namespace corvane::parameters;

// Text as scdoc shows it literally: its markup characters escaped.
std::string Literal(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '*' || c == '_') out += '\\';
    out += c;
  }
  return out;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

const ParameterInfo& InfoOf(std::string_view name) {
  for (const auto& p : AllParameters())
    if (p.name == name) return p;
  throw std::runtime_error(fmt::format("{} is described but not a parameter", name));
}

void WriteParameter(std::ostream& out, const ParameterDoc& doc) {
  const ParameterInfo& info = InfoOf(doc.name);
  const char* type = info.type == corvane::registry::ValueType::ExpandString ? "REG_EXPAND_SZ" : "REG_SZ";
  const std::string defaultText = info.defaultText.empty() ? "empty" : fmt::format("\"{}\"", info.defaultText);
  out << "*" << Literal(doc.name) << "*\n";
  out << "\t" << Literal(KindText(doc)) << "; " << type << "; default " << Literal(defaultText) << ".\n\n";
  out << "\t" << Literal(doc.description) << "\n";
  if (!doc.choices.empty()) {
    out << "\n";
    for (const auto& c : doc.choices) out << "\t- " << c.value << ": " << Literal(c.meaning) << "\n";
  }
  out << "\n";
}

void WriteReference(std::ostream& out) {
  for (const auto& section : ParameterReference()) {
    out << "# " << Upper(section.title) << "\n\n";
    if (!section.introduction.empty()) out << Literal(section.introduction) << "\n\n";
    for (const auto& doc : section.parameters) WriteParameter(out, doc);
  }
  out << "# COLUMN SWITCHES\n\n"
      << Literal("One switch per optional column of the final table: switch, 0 or 1; REG_SZ; default \"0\". 1 puts "
                 "the column into the final table, in the order below, after entry_id and before the address "
                 "columns. Read at the start of every run; a value that is not a number counts as a failure of the "
                 "run. The last six name their columns EXT1 to EXT4, COM and PHP.")
      << "\n\n";
  for (int box = 0; box < kColumnBoxCount; ++box) {
    const ColumnBox& b = kColumnBoxes[box];
    out << "*" << Literal(b.ParameterName()) << "*\n\t" << Literal(ColumnDescription(box));
    if (!b.tag.empty()) out << Literal(fmt::format(" (column {})", b.caption));
    out << ".\n\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: corvane-parameters-page TEMPLATE\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "corvane-parameters-page: cannot read " << argv[1] << "\n";
    return 1;
  }
  try {
    for (std::string line; std::getline(in, line);) {
      if (line == "@PARAMETERS@") {
        WriteReference(std::cout);
      } else {
        std::cout << line << "\n";
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "corvane-parameters-page: " << e.what() << "\n";
    return 1;
  }
  return std::cout.flush() ? 0 : 1;
}
