// The two kinds of group directory (internal to the layer).
#pragma once

#include <memory>
#include <string>

#include "platform/dirgroup/group_directory.h"

namespace corvane::dirgroup {

std::unique_ptr<GroupDirectory> OpenLdapGroupDirectory(const std::string& server);
std::unique_ptr<GroupDirectory> OpenLdifGroupDirectory(const std::string& path);

// The kind a group's object classes make it; false when neither.
bool GroupKindOf(const std::vector<std::string>* object_classes, GroupKind& kind);

// An existing entry (objectClass, member, sAMAccountName, displayName) as a group; throws
// DirectoryError when it is neither kind of group.
GroupEntry AsGroup(const mapi::DirEntry& entry);

}  // namespace corvane::dirgroup
