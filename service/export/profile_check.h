// The mail profile "TWCorvane" keeps the mailbox and server it was created
// with (a second creation changes nothing), so a later change of the
// "Mailbox" or "Server" parameter does not reach the logon. The run says so.
#pragma once

#include <string>

namespace corvane::service {

// A warning naming both pairs when the stored profile's Exchange service
// has another server, or another mailbox (compared without regard to
// case), than the parameters; empty when they agree or the profile cannot
// be read.
std::string ProfileMismatchWarning(const std::string& mailbox, const std::string& server);

}  // namespace corvane::service
