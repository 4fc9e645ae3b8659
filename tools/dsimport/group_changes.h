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

// The account name (sAMAccountName) an Active Directory group of the list
// gets: the list name without the characters AD refuses in it
// ("/\\[]:;|=,+*?<>@ and control characters), blanks run together, at most
// 64 characters, no blank or period at its end. Empty when nothing is left.
std::string GroupAccountName(const std::string& list_name);

// Whether an account name is one Active Directory made up itself for a
// group added without one ("$" and hexadecimal digits, e.g.
// "$E20AAE98-1B3CD4E7A6F2"): a group keeps it only until dsimport names it.
bool IsGeneratedAccountName(const std::string& account_name);

// `wanted`: the member DNs, each once. A new group is of `kind`, named
// `list_name` in its cn. An Active Directory group gets the account name
// `account_name` and the display name `list_name`, when it is created and
// when it lacks them (or has a generated account name); a name an
// administrator gave it is never changed.
GroupChanges PlanGroupChanges(const std::string& dn, const std::string& list_name, dirgroup::GroupKind kind,
                              const dirgroup::GroupEntry& current, const std::vector<std::string>& wanted,
                              size_t per_request = kValuesPerRequest, const std::string& account_name = {});

// Sends the records in order. Throws dirgroup::DirectoryError at the
// first refusal, saying which requests took effect, which one failed and
// which were not sent.
void ApplyGroupChanges(dirgroup::GroupDirectory& dir, const GroupChanges& changes);

}  // namespace corvane::dsimport
