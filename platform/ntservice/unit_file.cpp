#include "platform/ntservice/unit_file.h"

#include <fstream>
#include <initializer_list>
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

bool Below(const std::filesystem::path& path, std::initializer_list<std::string_view> folders) {
  const std::string text = path.lexically_normal().string();
  for (std::string_view folder : folders) {
    if (text.size() > folder.size() && text.compare(0, folder.size(), folder) == 0 && text[folder.size()] == '/')
      return true;
  }
  return false;
}

// The restrictions of the [Service] section: the service writes only in its home.
std::string Hardening(const UnitSettings& s) {
  std::string text = fmt::format(
      "# The service writes only in its home; keep the SQLite database and the\n"
      "# distribution list file there (or add ReadWritePaths= with systemctl edit).\n"
      "NoNewPrivileges=yes\n"
      "# What it writes is its user's only, unless it sets a mode itself.\n"
      "UMask=0077\n"
      "ProtectSystem=strict\n"
      "ReadWritePaths={}\n",
      Quoted(s.home.string()));
  if (!Below(s.home, {"/tmp", "/var/tmp"})) text += "PrivateTmp=yes\n";
  const bool inAHome = Below(s.home, {"/home", "/root", "/run/user"}) || Below(s.program, {"/home", "/root", "/run/user"});
  text += inAHome ? "ProtectHome=read-only\n" : "ProtectHome=yes\n";
  return text;
}

}  // namespace

std::string UnitFileText(const UnitSettings& s) {
  const std::string user = s.user.empty() ? "" : "User=" + s.user + "\n";
  return fmt::format(
      "{}"
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
      "# The status line of `systemctl status` comes from the program (sd_notify STATUS=).\n"
      "NotifyAccess=main\n"
      "{}"
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
      "{}"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n",
      s.packaged ? "# Installed by the corvane package. Change it with: systemctl edit 'Corvane\\x20Service.service'\n"
                 : "# Written by CorvaneService -install; removed by CorvaneService -uninstall.\n",
      s.displayName, user, Quoted(s.program.string()), Quoted("CORVANE_HOME=" + s.home.string()),
      Bare(s.home.string()), Hardening(s));
}


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
