// Where the mail profiles live (keys of the registry layer, so they outlive
// the process) and the one reading of them that callers outside the MAPI
// layer need: the mailbox and server a profile's Exchange service was
// configured with. Depends on the registry layer only.
#pragma once

#include <optional>
#include <string>

namespace corvane::mapi {

inline constexpr const char* kProfilesKey = "SOFTWARE\\Corvane\\MAPI\\Profiles";

struct ExchangeProfile {
  std::string mailbox;  // PR_PROFILE_UNRESOLVED_NAME (6607001E)
  std::string server;   // PR_PROFILE_UNRESOLVED_SERVER (6608001E)
};

// The mailbox and server of the first Exchange service ("MSEMS") of
// `profile` that has both, as a logon uses them; nullopt when the profile
// does not exist or has no such service. Throws registry::RegistryError
// when the store cannot be read.
std::optional<ExchangeProfile> ReadExchangeProfile(const std::string& profile);

}  // namespace corvane::mapi
