// The one-line status `systemctl status` shows for the service: sent to
// systemd's notification socket ($NOTIFY_SOCKET, which the unit opens with
// NotifyAccess=main); without that socket nothing happens.
#pragma once

#include <string>

namespace corvane::ntservice {

// Publishes `text` (line breaks become blanks) as the service's status.
// Never fails: a status that cannot be sent is dropped.
void PublishStatus(const std::string& text);

}  // namespace corvane::ntservice
