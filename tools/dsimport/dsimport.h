// dsimport: builds a distribution list as a group of a directory from the
// list file the service writes. The group CN=<list name> lives in the
// container CN=<container> or OU=<container> directly below the base
// point, and ends with exactly the members the file's lines resolve to;
// only the difference is sent, in requests of at most 1000 values.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::dsimport {

struct ImportOptions {
  std::string file;        // /FILE=
  std::string dsa;         // /DSA=: LDAP URL, host name or LDIF file
  std::string base_point;  // /BASEPOINT=
  std::string container;   // /CONTAINER=
  bool dry_run = false;    // --dry-run: print the change records, change nothing
};

// A failure; the message says what failed and, where the group was
// changed in part, exactly which requests took effect.
class ImportFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where an import's words go: the report, one line at a time, and (dry
// run) the LDIF change records it would send.
struct ImportOutput {
  std::function<void(const std::string&)> report;
  std::function<void(const std::string&)> ldif;
};

// What an import found and did, as far as it got.
struct ImportSummary {
  std::string list;     // the list's name
  std::string group;    // the group's DN
  std::string outcome;  // "created", "updated", "unchanged", "nothing to do"
  // Counts; -1 until known.
  long members = -1, added = -1, removed = -1, unchanged = -1, unresolved = -1, kept = -1;
};

// Runs one import. Returns when the group is as the file says (members
// that could not be resolved are reported, not a failure); throws
// ImportFailure otherwise. A line whose addresses name several entries
// is unresolved, but an entry of them that is a member already stays one.
// `summary`, when given, is filled as far as the import gets.
void RunImport(const ImportOptions& options, const ImportOutput& out, ImportSummary* summary = nullptr);

// The command line: "/FILE=", "/DSA=", "/BASEPOINT=", "/CONTAINER=" (any
// case, any order, each once and all four), "--dry-run". nullopt with
// `error` set for anything else; `help` set for --help or -h.
std::optional<ImportOptions> ParseArguments(const std::vector<std::string>& args, bool& help, std::string& error);

}  // namespace corvane::dsimport
