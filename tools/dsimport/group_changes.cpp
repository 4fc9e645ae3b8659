#include "tools/dsimport/group_changes.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cctype>
#include <string_view>

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

constexpr size_t kMaxAccountNameCharacters = 64;

}  // namespace

std::string GroupAccountName(const std::string& list_name) {
  std::string out;
  size_t characters = 0;
  for (size_t i = 0; i < list_name.size() && characters < kMaxAccountNameCharacters;) {
    const unsigned char c = static_cast<unsigned char>(list_name[i]);
    size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    length = std::min(length, list_name.size() - i);
    const bool refused = c < 0x20 || c == 0x7F || std::string_view("\"/\\[]:;|=,+*?<>@").find(static_cast<char>(c)) !=
                                                                      std::string_view::npos;
    const bool blank = c == ' ' || c == '\t';
    if (blank) {
      if (!out.empty() && out.back() != ' ') {
        out += ' ';
        ++characters;
      }
    } else if (!refused) {
      out.append(list_name, i, length);
      ++characters;
    }
    i += length;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
  return out;
}

bool IsGeneratedAccountName(const std::string& name) {
  if (name.size() < 2 || name[0] != '$') return false;
  return std::all_of(name.begin() + 1, name.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == '-'; });
}

GroupChanges PlanGroupChanges(const std::string& dn, const std::string& list_name, dirgroup::GroupKind kind,
                              const dirgroup::GroupEntry& current, const std::vector<std::string>& wanted,
                              size_t per_request, const std::string& account_name) {
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
    if (ad && !account_name.empty()) add.changes.push_back({AttributeChange::Op::Add, "sAMAccountName", {account_name}});
    if (ad) add.changes.push_back({AttributeChange::Op::Add, "displayName", {list_name}});
    first = std::min(per_request, g.added.size());
    if (first > 0)
      add.changes.push_back({AttributeChange::Op::Add, "member",
                             std::vector<std::string>(g.added.begin(), g.added.begin() + first)});
    g.records.push_back(std::move(add));
    g.steps.push_back(first > 0 ? fmt::format("create the group with members 1-{} of {}", first, g.added.size())
                                : "create the group without members");
  }
  if (!g.create && kind == dirgroup::GroupKind::ActiveDirectory) {
    ChangeRecord names{ChangeRecord::Type::Modify, dn, {}};
    std::vector<std::string> said;
    const bool generated = IsGeneratedAccountName(current.account_name);
    if (!account_name.empty() && (current.account_name.empty() || generated)) {
      if (generated) names.changes.push_back({AttributeChange::Op::Delete, "sAMAccountName", {current.account_name}});
      names.changes.push_back({AttributeChange::Op::Add, "sAMAccountName", {account_name}});
      said.push_back(fmt::format("the account name \"{}\"", account_name));
    }
    if (current.display_name.empty()) {
      names.changes.push_back({AttributeChange::Op::Add, "displayName", {list_name}});
      said.push_back("the display name");
    }
    if (!names.changes.empty()) {
      g.records.push_back(std::move(names));
      g.steps.push_back(fmt::format("give the group {}", fmt::join(said, " and ")));
    }
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
