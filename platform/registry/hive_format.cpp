#include "platform/registry/hive_format.h"

#include <cctype>
#include <cstdio>
#include <fmt/format.h>

namespace corvane::registry {

namespace {

[[noreturn]] void Fail(const std::string& source, int line, const std::string& what) {
  throw RegistryError(fmt::format("{}:{}: {}", source, line, what));
}

// Reads a quoted string starting at text[pos] == '"'; leaves pos after the
// closing quote.
std::string ReadQuoted(std::string_view text, size_t& pos, const std::string& source, int line) {
  std::string out;
  ++pos;
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') return out;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos >= text.size()) break;
    char e = text[pos++];
    switch (e) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      default: Fail(source, line, fmt::format("unknown escape \\{} in a quoted text", e));
    }
  }
  Fail(source, line, "quoted text has no closing quote");
}

void WriteQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  out += '"';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

HiveKey* HiveContents::FindKey(std::string_view path) {
  for (auto& k : keys)
    if (EqualsNoCase(k.path, path)) return &k;
  return nullptr;
}

const HiveKey* HiveContents::FindKey(std::string_view path) const {
  for (const auto& k : keys)
    if (EqualsNoCase(k.path, path)) return &k;
  return nullptr;
}

HiveKey& HiveContents::FindOrAddKey(std::string_view path) {
  if (HiveKey* k = FindKey(path)) return *k;
  keys.push_back(HiveKey{std::string(path), {}});
  return keys.back();
}

HiveContents ParseHive(const std::string& text, const std::string& source) {
  HiveContents contents;
  HiveKey* current = nullptr;
  int lineNo = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line = Trim(std::string_view(text).substr(start, end - start));
    start = end + 1;
    ++lineNo;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) Fail(source, lineNo, "a key line must read [KEY\\PATH]");
      std::string_view path = line.substr(1, line.size() - 2);
      if (contents.FindKey(path)) Fail(source, lineNo, fmt::format("key [{}] appears twice", path));
      contents.keys.push_back(HiveKey{std::string(path), {}});
      current = &contents.keys.back();
      continue;
    }
    if (line.front() != '"') Fail(source, lineNo, "expected [KEY], \"Name\"=value, a comment or a blank line");
    if (!current) Fail(source, lineNo, "a value before the first [KEY] line");
    size_t pos = 0;
    std::string name = ReadQuoted(line, pos, source, lineNo);
    if (pos >= line.size() || line[pos] != '=') Fail(source, lineNo, "expected = after the value name");
    ++pos;
    std::string_view rest = line.substr(pos);
    Value value;
    if (rest.starts_with("dword:")) {
      std::string_view hex = rest.substr(6);
      if (hex.size() != 8) Fail(source, lineNo, "a dword needs exactly 8 hexadecimal digits");
      uint32_t n = 0;
      for (char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) Fail(source, lineNo, "a dword needs hexadecimal digits");
        n = n * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
      }
      value = Value::Number(n);
      pos = line.size();
    } else {
      ValueType type = ValueType::String;
      if (rest.starts_with("expand:")) {
        type = ValueType::ExpandString;
        pos += 7;
      }
      if (pos >= line.size() || line[pos] != '"') Fail(source, lineNo, "a value must be \"text\", expand:\"text\" or dword:XXXXXXXX");
      value = Value{type, ReadQuoted(line, pos, source, lineNo), 0};
    }
    if (!Trim(line.substr(pos)).empty()) Fail(source, lineNo, "unexpected text after the value");
    for (const auto& v : current->values)
      if (EqualsNoCase(v.name, name)) Fail(source, lineNo, fmt::format("value \"{}\" appears twice in its key", name));
    current->values.push_back(NamedValue{std::move(name), std::move(value)});
  }
  return contents;
}

std::string FormatHive(const HiveContents& contents) {
  std::string out =
      "; Corvane registry hive. One [KEY] line per key, then \"Name\"=value lines:\n"
      ";   \"text\"  expand:\"text\"  dword:0000000a   (in quotes: \\\\ \\\" \\n \\r \\t)\n";
  for (const auto& key : contents.keys) {
    out += "\n[" + key.path + "]\n";
    for (const auto& v : key.values) {
      WriteQuoted(out, v.name);
      out += '=';
      switch (v.value.type) {
        case ValueType::Dword: out += fmt::format("dword:{:08x}", v.value.dword); break;
        case ValueType::ExpandString: out += "expand:"; WriteQuoted(out, v.value.text); break;
        case ValueType::String: WriteQuoted(out, v.value.text); break;
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace corvane::registry
