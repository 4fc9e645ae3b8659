#include "tools/dsimport/dl_csv.h"

#include <fmt/format.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace corvane::dsimport {
namespace {

constexpr std::string_view kHeader = "Obj-Class, Directory Name, members";
constexpr std::string_view kEndMark = "{;}";

// The header without blanks, in lower case, so that spacing and case of a
// hand-made file do not matter.
std::string Squeezed(std::string_view text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

// "type:" at the start: letters, digits, '-' or '_', then a colon.
bool StartsWithAddressType(std::string_view text) {
  size_t n = 0;
  while (n < text.size() && (std::isalnum(static_cast<unsigned char>(text[n])) || text[n] == '-' || text[n] == '_')) ++n;
  return n > 0 && n < text.size() && text[n] == ':';
}

}  // namespace

std::vector<std::string> ProxyAddressItems(std::string_view text) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t mark = text.find(kEndMark, pos);
    std::string_view item = text.substr(pos, mark == std::string_view::npos ? std::string_view::npos : mark - pos);
    if (!item.empty()) items.emplace_back(item);
    if (mark == std::string_view::npos) break;
    pos = mark + kEndMark.size();
    if (pos < text.size() && text[pos] == ',') ++pos;
  }
  std::stable_partition(items.begin(), items.end(), [](const std::string& a) { return a.rfind("SMTP:", 0) == 0; });
  return items;
}

DistListFile ParseDistList(std::istream& in, const std::string& name) {
  DistListFile file;
  std::string line;
  size_t number = 0, name_line = 0;
  bool header = false;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte order mark
    if (line.empty()) continue;
    auto fail = [&](const std::string& what) { return CsvError(fmt::format("{}, line {}: {}", name, number, what)); };
    if (!header) {
      if (Squeezed(line) != Squeezed(kHeader)) throw fail(fmt::format("expected the header \"{}\"", kHeader));
      header = true;
      continue;
    }
    size_t first = line.find(','), second = first == std::string::npos ? first : line.find(',', first + 1);
    if (second == std::string::npos) throw fail("expected DL,<list name>,<proxy addresses>");
    if (strcasecmp(line.substr(0, first).c_str(), "DL") != 0)
      throw fail(fmt::format("the first column is \"{}\", not DL", line.substr(0, first)));
    std::string list = line.substr(first + 1, second - first - 1);
    std::string_view members = std::string_view(line).substr(second + 1);
    if (list.empty()) throw fail("the list name is empty");
    if (members.empty()) throw fail("the member has no proxy addresses");
    if (!StartsWithAddressType(members))
      throw fail(fmt::format("the members column \"{}\" does not begin with an address type such as \"SMTP:\"; a list "
                             "name that holds a comma cannot be told apart from the members, so the list name must "
                             "not hold one",
                             members.substr(0, 60)));
    if (file.members.empty()) {
      file.list_name = list;
      name_line = number;
    } else if (list != file.list_name) {
      throw fail(fmt::format("names the list \"{}\", but line {} named \"{}\"; a file holds one list", list, name_line,
                             file.list_name));
    }
    file.members.push_back({number, ProxyAddressItems(members)});
  }
  if (in.bad()) throw CsvError(fmt::format("{}: cannot be read", name));
  if (!header) throw CsvError(fmt::format("{}: the file is empty; expected the header \"{}\"", name, kHeader));
  return file;
}

DistListFile ReadDistList(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CsvError(fmt::format("cannot open the list file {}", path));
  return ParseDistList(in, path);
}

}  // namespace corvane::dsimport
