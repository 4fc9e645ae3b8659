#include "tools/dsimport/group_changes.h"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_set>

namespace corvane::dsimport {
namespace {

using dirgroup::AttributeChange;
using dirgroup::ChangeRecord;

// Active Directory: a universal distribution group.
constexpr const char* kDistributionGroupType = "8";

// Appends modify records of `values` in chunks.
void AddChunks(GroupChanges& g, const std::string& dn, AttributeChange::Op op, const std::vector<std::string>& values,
               size_t from, size_t per_request) {
  const char* verb = op == AttributeChange::Op::Add ? "add" : "remove";
  for (size_t i = from; i < values.size(); i += per_request) {
    size_t end = std::min(values.size(), i + per_request);
    g.records.push_back({ChangeRecord::Type::Modify, dn,
                         {{op, "member", std::vector<std::string>(values.begin() + i, values.begin() + end)}}});
    g.steps.push_back(fmt::format("{} members {}-{} of {}", verb, i + 1, end, values.size()));
  }
}

}  // namespace

GroupChanges PlanGroupChanges(const std::string& dn, const std::string& list_name, dirgroup::GroupKind kind,
                              const dirgroup::GroupEntry& current, const std::vector<std::string>& wanted,
                              size_t per_request) {
  GroupChanges g;
  g.create = !current.exists;
  std::unordered_set<std::string> have, want;
  have.reserve(current.members.size());
  want.reserve(wanted.size());
  for (const auto& m : current.members) have.insert(dirgroup::DnKey(m));
  for (const auto& m : wanted) {
    std::string key = dirgroup::DnKey(m);
    if (!have.count(key)) g.added.push_back(m);
    want.insert(std::move(key));
  }
  for (const auto& m : current.members) {
    std::string key = dirgroup::DnKey(m);
    if (!want.count(key) && have.erase(key)) g.removed.push_back(m);  // a value listed twice goes once
  }
  g.unchanged = wanted.size() - g.added.size();

  size_t first = 0;
  if (g.create) {
    bool ad = kind == dirgroup::GroupKind::ActiveDirectory;
    ChangeRecord add{ChangeRecord::Type::Add, dn,
                     {{AttributeChange::Op::Add, "objectClass", {"top", ad ? "group" : "groupOfNames"}},
                      {AttributeChange::Op::Add, "cn", {list_name}}}};
    if (ad) add.changes.push_back({AttributeChange::Op::Add, "groupType", {kDistributionGroupType}});
    first = std::min(per_request, g.added.size());
    if (first > 0)
      add.changes.push_back({AttributeChange::Op::Add, "member",
                             std::vector<std::string>(g.added.begin(), g.added.begin() + first)});
    g.records.push_back(std::move(add));
    g.steps.push_back(first > 0 ? fmt::format("create the group with members 1-{} of {}", first, g.added.size())
                                : "create the group without members");
  }
  AddChunks(g, dn, AttributeChange::Op::Add, g.added, first, per_request);
  AddChunks(g, dn, AttributeChange::Op::Delete, g.removed, 0, per_request);
  return g;
}

void ApplyGroupChanges(dirgroup::GroupDirectory& dir, const GroupChanges& changes) {
  size_t applied = 0;
  try {
    dir.Apply(changes.records, [&](size_t i) { applied = i + 1; });
  } catch (const dirgroup::DirectoryError& e) {
    size_t n = changes.records.size();
    std::string failed = applied < n ? fmt::format("request {} of {} ({}) failed: {}", applied + 1, n,
                                                   changes.steps[applied], e.what())
                                     : e.what();
    std::string done =
        applied == 0   ? "nothing was changed"
        : applied == 1 ? fmt::format("the group was changed in part: request 1 of {} took effect ({})", n,
                                     changes.steps[0])
                       : fmt::format("the group was changed in part: requests 1 to {} of {} took effect (the last: {})",
                                     applied, n, changes.steps[applied - 1]);
    std::string rest = applied + 2 == n  ? fmt::format("; request {} was not sent", n)
                       : applied + 2 < n ? fmt::format("; requests {} to {} were not sent", applied + 2, n)
                                         : "";
    throw dirgroup::DirectoryError(fmt::format("{}; {}{}", failed, done, rest));
  }
}

}  // namespace corvane::dsimport
