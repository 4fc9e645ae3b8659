#include "service/contacts/contact_jobs.h"

#include <fmt/format.h>

#include "platform/outlook/outlook.h"
#include "platform/outlook/vcard_folder_store.h"
#include "service/contacts/job_failure.h"
#include "service/parameters/parameters.h"

namespace corvane::service::contacts {

JobFailure FailureOf(const std::exception& e) {
  if (auto* store = dynamic_cast<const outlook::StoreError*>(&e)) return {store->Number, store->Description};
  if (auto* db = dynamic_cast<const ado::AdoError*>(&e)) return {db->Number, db->Description};
  return {ado::adErrGeneric, e.what()};
}

ContactJobEnvironment& DefaultContactJobEnvironment() {
  static outlook::VCardFolderStore store;
  static ContactJobEnvironment env{store, registry::Hive::Machine()};
  return env;
}

std::string ReadParametersKey(const registry::Hive& hive, const std::string& name) {
  try {
    auto value = hive.Get(registry::kParametersKeyPath, name);
    return value ? value->AsText() : "";
  } catch (const registry::RegistryError&) {
    return "";  // an unreadable key reads as a missing value
  }
}

ProfileChoice ChooseProfile(ExportContext& w, const registry::Hive& hive) {
  ProfileChoice choice;
  choice.useAltProfile = w.GetSetting("UseAltProfile", "1");
  choice.alternative = !parameters::UseAltProfileOn(choice.useAltProfile);
  choice.profile = choice.alternative ? ReadParametersKey(hive, "txtAltProfile") : "TWCorvane";
  return choice;
}

void RunContactJob(ExportContext& w, ContactJobEnvironment& env, const std::string& jobName,
                   void (*job)(ExportContext&, ContactJobEnvironment&)) {
  constexpr int32_t kEventError = 109;
  env.shortfall = {};
  FollowOnOutcome outcome{jobName, FollowOnOutcome::Kind::Completed, ""};
  auto report = [&](const std::string& text) {
    // A monitor learns of it from the journal and the events, not only
    // from the run log.
    w.WriteLog(text, LogPriority::Error);
    try {
      w.LogEvent(ntservice::EVENTLOG_ERROR_TYPE, kEventError, text);
    } catch (const std::exception&) {
    }
    w.FollowOnOutcomes.push_back(outcome);
  };
  try {
    job(w, env);
  } catch (const std::exception& e) {
    JobFailure failure = FailureOf(e);
    w.WriteLog(fmt::format("{}  {}", failure.number, failure.description));
    outcome.kind = FollowOnOutcome::Kind::Failed;
    outcome.detail = fmt::format("{}  {}", failure.number, failure.description);
    if (env.shortfall.failures > 0) outcome.detail += fmt::format(" (and {} failures before)", env.shortfall.failures);
    report(fmt::format("The {} failed: {}", jobName, outcome.detail));
    throw;
  }
  if (env.shortfall.failures == 0) {
    w.FollowOnOutcomes.push_back(outcome);
    return;
  }
  outcome.kind = FollowOnOutcome::Kind::Partial;
  outcome.detail = fmt::format("{} failure{}, the first: {}", env.shortfall.failures,
                               env.shortfall.failures == 1 ? "" : "s", env.shortfall.first);
  report(fmt::format("The {} completed only in part: {}", jobName, outcome.detail));
}

void SyncPublicFolderContactsJob(ExportContext& w) {
  RunContactJob(w, DefaultContactJobEnvironment(), "public-folder contact sync", CreatePublicFolderContacts);
}

void ExportLocalContactsJob(ExportContext& w) {
  RunContactJob(w, DefaultContactJobEnvironment(), "local contacts export", ExportAccessContactsToOutlook);
}

void InstallContactJobs(UpdateRunHooks& hooks) {
  hooks.ExportLocalContacts = ExportLocalContactsJob;
  hooks.SyncPublicFolderContacts = SyncPublicFolderContactsJob;
}

}  // namespace corvane::service::contacts
