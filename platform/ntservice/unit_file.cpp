#include "platform/ntservice/unit_file.h"

#include <fmt/format.h>

namespace corvane::ntservice {
namespace {

bool Plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
         c == '.';
}

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

std::string SystemdEscape(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c == '/') {
      out += '-';
    } else if (Plain(c) && !(i == 0 && c == '.')) {
      out += c;
    } else {
      out += fmt::format("\\x{:02x}", static_cast<unsigned char>(c));
    }
  }
  return out;
}

std::string UnitFileName(std::string_view serviceName) { return SystemdEscape(serviceName) + ".service"; }

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
