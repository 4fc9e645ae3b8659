#include "bench/export/bulk_load.h"

#include <fmt/format.h>
#include <strings.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string_view>

#include "platform/ado/ado.h"

namespace fs = std::filesystem;

namespace corvane::bench {

namespace {

constexpr std::array<std::string_view, 20> kAttributes = {
    "displayName", "givenName",     "sn",        "initials",  "title",
    "company",     "department",    "physicalDeliveryOfficeName", "telephoneNumber", "mobile",
    "facsimileTelephoneNumber",     "streetAddress", "l",         "st",        "postalCode",
    "co",          "mail",          "mailNickname",  "sAMAccountName", "proxyAddresses"};

std::string Base64Decode(std::string_view in) {
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (char c : in) {
    int d;
    if (c >= 'A' && c <= 'Z') d = c - 'A';
    else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
    else if (c >= '0' && c <= '9') d = c - '0' + 52;
    else if (c == '+') d = 62;
    else if (c == '/') d = 63;
    else continue;
    value = (value << 6) | static_cast<unsigned>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

std::string CsvField(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + '"';
}

// LDIF to CSV: one line per entry that has a mail address (continuation
// lines joined, base64 values decoded, several values joined with ';').
long LdifToCsv(const fs::path& ldif, const fs::path& csv) {
  std::ifstream in(ldif);
  std::ofstream out(csv);
  std::map<std::string, std::string, bool (*)(const std::string&, const std::string&)> entry(
      [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
  long rows = 0;
  std::string dn;
  auto flush = [&] {
    if (!dn.empty() && entry.count("mail")) {
      std::string line = CsvField(dn);
      for (auto name : kAttributes) {
        auto it = entry.find(std::string(name));
        line += ',' + CsvField(it == entry.end() ? "" : it->second);
      }
      out << line << '\n';
      ++rows;
    }
    dn.clear();
    entry.clear();
  };
  std::string line, logical;
  auto take = [&] {
    if (logical.empty()) return;
    const size_t colon = logical.find(':');
    if (colon == std::string::npos) return;
    std::string name = logical.substr(0, colon);
    std::string value;
    if (colon + 1 < logical.size() && logical[colon + 1] == ':')
      value = Base64Decode(std::string_view(logical).substr(colon + 2));
    else
      value = logical.substr(logical.find_first_not_of(' ', colon + 1) == std::string::npos
                                 ? logical.size()
                                 : logical.find_first_not_of(' ', colon + 1));
    if (strcasecmp(name.c_str(), "dn") == 0) {
      dn = value;
      return;
    }
    std::string& slot = entry[name];
    slot += slot.empty() ? value : ";" + value;
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == ' ') {
      logical += line.substr(1);
      continue;
    }
    take();
    logical.clear();
    if (line.empty()) flush();
    else if (line[0] != '#') logical = line;
  }
  take();
  flush();
  return rows;
}

// The value of `key` in an ODBC connection string, ignoring case.
std::string Attribute(const std::string& cs, const std::string& key) {
  size_t start = 0;
  while (start < cs.size()) {
    size_t end = cs.find(';', start);
    if (end == std::string::npos) end = cs.size();
    const std::string part = cs.substr(start, end - start);
    const size_t eq = part.find('=');
    if (eq != std::string::npos && strcasecmp(part.substr(0, eq).c_str(), key.c_str()) == 0)
      return part.substr(eq + 1);
    start = end + 1;
  }
  return "";
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

BulkFigures BulkLoad(const std::string& kind, const std::string& connectionString, const fs::path& ldif,
                     const fs::path& work, const std::string& table) {
  const auto start = std::chrono::steady_clock::now();
  const fs::path csv = work / "bulk.csv";
  LdifToCsv(ldif, csv);
  std::string columns = "dn text";
  for (auto name : kAttributes) columns += fmt::format(", {} text", name);
  const std::string create = fmt::format("create table {} ({})", table, columns);
  std::string command;
  if (kind == "sqlite") {
    const std::string db = Attribute(connectionString, "Database");
    command = fmt::format("sqlite3 {} 'pragma journal_mode=wal;' 'drop table if exists {};' {} {} >/dev/null",
                          ShellQuoted(db), table, ShellQuoted(create + ";"),
                          ShellQuoted(".import --csv " + csv.string() + " " + table));
  } else if (kind == "postgres") {
    command = fmt::format(
        "PGPASSWORD={} psql -q -X -h {} -p {} -U {} -d {} -c 'drop table if exists {}' -c {} -c {} >/dev/null",
        ShellQuoted(Attribute(connectionString, "Pwd")), ShellQuoted(Attribute(connectionString, "Server")),
        ShellQuoted(Attribute(connectionString, "Port")), ShellQuoted(Attribute(connectionString, "Uid")),
        ShellQuoted(Attribute(connectionString, "Database")), table, ShellQuoted(create),
        ShellQuoted("\\copy " + table + " from '" + csv.string() + "' with (format csv)"));
  } else {
    command = fmt::format(
        "mariadb --local-infile=1 -h {} -P {} -u {} -p{} {} -e {} >/dev/null",
        ShellQuoted(Attribute(connectionString, "Server")), ShellQuoted(Attribute(connectionString, "Port")),
        ShellQuoted(Attribute(connectionString, "Uid")), ShellQuoted(Attribute(connectionString, "Pwd")),
        ShellQuoted(Attribute(connectionString, "Database")),
        ShellQuoted(fmt::format("drop table if exists {}; {}; load data local infile '{}' into table {} character set "
                                "utf8mb4 fields terminated by ',' optionally enclosed by '\"' escaped by '' lines "
                                "terminated by '\\n'",
                                table, create, csv.string(), table)));
  }
  BulkFigures f;
  const int status = std::system(command.c_str());
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  fs::remove(csv);
  if (status != 0) return f;
  try {
    auto c = ado::CreateConnection();
    c->Open(connectionString);
    f.rows = std::stol(c->Execute("select count(*) from " + table)->GetValue(0).value_or("-1"));
    c->Execute("drop table " + table);
  } catch (const std::exception&) {
  }
  return f;
}

}  // namespace corvane::bench
