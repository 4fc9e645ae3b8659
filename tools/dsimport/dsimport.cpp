#include "tools/dsimport/dsimport.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <strings.h>

#include <tuple>
#include <unordered_set>

#include "platform/dirgroup/group_directory.h"
#include "tools/dsimport/dl_csv.h"
#include "tools/dsimport/group_changes.h"
#include "tools/dsimport/member_resolution.h"

namespace corvane::dsimport {
namespace {

using dirgroup::DirectoryError;
using dirgroup::GroupDirectory;
using dirgroup::GroupKind;

const char* KindName(GroupKind kind) {
  return kind == GroupKind::ActiveDirectory ? "an Active Directory group" : "a groupOfNames";
}

struct Members {
  std::vector<std::string> dns;  // each once, in the file's order
  size_t unresolved = 0;
  size_t kept = 0;      // members kept although their line is ambiguous
  size_t repeated = 0;  // lines naming a member an earlier line named
};

// Resolves the file's lines in one pass over the directory, reporting
// each line that finds no entry. A line whose addresses name several
// entries keeps those of them that are members of the group already:
// an ambiguity in the directory is no reason to remove a member.
Members ResolveMembers(const DistListFile& list, GroupDirectory& dir, const dirgroup::GroupEntry& current,
                       const ImportOutput& out) {
  MemberResolver resolver(list.members);
  dir.ScanAddresses([&](const mapi::DirEntry& e) { resolver.Offer(e); });
  std::unordered_set<std::string> members_now;
  for (const auto& m : current.members) members_now.insert(dirgroup::DnKey(m));
  Members m;
  std::unordered_set<std::string> seen;
  auto take = [&](const std::string& dn) {
    if (seen.insert(dirgroup::DnKey(dn)).second) {
      m.dns.push_back(dn);
    } else {
      ++m.repeated;
    }
  };
  auto results = resolver.Results();
  for (size_t i = 0; i < results.size(); ++i) {
    const MemberLine& line = list.members[i];
    const Resolution& r = results[i];
    if (!r.dn.empty()) {
      take(r.dn);
      continue;
    }
    ++m.unresolved;
    std::vector<std::string> kept;
    for (const auto& dn : r.candidates)
      if (members_now.count(dirgroup::DnKey(dn))) kept.push_back(dn);
    out.report(fmt::format("unresolved: line {}: {}: {}{}", line.line, line.addresses.front(), r.reason,
                           kept.empty() ? "" : fmt::format("; kept the member {}", fmt::join(kept, "; "))));
    for (const auto& dn : kept) take(dn);
    m.kept += kept.size();
  }
  return m;
}

}  // namespace

void RunImport(const ImportOptions& o, const ImportOutput& out, ImportSummary* summary) {
  ImportSummary local;
  ImportSummary& sum = summary ? *summary : local;
  for (const auto& [value, option, parameter] :
       {std::tuple{&o.file, "/FILE=", "DistListFile"}, std::tuple{&o.dsa, "/DSA=", "DistListServer"},
        std::tuple{&o.base_point, "/BASEPOINT=", "DistListOrg"}, std::tuple{&o.container, "/CONTAINER=", "DistListCon"}})
    if (value->empty())
      throw ImportFailure(fmt::format("{} is empty (the service takes it from the parameter \"{}\"); nothing was changed",
                                      option, parameter));
  bool sending = false;
  try {
    DistListFile list = ReadDistList(o.file);
    if (list.members.empty()) {
      out.report(fmt::format("{} lists no member, and so names no list: nothing to do", o.file));
      sum.outcome = "nothing to do";
      return;
    }
    sum.list = list.list_name;
    out.report(fmt::format("list \"{}\": {} member lines in {}", list.list_name, list.members.size(), o.file));

    auto dir = GroupDirectory::Open(o.dsa);
    out.report("directory: " + dir->Describe());
    std::string container = dir->FindContainer(o.base_point, o.container);
    if (container.empty())
      throw ImportFailure(fmt::format("there is no container CN={0} or OU={0} directly below \"{1}\" in the {2}; "
                                      "nothing was changed",
                                      o.container, o.base_point, dir->Describe()));
    std::string dn = dirgroup::ChildDn("CN", list.list_name, container);
    sum.group = dn;
    dirgroup::GroupEntry current = dir->ReadGroup(dn);
    GroupKind kind = current.exists ? current.kind : dir->NewGroupKind();
    out.report(current.exists ? fmt::format("group: {} ({}, {} members)", dn, KindName(kind), current.members.size())
                              : fmt::format("group: {} (new, {})", dn, KindName(kind)));

    Members members = ResolveMembers(list, *dir, current, out);
    // A file none of whose members is found here was meant for another
    // directory: emptying the group would be the wrong answer.
    if (members.dns.empty())
      throw ImportFailure(fmt::format("none of the {} members was found in the {}; the group is left as it was",
                                      list.members.size(), dir->Describe()));

    GroupChanges changes = PlanGroupChanges(dn, list.list_name, kind, current, members.dns);
    if (o.dry_run) {
      out.ldif(dirgroup::FormatChangeRecords(changes.records));
    } else {
      sending = true;
      ApplyGroupChanges(*dir, changes);
    }
    std::string outcome = changes.create ? "created" : changes.records.empty() ? "unchanged" : "updated";
    std::string notes;
    if (members.kept) notes += fmt::format(" ({} kept as members though their lines are ambiguous)", members.kept);
    if (members.repeated) notes += fmt::format(" ({} lines named a member already listed)", members.repeated);
    out.report(fmt::format("{}{}: {}: {} members; added {}, removed {}, unchanged {}, unresolved {}{}",
                           o.dry_run ? "dry run, nothing changed; would be " : "", outcome, dn, members.dns.size(),
                           changes.added.size(), changes.removed.size(), changes.unchanged, members.unresolved,
                           notes));
    sum = {list.list_name,
           dn,
           outcome,
           static_cast<long>(members.dns.size()),
           static_cast<long>(changes.added.size()),
           static_cast<long>(changes.removed.size()),
           static_cast<long>(changes.unchanged),
           static_cast<long>(members.unresolved),
           static_cast<long>(members.kept)};
  } catch (const CsvError& e) {
    throw ImportFailure(std::string(e.what()) + "; nothing was changed");
  } catch (const DirectoryError& e) {
    // A refused request says itself what took effect.
    throw ImportFailure(sending ? e.what() : std::string(e.what()) + "; nothing was changed");
  }
}

std::optional<ImportOptions> ParseArguments(const std::vector<std::string>& args, bool& help, std::string& error) {
  ImportOptions o;
  help = false;
  bool seen[4] = {};
  std::string* fields[4] = {&o.file, &o.dsa, &o.base_point, &o.container};
  const char* names[4] = {"/FILE=", "/DSA=", "/BASEPOINT=", "/CONTAINER="};
  for (const auto& a : args) {
    if (a == "--help" || a == "-h") {
      help = true;
      return std::nullopt;
    }
    if (a == "--dry-run") {
      o.dry_run = true;
      continue;
    }
    int k = 0;
    while (k < 4 && strncasecmp(a.c_str(), names[k], std::char_traits<char>::length(names[k])) != 0) ++k;
    if (k == 4) {
      error = fmt::format("unknown argument \"{}\"", a);
      return std::nullopt;
    }
    if (seen[k]) {
      error = fmt::format("{} is given twice", names[k]);
      return std::nullopt;
    }
    seen[k] = true;
    *fields[k] = a.substr(std::char_traits<char>::length(names[k]));
  }
  for (int k = 0; k < 4; ++k) {
    if (!seen[k]) {
      error = fmt::format("{} is missing", names[k]);
      return std::nullopt;
    }
  }
  return o;
}

}  // namespace corvane::dsimport
