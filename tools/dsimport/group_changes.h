// What it takes to make a group hold exactly the wanted members: the
// members to add and to remove, sent as change records of at most 1000
// values each (Active Directory refuses very large modifications), adds
// before removals so a groupOfNames never passes through empty.
#pragma once

#include <string>
#include <vector>

#include "platform/dirgroup/group_directory.h"

namespace corvane::dsimport {

inline constexpr size_t kValuesPerRequest = 1000;

struct GroupChanges {
  bool create = false;
  std::vector<std::string> added, removed;  // member DNs
  size_t unchanged = 0;
  std::vector<dirgroup::ChangeRecord> records;
  std::vector<std::string> steps;  // what each record does, in words
};

// `wanted`: the member DNs, each once. A new group is of `kind`, named
// `list_name` in its cn.
GroupChanges PlanGroupChanges(const std::string& dn, const std::string& list_name, dirgroup::GroupKind kind,
                              const dirgroup::GroupEntry& current, const std::vector<std::string>& wanted,
                              size_t per_request = kValuesPerRequest);

// Sends the records in order. Throws dirgroup::DirectoryError at the
// first refusal, saying which requests took effect, which one failed and
// which were not sent.
void ApplyGroupChanges(dirgroup::GroupDirectory& dir, const GroupChanges& changes);

}  // namespace corvane::dsimport
