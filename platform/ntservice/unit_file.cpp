#include "platform/ntservice/unit_file.h"

#include <fstream>
#include <sstream>

#include <fmt/format.h>

namespace corvane::ntservice {
namespace {

// A value inside double quotes on a unit line: quote, backslash and the
// specifier character '%' are escaped.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

// A bare path value (WorkingDirectory=): only '%' needs escaping.
std::string Bare(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

}  // namespace

std::string UnitFileText(const UnitSettings& s) {
  return fmt::format(
      "# Written by CorvaneService -install; removed by CorvaneService -uninstall.\n"
      "[Unit]\n"
      "Description={}\n"
      "Wants=network-online.target\n"
      "After=network-online.target\n"
      "# At most 5 starts in an hour: a configuration that keeps failing stops the retries.\n"
      "StartLimitIntervalSec=3600\n"
      "StartLimitBurst=5\n"
      "\n"
      "[Service]\n"
      "Type=simple\n"
      "ExecStart={}\n"
      "Environment={}\n"
      "# The GAL reader library writes its log file into the working directory.\n"
      "WorkingDirectory={}\n"
      "# Stop, pause and continue arrive as SIGTERM, SIGUSR1 and SIGUSR2.\n"
      "KillSignal=SIGTERM\n"
      "TimeoutStopSec=120\n"
      "Restart=on-failure\n"
      "RestartSec=300\n"
      "# The service ends itself by design; restarting cannot help: 78 a required\n"
      "# setting is missing, 69 the address list had no entries or a run met 1000 failures.\n"
      "RestartPreventExitStatus=78 69\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n",
      s.displayName, Quoted(s.program.string()), Quoted("CORVANE_HOME=" + s.home.string()), Bare(s.home.string()));
}

}  // namespace corvane::ntservice

namespace corvane::ntservice {

std::string UnitFileUser(std::string_view text) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
  };
  std::string user;
  bool inService = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.starts_with('[')) {
      inService = line == "[Service]";
    } else if (inService && line.starts_with("User=")) {
      user = trim(line.substr(5));  // a later line overrides an earlier one, as in systemd
    }
  }
  return user;
}

std::string ServiceLogonAccount(const std::filesystem::path& unitFile) {
  std::ifstream in(unitFile, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  const std::string user = UnitFileUser(text.str());
  return user.empty() || user == "root" || user == "0" ? "LocalSystem" : user;
}

}  // namespace corvane::ntservice
