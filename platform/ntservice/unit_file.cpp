#include "platform/ntservice/unit_file.h"

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
      "# 78: a required setting is missing; restarting cannot help.\n"
      "RestartPreventExitStatus=78\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n",
      s.displayName, Quoted(s.program.string()), Quoted("CORVANE_HOME=" + s.home.string()), Bare(s.home.string()));
}

}  // namespace corvane::ntservice
