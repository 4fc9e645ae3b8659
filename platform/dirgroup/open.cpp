#include <strings.h>

#include <utility>

#include <fmt/format.h>

#include "platform/dirgroup/backends.h"
#include "platform/mapi/directory.h"

namespace corvane::dirgroup {

std::unique_ptr<GroupDirectory> GroupDirectory::Open(const std::string& server) {
  if (server.empty()) throw DirectoryError("no directory server is named");
  return mapi::NamesLdifFile(server) ? OpenLdifGroupDirectory(server) : OpenLdapGroupDirectory(server);
}

bool GroupKindOf(const std::vector<std::string>* object_classes, GroupKind& kind) {
  if (!object_classes) return false;
  constexpr std::pair<const char*, GroupKind> kClasses[] = {{"group", GroupKind::ActiveDirectory},
                                                             {"groupOfNames", GroupKind::GroupOfNames}};
  for (const auto& [name, k] : kClasses) {
    for (const auto& c : *object_classes) {
      if (strcasecmp(c.c_str(), name) == 0) {
        kind = k;
        return true;
      }
    }
  }
  return false;
}

GroupEntry AsGroup(const mapi::DirEntry& entry) {
  GroupEntry group;
  group.exists = true;
  if (!GroupKindOf(entry.Get("objectclass"), group.kind))
    throw DirectoryError(fmt::format("\"{}\" exists but is not a group (neither group nor groupOfNames)", entry.dn));
  if (const auto* members = entry.Get("member")) group.members = *members;
  if (const auto* name = entry.Get("samaccountname"); name && !name->empty()) group.account_name = name->front();
  if (const auto* name = entry.Get("displayname"); name && !name->empty()) group.display_name = name->front();
  return group;
}

}  // namespace corvane::dirgroup
