// dsimport: the directory import tool that the distribution-list job of
// the service starts. Reads the list file and makes the group in the
// directory hold exactly its members; writes what it did to standard
// output and to $CORVANE_HOME/dsimport.log, and its outcome to
// $CORVANE_HOME/last-dsimport.json, which corvane-run --status reads.
#include <fmt/chrono.h>
#include <fmt/format.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <optional>

#include "platform/atomicfile/atomic_file.h"
#include "platform/mapi/last_error.h"
#include "platform/registry/registry.h"
#include "service/export/import_dl_record.h"
#include "service/parameters/parameters.h"
#include "service/host/program_info.h"
#include "tools/dsimport/dsimport.h"
#include "tools/dsimport/import_lock.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: dsimport /FILE=<list file> /DSA=<directory> /BASEPOINT=<dn> /CONTAINER=<name> [--dry-run]\n"
    "Makes the group CN=<list name> in the container CN=<name> or OU=<name> directly\n"
    "below the base point hold exactly the members of the list file (header\n"
    "\"Obj-Class, Directory Name, members\", then DL,<list name>,<proxy addresses>).\n"
    "Members are found by their proxy addresses, the primary SMTP address first.\n"
    "  /DSA=        an ldap://, ldaps:// or ldapi:// URL, a host name, or an LDIF file\n"
    "  --dry-run    print the LDIF change records it would send; change nothing\n"
    "It binds as the home's parameters say (LdapBindDN and a 0600 LdapPasswordFile,\n"
    "or LdapSaslMech; LdapStartTLS, LdapCAFile; CORVANE_LDAP_BINDDN and\n"
    "CORVANE_LDAP_PASSWORD_FILE win where set), never from the command line.\n"
    "What it did goes to standard output and $CORVANE_HOME/dsimport.log,\n"
    "its outcome to $CORVANE_HOME/last-dsimport.json. One import per target at a time:\n"
    "a second one waits for the first and then reads the list file.\n"
    "Exit status: 0 done (unresolved members are listed), 1 failed, 2 usage error.\n"
    "See dsimport(1).\n";

// The log beside the other Corvane logs; a log that cannot be written
// costs a warning, not the import.
class Log {
 public:
  Log() {
    auto path = corvane::registry::CorvaneHome() / "dsimport.log";
    corvane::files::EnsureFileMode(path, 0600);  // it names the list's members
    out_.open(path, std::ios::app | std::ios::binary);
    if (!out_) std::fprintf(stderr, "dsimport: warning: cannot write the log %s\n", path.c_str());
  }
  void Line(const std::string& text) {
    if (!out_) return;
    std::time_t now = std::time(nullptr);
    out_ << fmt::format("{:%Y-%m-%d %H:%M:%S} {}\n", fmt::localtime(now), text);
    out_.flush();
  }

 private:
  std::ofstream out_;
};

// "DistListImportMargin" as the settings hold it, -1 when unset or unreadable.
long ImportMarginSetting() {
  try {
    auto value = corvane::registry::Hive::Machine().Get(corvane::registry::kParametersKeyPath, "DistListImportMargin");
    if (value) {
      if (auto minutes = corvane::parameters::ToInt32(value->AsText()); minutes && *minutes >= 0) return *minutes;
    }
  } catch (const std::exception&) {
    // The record then carries no margin; its readers take the default.
  }
  return -1;
}

// Leaves the outcome for monitoring; a record that cannot be written costs
// a warning, not the import's exit status.
void Record(const corvane::service::ImportRecord& record, Log& log) {
  const auto file = corvane::registry::CorvaneHome() / corvane::service::kImportRecordFileName;
  try {
    corvane::service::WriteImportRecord(file, record);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dsimport: warning: %s\n", e.what());
    log.Line(std::string("warning: ") + e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace corvane::dsimport;
  if (auto answered = corvane::service::AnswerHelpOrVersion(argc, argv, "dsimport", kUsageText)) return *answered;
  std::vector<std::string> args(argv + 1, argv + argc);
  bool help = false;
  std::string error;
  auto options = ParseArguments(args, help, error);
  if (!options) {
    if (help) {
      std::fputs(kUsageText, stdout);
      return 0;
    }
    std::fprintf(stderr, "dsimport: %s\n%s", error.c_str(), kUsageText);
    return kUsage;
  }
  corvane::mapi::EchoFailures(false);  // every failure is reported below, once
  Log log;
  std::string command = "dsimport";
  for (const auto& a : args) command += " " + a;
  log.Line(command);
  // A dry run's report lines are LDIF comments, so its output stays LDIF.
  std::string prefix = options->dry_run ? "# " : "";
  ImportOutput out{[&](const std::string& line) {
                     std::fprintf(stdout, "%s%s\n", prefix.c_str(), line.c_str());
                     log.Line(line);
                   },
                   [](const std::string& ldif) { std::fputs(ldif.c_str(), stdout); }};
  corvane::service::ImportRecord record;
  record.start = std::time(nullptr);
  record.file = options->file;
  record.directory = options->dsa;
  ImportSummary summary;
  int status = 0;
  // Held until the record is written, so records follow the imports' order.
  std::optional<TargetLock> lock;
  try {
    // A dry run changes nothing, so it neither waits nor leaves a record.
    if (!options->dry_run) {
      const auto lockFile = TargetLock::FileFor(corvane::registry::CorvaneHome(), options->dsa, options->base_point,
                                                options->container);
      lock.emplace(TargetLock::Acquire(lockFile, [&](pid_t holder) {
        out.report(fmt::format("waiting for the import{} that holds {} to end; the list file is read after it",
                               holder > 0 ? fmt::format(" of process {}", holder) : "", lockFile.string()));
      }));
    }
    RunImport(*options, out, &summary);
    std::fflush(stdout);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "dsimport: error: %s\n", e.what());
    log.Line(std::string("error: ") + e.what());
    record.failed = true;
    record.cause = e.what();
    status = kFailed;
  }
  if (options->dry_run) return status;
  record.end = std::time(nullptr);
  record.outcome = record.failed ? "" : summary.outcome;
  record.list = summary.list;
  record.group = summary.group;
  record.members = summary.members;
  record.added = summary.added;
  record.removed = summary.removed;
  record.unchanged = summary.unchanged;
  record.unresolved = summary.unresolved;
  record.kept = summary.kept;
  record.marginMinutes = ImportMarginSetting();
  Record(record, log);
  return status;
}
