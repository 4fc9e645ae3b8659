// corvane-run: one update run now, in the foreground, with the current
// parameters of the Corvane home ($CORVANE_HOME). The run log goes to
// standard output as it grows; the exit status says whether the run
// reached its end (0) or ended early (non-zero).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "platform/ntservice/event_loop.h"
#include "platform/ntservice/lock_file.h"
#include "platform/ntservice/standard_error.h"
#include "platform/ntservice/systemd_service_control.h"
#include "platform/registry/registry.h"
#include "service/contacts/contact_jobs.h"
#include "service/core/clock.h"
#include "service/core/run_log.h"
#include "service/host/program_info.h"
#include "service/host/service_main.h"
#include "service/export/last_run.h"
#include "tools/corvane-run/config_check.h"
#include "tools/corvane-run/foreground_run.h"
#include "tools/corvane-run/status_report.h"

namespace {

using corvane::ntservice::ServiceControl;

// The service's control with one difference: a request to stop the service
// is noted, not carried out on this process, which is not the service.
class ForegroundControl : public ServiceControl {
 public:
  explicit ForegroundControl(ServiceControl& inner) : inner_(inner) {}
  std::string ServiceName() const override { return inner_.ServiceName(); }
  std::string DisplayName() const override { return inner_.DisplayName(); }
  void SetInteractive(bool interactive) override { inner_.SetInteractive(interactive); }
  bool Install() override { return false; }
  bool Uninstall() override { return false; }
  void SetDebug(bool debug) override { inner_.SetDebug(debug); }
  void SetControlsAccepted(int controls) override { inner_.SetControlsAccepted(controls); }
  void StartService() override {}
  void StopService() override {
    std::fprintf(stdout, "corvane-run: the run asks for the service to be stopped\n");
  }
  bool LogEvent(int16_t type, int32_t id, const std::string& text) override { return inner_.LogEvent(type, id, text); }
  std::string GetSetting(const std::string& section, const std::string& key, const std::string& def) override {
    return inner_.GetSetting(section, key, def);
  }
  void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override {
    inner_.SaveSetting(section, key, value);
  }
  void MsgBox(const std::string& text, const std::string& title) override { inner_.MsgBox(text, title); }

 private:
  ServiceControl& inner_;
};

bool SameFile(int a, int b) {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

constexpr const char* kUsageText =
    "usage: corvane-run [--quiet-sql]\n"
    "       corvane-run --check\n"
    "       corvane-run --status [--max-age DURATION]\n"
    "Runs one Corvane update run now with the parameters of the Corvane home\n"
    "($CORVANE_HOME, default /var/lib/corvane) and prints its run log; run it as\n"
    "the home's owner (sudo -u corvane corvane-run).\n"
    "  --quiet-sql  leave out the \"Xsql:\" lines (each statement run); failures,\n"
    "               the run's own lines and progress are still printed\n"
    "  --check      check the configuration and change nothing: unknown or invalid\n"
    "               values, the database, the directory and mailbox, the mail\n"
    "               profile, the schedule and the final table's columns; exit\n"
    "               status 0 all good, 1 warnings, 2 errors\n"
    "  --status     show the last run (last-run.json in the home) and the last\n"
    "               dsimport (last-dsimport.json); exit status 0 OK, 1 stopped,\n"
    "               a contact job failed or did part of its work, or the dsimport\n"
    "               failed or is overdue, 2 failed or ended the service or older\n"
    "               than --max-age (e.g. 26h, 90m, 2d), 3 no record\n"
    "Exit status of a run (the service's own for the same endings):\n"
    "  0   the run reached its end\n"
    "  2   the run failed: a database failure, an export cut short, a final table\n"
    "      incomplete or not built, a stop by SIGTERM or SIGINT (the published\n"
    "      table is left as it was where it could be; the next run starts afresh)\n"
    "  64  invalid option\n"
    "  69  the run ends the service by design: the address list had no entries\n"
    "      (the directory could not be read) or the run met 1000 failures\n"
    "  75  another run holds the home's run lock\n"
    "  77  run as root on a home that belongs to another user (the files the run\n"
    "      writes would no longer be the service's)\n"
    "  78  a required setting is missing: connection string, mailbox, server,\n"
    "      mail profile or table name\n"
    "  1   the settings could not be read\n"
    "See corvane-run(1), corvane-parameters(5).\n";

int Usage() {
  std::fputs(kUsageText, stderr);
  return corvane::runtool::kUsage;
}

// The owner of the home when the caller is root and the home is another
// user's; empty otherwise.
std::string ForeignOwner(const std::filesystem::path& home) {
  return ::geteuid() == 0 ? corvane::ntservice::HomeOwner(home) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace corvane;
  if (auto answered = service::AnswerHelpOrVersion(argc, argv, "corvane-run", kUsageText)) return *answered;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto home = registry::CorvaneHome();
  if (args == std::vector<std::string>{"--check"}) {
    try {
      return runtool::CheckConfiguration(registry::Hive::Machine(), std::time(nullptr), stdout);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "corvane-run: %s\n", e.what());
      return runtool::kCheckErrors;
    }
  }
  if (!args.empty() && args[0] == "--status") {
    std::optional<int64_t> maxAge;
    if (args.size() == 3 && args[1] == "--max-age") {
      maxAge = runtool::ParseDuration(args[2]);
      if (!maxAge) return Usage();
    } else if (args.size() != 1) {
      return Usage();
    }
    return runtool::ReportLastRun(home / service::kLastRunFileName, maxAge, std::time(nullptr), stdout);
  }
  runtool::RunOptions options;
  if (args == std::vector<std::string>{"--quiet-sql"}) {
    options.statements = false;
  } else if (!args.empty()) {
    return Usage();
  }
  if (const std::string owner = ForeignOwner(home); !owner.empty()) {
    std::fprintf(stderr,
                 "corvane-run: %s belongs to %s; a run as root would leave files there that the service cannot "
                 "write. Run it as %s: sudo -u %s corvane-run\n",
                 home.c_str(), owner.c_str(), owner.c_str(), owner.c_str());
    return runtool::kNotOwner;
  }
  try {
    ntservice::EventLoop loop(argc, argv);
    service::SystemClock clock;
    service::RunLog log(clock);
    // Every entry goes to standard output; under systemd warnings and errors
    // carry their priority there. Where standard error is another file (a
    // log file for the output, errors on the terminal), they go there too.
    options.journal = ntservice::IsJournalStream(STDOUT_FILENO);
    if (!SameFile(STDOUT_FILENO, STDERR_FILENO)) {
      log.OnAlert = [](service::LogPriority priority, const std::string& message) {
        ntservice::WriteStandardError(static_cast<int>(priority), message);
      };
    }
    auto settings = ntservice::SystemdSettings::FromEnvironment();
    ntservice::SystemdServiceControl systemd(settings);
    ForegroundControl control(systemd);
    service::ServiceMain w(log, control, clock, {});
    runtool::ReadStartupValues(w);
    if (w.connectionstring.empty()) {
      std::fprintf(stderr,
                   "corvane-run: no connection string is configured (parameter \"ConnectionString\" in %s, the "
                   "registry of the Corvane home CORVANE_HOME=%s); nothing to run against\n",
                   registry::Hive::Machine().file().c_str(), home.c_str());
      return runtool::kNotConfigured;
    }
    const auto lockFile = home / service::kRunLockName;
    pid_t holder = 0;
    const auto lock = ntservice::LockFile::TryLock(lockFile, &holder);
    if (!lock) {
      std::fprintf(stderr, "corvane-run: another run (process %d) holds %s; try again when it has ended\n",
                   static_cast<int>(holder), lockFile.c_str());
      return runtool::kLocked;
    }
    // SIGTERM and SIGINT end the run at its next yield, as they end the service's.
    systemd.OnStop = [&w] { w.run.StopRequested = true; };
    systemd.StartService();
    w.DoEvents = [pump = loop.ProcessPendingOnce(), &w] {
      pump();
      if (w.run.StopRequested) throw service::EndServiceProcess{"the run was stopped by a signal", runtool::kRunRecovered};
    };
    service::UpdateRunHooks hooks = service::StandardUpdateRunHooks();
    service::contacts::InstallContactJobs(hooks);
    return runtool::RunOnce(w, hooks, stdout, options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvane-run: %s\n", e.what());
    return runtool::kRunEndedEarly;
  }
}
