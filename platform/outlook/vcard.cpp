#include "platform/outlook/vcard.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <vector>

#include "platform/outlook/outlook.h"

namespace corvane::outlook {
namespace {

using P = ContactProperty;

// The parameter that marks a line whose line breaks were CR LF (a vCard
// escape "\n" stands for one line break; this keeps CR LF exact).
constexpr std::string_view kCrLfParameter = "X-CORVANE-EOL=CRLF";

// Single-valued properties, in the order they are written.
struct TextLine {
  std::string_view name;
  P property;
};
constexpr std::array<TextLine, 11> kTextLines = {{
    {"TITLE", P::JobTitle},
    {"URL", P::BusinessHomePage},
    {"X-CORVANE-INITIALS", P::Initials},
    {"X-CORVANE-ACCOUNT", P::Account},
    {"X-CORVANE-OFFICE", P::OfficeLocation},
    {"X-CORVANE-MANAGER", P::ManagerName},
    {"X-CORVANE-ASSISTANT", P::AssistantName},
    {"X-CORVANE-EMAIL1-TYPE", P::Email1AddressType},
    {"X-CORVANE-USER1", P::User1},
    {"X-CORVANE-USER2", P::User2},
    {"X-CORVANE-USER3", P::User3},
}};
constexpr TextLine kUser4Line{"X-CORVANE-USER4", P::User4};

// E-mail addresses and telephone numbers: one line each, told apart by
// their group name ("mobile.TEL"); the types say what they are to clients.
struct TypedLine {
  std::string_view group;
  std::string_view name;
  std::string_view types;
  P property;
};
constexpr std::array<TypedLine, 13> kTypedLines = {{
    {"email1", "EMAIL", "INTERNET,PREF", P::Email1Address},
    {"email2", "EMAIL", "INTERNET", P::Email2Address},
    {"email3", "EMAIL", "INTERNET", P::Email3Address},
    {"business", "TEL", "WORK,VOICE", P::BusinessTelephoneNumber},
    {"business2", "TEL", "WORK,VOICE", P::Business2TelephoneNumber},
    {"home", "TEL", "HOME,VOICE", P::HomeTelephoneNumber},
    {"home2", "TEL", "HOME,VOICE", P::Home2TelephoneNumber},
    {"mobile", "TEL", "CELL,VOICE", P::MobileTelephoneNumber},
    {"pager", "TEL", "PAGER", P::PagerNumber},
    {"businessfax", "TEL", "WORK,FAX", P::BusinessFaxNumber},
    {"homefax", "TEL", "HOME,FAX", P::HomeFaxNumber},
    {"other", "TEL", "VOICE", P::OtherTelephoneNumber},
    {"assistant", "TEL", "VOICE,X-ASSISTANT", P::AssistantTelephoneNumber},
}};

// Postal addresses: post office box; extended; street; city; region;
// postal code; country. The home address has no post office box.
struct AddressLine {
  std::string_view group;
  std::string_view types;
  std::array<std::optional<P>, 7> parts;
};
const std::array<AddressLine, 2> kAddressLines = {{
    {"work",
     "WORK",
     {P::BusinessAddressPostOfficeBox, std::nullopt, P::BusinessAddressStreet, P::BusinessAddressCity,
      P::BusinessAddressState, P::BusinessAddressPostalCode, P::BusinessAddressCountry}},
    {"home",
     "HOME",
     {std::nullopt, std::nullopt, P::HomeAddressStreet, P::HomeAddressCity, P::HomeAddressState,
      P::HomeAddressPostalCode, P::HomeAddressCountry}},
}};

bool Equal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

void ToUpper(std::string& text) {
  for (auto& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
}

// -- writing ----------------------------------------------------------------

// True when every line break of the texts is CR LF (and there is one).
bool AllCrLf(const std::vector<std::string>& texts) {
  bool any = false;
  for (const auto& t : texts)
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] == '\r') {
        if (i + 1 >= t.size() || t[i + 1] != '\n') return false;
        any = true;
        ++i;
      } else if (t[i] == '\n') {
        return false;
      }
    }
  return any;
}

// A text value escaped: backslash, comma, semicolon, and each line break
// (CR LF, CR or LF) as "\n".
std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case ',': out += "\\,"; break;
      case ';': out += "\\;"; break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "\\n";
        break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

// One content line, folded: no physical line longer than 75 octets, and
// never a break inside a UTF-8 character.
void AppendFolded(std::string& out, const std::string& line) {
  constexpr size_t kMax = 75;
  size_t pos = 0;
  size_t room = kMax;
  while (line.size() - pos > room) {
    size_t cut = pos + room;
    while (cut > pos + 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    out.append(line, pos, cut - pos);
    out += "\r\n ";
    pos = cut;
    room = kMax - 1;  // the leading blank counts
  }
  out.append(line, pos, std::string::npos);
  out += "\r\n";
}

// "group.NAME;params:value" for a value of one or more components.
void AppendLine(std::string& out, std::string_view group, std::string_view name, std::string params,
                const std::vector<std::string>& components) {
  std::string line;
  if (!group.empty()) {
    line += group;
    line += '.';
  }
  line += name;
  if (AllCrLf(components)) params += (params.empty() ? "" : ";") + std::string(kCrLfParameter);
  if (!params.empty()) line += ";" + params;
  line += ':';
  for (size_t i = 0; i < components.size(); ++i) {
    if (i) line += ';';
    line += Escape(components[i]);
  }
  AppendFolded(out, line);
}

bool AnyNonEmpty(const std::vector<std::string>& values) {
  return std::any_of(values.begin(), values.end(), [](const std::string& v) { return !v.empty(); });
}

// A parameter value: as it is, or quoted when it holds ";", ":" or ",".
std::string ParameterValue(const std::string& value) {
  for (unsigned char c : value)
    if (c == '"' || (c < 0x20 && c != '\t') || c == 0x7F)
      throw StoreError(kErrNoSupport, "A user property named \"" + value + "\" cannot be stored in a vCard.");
  if (value.find_first_of(";:,") != std::string::npos) return "\"" + value + "\"";
  return value;
}

// -- reading ------------------------------------------------------------------

struct ContentLine {
  std::string raw;  // the unfolded line as read
  std::string group, name;
  std::vector<std::pair<std::string, std::string>> params;  // upper-case name, value
  std::string value;                                        // still escaped
};

// Splits "a;b\;c" at unescaped semicolons and unescapes each part.
std::vector<std::string> Components(const std::string& value, bool crlf) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\\' && i + 1 < value.size()) {
      char n = value[++i];
      if (n == 'n' || n == 'N') {
        parts.back() += crlf ? "\r\n" : "\n";
      } else if (n == '\\' || n == ',' || n == ';') {
        parts.back() += n;
      } else {
        parts.back() += '\\';
        parts.back() += n;
      }
    } else if (c == ';') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

std::optional<ContentLine> ParseLine(const std::string& raw) {
  ContentLine line;
  line.raw = raw;
  size_t i = 0;
  std::string head;
  while (i < raw.size() && raw[i] != ';' && raw[i] != ':') head += raw[i++];
  if (i == raw.size()) return std::nullopt;
  if (size_t dot = head.find('.'); dot != std::string::npos) {
    line.group = head.substr(0, dot);
    head = head.substr(dot + 1);
  }
  line.name = head;
  ToUpper(line.name);
  while (i < raw.size() && raw[i] == ';') {
    ++i;
    std::string param;
    bool quoted = false;
    while (i < raw.size() && (quoted || (raw[i] != ';' && raw[i] != ':'))) {
      if (raw[i] == '"') quoted = !quoted;
      param += raw[i++];
    }
    std::string key, val;
    if (size_t eq = param.find('='); eq != std::string::npos) {
      key = param.substr(0, eq);
      val = param.substr(eq + 1);
    } else {
      key = "TYPE";  // a bare type, as older cards write them
      val = param;
    }
    std::erase(val, '"');
    ToUpper(key);
    line.params.emplace_back(key, val);
  }
  if (i == raw.size()) return std::nullopt;
  line.value = raw.substr(i + 1);
  return line;
}

bool HasCrLfMark(const ContentLine& line) {
  for (const auto& [k, v] : line.params)
    if (Equal(k + "=" + v, kCrLfParameter)) return true;
  return false;
}

std::set<std::string> Types(const ContentLine& line) {
  std::set<std::string> types;
  for (const auto& [k, v] : line.params) {
    if (k != "TYPE") continue;
    size_t start = 0;
    for (;;) {
      size_t comma = v.find(',', start);
      std::string t = v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      ToUpper(t);
      types.insert(t);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return types;
}

// The slot of a telephone line that carries none of our group names.
std::vector<P> TelephoneSlots(const std::set<std::string>& t) {
  if (t.count("CELL")) return {P::MobileTelephoneNumber};
  if (t.count("PAGER")) return {P::PagerNumber};
  if (t.count("FAX")) return {t.count("HOME") ? P::HomeFaxNumber : P::BusinessFaxNumber};
  if (t.count("X-ASSISTANT")) return {P::AssistantTelephoneNumber};
  if (t.count("HOME")) return {P::HomeTelephoneNumber, P::Home2TelephoneNumber};
  if (t.count("WORK")) return {P::BusinessTelephoneNumber, P::Business2TelephoneNumber};
  return {P::OtherTelephoneNumber};
}

// Unfolded content lines: a line that starts with a blank or a tab
// continues the one before. CR LF and LF both end a line.
std::vector<std::string> Unfold(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string_view physical = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    if (!physical.empty() && (physical[0] == ' ' || physical[0] == '\t') && !lines.empty()) {
      lines.back().append(physical.substr(1));
    } else if (!physical.empty()) {
      lines.emplace_back(physical);
    }
  }
  return lines;
}

}  // namespace

std::string WriteVCard(const ContactRecord& r, const std::string& uid) {
  std::string out = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  bool ownUid = std::any_of(r.preserved.begin(), r.preserved.end(), [](const std::string& l) {
    auto parsed = ParseLine(l);
    return parsed && parsed->name == "UID";
  });
  if (!ownUid) AppendLine(out, "", "UID", "", {uid});
  AppendLine(out, "", "FN", "", {r.Get(P::FullName)});
  AppendLine(out, "", "N", "", {r.Get(P::LastName), r.Get(P::FirstName), "", r.Get(P::Title), ""});
  std::vector<std::string> org{r.Get(P::CompanyName), r.Get(P::Department)};
  if (AnyNonEmpty(org)) AppendLine(out, "", "ORG", "", org);
  for (const auto& line : kTypedLines)
    if (!r.Get(line.property).empty())
      AppendLine(out, line.group, line.name, "TYPE=" + std::string(line.types), {r.Get(line.property)});
  for (const auto& adr : kAddressLines) {
    std::vector<std::string> parts;
    for (const auto& p : adr.parts) parts.push_back(p ? r.Get(*p) : "");
    if (AnyNonEmpty(parts)) AppendLine(out, adr.group, "ADR", "TYPE=" + std::string(adr.types), parts);
  }
  auto text = [&](const TextLine& line) {
    if (!r.Get(line.property).empty()) AppendLine(out, "", line.name, "", {r.Get(line.property)});
  };
  for (const auto& line : kTextLines) text(line);
  text(kUser4Line);
  for (const auto& [name, value] : r.userProperties)
    AppendLine(out, "", "X-CORVANE-USERPROPERTY", "X-NAME=" + ParameterValue(name), {value});
  if (r.messageClass != kContactMessageClass) AppendLine(out, "", "X-CORVANE-MESSAGE-CLASS", "", {r.messageClass});
  for (const auto& line : r.preserved) AppendFolded(out, line);
  out += "END:VCARD\r\n";
  return out;
}

std::optional<ContactRecord> ReadVCard(std::string_view text, const std::string& uid) {
  std::vector<std::string> lines = Unfold(text);
  if (lines.size() < 2 || !Equal(lines.front(), "BEGIN:VCARD") || !Equal(lines.back(), "END:VCARD"))
    return std::nullopt;
  ContactRecord r;
  std::set<P> seen;  // properties already taken from a line
  // Takes a value for `p` unless an earlier line gave it one.
  auto take = [&](P p, const std::string& value) {
    if (!seen.insert(p).second) return false;
    r.Get(p) = value;
    return true;
  };
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    auto line = ParseLine(lines[i]);
    if (!line) continue;  // not a content line: nothing to keep
    const std::string& name = line->name;
    auto parts = Components(line->value, HasCrLfMark(*line));
    // A single text value holds its semicolons escaped; a bare one from
    // elsewhere is kept as a character.
    std::string single = parts[0];
    for (size_t k = 1; k < parts.size(); ++k) single += ";" + parts[k];
    bool used = false;
    if (name == "VERSION") {
      used = true;
    } else if (name == "UID") {
      used = single == uid;
    } else if (name == "FN") {
      used = take(P::FullName, single);
    } else if (name == "N") {
      parts.resize(5);
      used = !seen.count(P::LastName);
      if (used) {
        take(P::LastName, parts[0]);
        take(P::FirstName, parts[1]);
        take(P::Title, parts[3]);
      }
    } else if (name == "ORG") {
      parts.resize(2);
      used = !seen.count(P::CompanyName) && take(P::CompanyName, parts[0]) && take(P::Department, parts[1]);
    } else if (name == "X-CORVANE-USERPROPERTY") {
      for (const auto& [k, v] : line->params)
        if (k == "X-NAME" && !r.FindUserProperty(v)) {
          r.userProperties.emplace_back(v, single);
          used = true;
        }
    } else if (name == "X-CORVANE-MESSAGE-CLASS") {
      r.messageClass = single;
      used = true;
    } else if (name == "EMAIL" || name == "TEL") {
      for (const auto& t : kTypedLines)
        if (t.name == name && Equal(line->group, t.group)) used = take(t.property, single);
      if (!used && line->group.empty()) {
        std::vector<P> slots = name == "EMAIL"
                                   ? std::vector<P>{P::Email1Address, P::Email2Address, P::Email3Address}
                                   : TelephoneSlots(Types(*line));
        for (P slot : slots)
          if (!used) used = take(slot, single);
      }
    } else if (name == "ADR") {
      parts.resize(7);
      const AddressLine* target = nullptr;
      for (const auto& a : kAddressLines)
        if (Equal(line->group, a.group)) target = &a;
      if (!target && line->group.empty()) target = &kAddressLines[Types(*line).count("HOME") ? 1 : 0];
      if (target && !seen.count(*target->parts[2])) {
        for (size_t k = 0; k < 7; ++k)
          if (target->parts[k]) take(*target->parts[k], parts[k]);
        used = true;
      }
    } else {
      for (const auto& t : kTextLines)
        if (name == t.name) used = take(t.property, single);
      if (name == kUser4Line.name) used = take(kUser4Line.property, single);
    }
    if (!used) r.preserved.push_back(line->raw);
  }
  return r;
}

}  // namespace corvane::outlook
