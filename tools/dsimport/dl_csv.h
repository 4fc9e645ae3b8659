// The distribution-list import file: a header line, then one line per
// member, "DL,<list name>,<proxy address list>". The third column runs to
// the end of the line, since a proxy address list holds commas of its own
// (its items are "type:address{;}" joined with ",").
#pragma once

#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::dsimport {

// A file that is not such a list; the message names the line.
class CsvError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct MemberLine {
  size_t line = 0;                     // line number in the file
  std::vector<std::string> addresses;  // items without their end marks, primary "SMTP:" first
};

struct DistListFile {
  std::string list_name;  // empty when the file lists no member
  std::vector<MemberLine> members;
};

// Reads the file; `name` names it in messages. Lines may end in CR LF or
// LF; blank lines are skipped. Every member line must name the same list.
DistListFile ParseDistList(std::istream& in, const std::string& name);
DistListFile ReadDistList(const std::string& path);

// The items of a proxy address list in the order a member is looked up
// by: the primary address ("SMTP:") first, then the others as listed. An
// item cut short (no end mark) at the end of the text counts as well.
std::vector<std::string> ProxyAddressItems(std::string_view text);

}  // namespace corvane::dsimport
