#include "service/export/profile_check.h"

#include <strings.h>

#include <fmt/format.h>

#include "platform/mapi/profile_store.h"

namespace corvane::service {

std::string ProfileMismatchWarning(const std::string& mailbox, const std::string& server) {
  std::optional<mapi::ExchangeProfile> stored;
  try {
    stored = mapi::ReadExchangeProfile("TWCorvane");
  } catch (const std::exception&) {
    return {};  // the library's logon reports an unreadable store
  }
  if (!stored || (stored->server == server && strcasecmp(stored->mailbox.c_str(), mailbox.c_str()) == 0)) return {};
  return fmt::format(
      "Warning: mail profile 'TWCorvane' keeps server {} and mailbox {}; the parameters say server {} and mailbox {}. "
      "The logon uses the profile's. To use the parameters, remove the profile (corvane-reg delete "
      "HKLM\\{}\\TWCorvane /f); the next run creates it afresh.",
      stored->server, stored->mailbox, server, mailbox, mapi::kProfilesKey);
}

}  // namespace corvane::service
