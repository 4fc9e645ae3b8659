#include "service/contacts/contact_jobs.h"

#include <fmt/format.h>

#include "platform/outlook/outlook.h"
#include "platform/outlook/vcard_folder_store.h"
#include "service/contacts/job_failure.h"
#include "service/host/parameters/parameters.h"

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

ProfileChoice ChooseProfile(ServiceMain& w, const registry::Hive& hive) {
  ProfileChoice choice;
  choice.useAltProfile = w.GetSetting("UseAltProfile", "1");
  choice.alternative = !parameters::UseAltProfileOn(choice.useAltProfile);
  choice.profile = choice.alternative ? ReadParametersKey(hive, "txtAltProfile") : "TWCorvane";
  return choice;
}

namespace {

// Runs a job; a failure that ends it is written to the run log before it
// goes on to the update run, so the log says why the job stopped.
template <class Job>
void RunLogged(ServiceMain& w, Job&& job) {
  try {
    job(w, DefaultContactJobEnvironment());
  } catch (const std::exception& e) {
    JobFailure failure = FailureOf(e);
    w.WriteLog(fmt::format("{}  {}", failure.number, failure.description));
    throw;
  }
}

}  // namespace

void SyncPublicFolderContactsJob(ServiceMain& w) { RunLogged(w, CreatePublicFolderContacts); }

void ExportLocalContactsJob(ServiceMain& w) { RunLogged(w, ExportAccessContactsToOutlook); }

void InstallContactJobs(UpdateRunHooks& hooks) {
  hooks.ExportLocalContacts = ExportLocalContactsJob;
  hooks.SyncPublicFolderContacts = SyncPublicFolderContactsJob;
}

}  // namespace corvane::service::contacts
