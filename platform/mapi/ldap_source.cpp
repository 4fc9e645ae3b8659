// Placeholder until the LDAP source lands.
#include <fmt/format.h>

#include "platform/mapi/directory.h"
#include "platform/mapi/last_error.h"

namespace corvane::mapi {
HRESULT OpenLdapSource(const std::string& server, std::unique_ptr<DirectorySource>&) {
  return Fail(MAPI_E_NO_SUPPORT, fmt::format("LDAP directories are not available yet ({})", server));
}
}  // namespace corvane::mapi
