#include "platform/ntservice/systemd_status.h"

#include <systemd/sd-daemon.h>

namespace corvane::ntservice {

void PublishStatus(const std::string& text) {
  std::string line = "STATUS=" + text;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  (void)sd_notify(0, line.c_str());
}

}  // namespace corvane::ntservice
