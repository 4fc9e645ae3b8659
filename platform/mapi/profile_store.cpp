#include "platform/mapi/profile_store.h"

#include <strings.h>

#include "platform/registry/registry.h"

namespace corvane::mapi {

std::optional<ExchangeProfile> ReadExchangeProfile(const std::string& profile) {
  const registry::Hive hive = registry::Hive::Machine();
  // Service keys: <profile key>\Services\<uid as 32 hexadecimal digits>.
  const std::string prefix = std::string(kProfilesKey) + "\\" + profile + "\\Services\\";
  for (const auto& key : hive.Keys()) {
    if (key.size() != prefix.size() + 32 || strncasecmp(key.c_str(), prefix.c_str(), prefix.size()) != 0) continue;
    const auto name = hive.Get(key, "Service");
    if (!name || name->AsText() != "MSEMS") continue;
    const auto mailbox = hive.Get(key, "6607001E");
    const auto server = hive.Get(key, "6608001E");
    if (mailbox && server && !mailbox->AsText().empty() && !server->AsText().empty())
      return ExchangeProfile{mailbox->AsText(), server->AsText()};
  }
  return std::nullopt;
}

}  // namespace corvane::mapi
