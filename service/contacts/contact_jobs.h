// The two contact jobs that follow an update run: the public-folder sync
// (CreatePublicFolderContacts / SyncPublicFolderContacts) and the local
// export (ExportAccessContactsToOutlook), with what they work on besides
// the export context: the mail store and the registry hive for the values read
// straight from the parameters key.
#pragma once

#include <string>

#include "platform/outlook/storage.h"
#include "platform/registry/registry.h"
#include "service/export/update_run.h"
#include "service/export/export_context.h"

namespace corvane::service::contacts {

// What a job could not do while it went on to its end: contacts it could
// not save or remove, sync rows it could not write.
struct JobShortfall {
  long failures = 0;
  std::string first;  // the first of them: number, two blanks, description
};

struct ContactJobEnvironment {
  outlook::StoreBackend& store;
  registry::Hive hive;
  JobShortfall shortfall{};  // of the job in progress
};

// The vCard folder store under $CORVANE_HOME and the machine's hive.
ContactJobEnvironment& DefaultContactJobEnvironment();

// A value read straight from the parameters key: a string as it is, a
// number in decimal; missing (or of another type) reads as empty.
std::string ReadParametersKey(const registry::Hive& hive, const std::string& name);

// The mail profile of the contact jobs: with "UseAltProfile" 0 the one
// named by "txtAltProfile" (read straight from the key), else "TWCorvane".
struct ProfileChoice {
  std::string useAltProfile;  // the value as read
  bool alternative = false;
  std::string profile;
};
ProfileChoice ChooseProfile(ExportContext& w, const registry::Hive& hive);

// Keeps the public contacts folder "cmbsubs" in step with the final table
// through the sync table TableName_PFC_SyncData. Failures that end it are
// thrown (StoreError, AdoError) to the update run.
void SyncPublicFolderContacts(ExportContext& w, ContactJobEnvironment& env);
void CreatePublicFolderContacts(ExportContext& w, ContactJobEnvironment& env);

// Rebuilds the sub-folder "localcontactname" of the profile's default
// contacts folder from the final table; the old folder is replaced only
// when every row was written. Any failure is thrown.
void ExportAccessContactsToOutlook(ExportContext& w, ContactJobEnvironment& env);

// Runs a contact job as the update run's hooks do: a failure that ends it
// is logged (number, two blanks, description) and passed on. A job that
// failed or did only part of its work writes an error event (109) and a
// run-log line at error priority; every job's ending is added to
// w.FollowOnOutcomes under `jobName`.
void RunContactJob(ExportContext& w, ContactJobEnvironment& env, const std::string& jobName,
                   void (*job)(ExportContext&, ContactJobEnvironment&));

// The update run's hooks: each job on the default environment.
void SyncPublicFolderContactsJob(ExportContext& w);
void ExportLocalContactsJob(ExportContext& w);

// Sets the two jobs above as the run's contact hooks. The programs call it
// on the default hooks at start, so the export itself never depends on the
// mail store.
void InstallContactJobs(UpdateRunHooks& hooks);

}  // namespace corvane::service::contacts
