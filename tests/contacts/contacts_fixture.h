// What the contact job tests share: a window with a fake service control,
// an in-memory mail store with the profile "TWCorvane", a Corvane home for
// the values read straight from the parameters key, and a final GAL table
// in a real database (SQLite file or the test PostgreSQL server).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/outlook/memory_store.h"
#include "platform/outlook/outlook.h"
#include "service/contacts/contact_jobs.h"
#include "tests/export/export_fixture.h"
#include "tests/outlook/store_fixture.h"

namespace corvane::testing {

// A final-table row: column -> value (nullopt is NULL).
using GalRow = std::map<std::string, std::optional<std::string>>;

// A person row with the columns most tests need.
inline GalRow Person(const std::string& id, const std::string& given, const std::string& surname) {
  return {{"entry_id", id},          {"DISPLAY_NAME", given + " " + surname},
          {"GIVEN_NAME", given},     {"SURNAME", surname},
          {"INITIALS", ""},          {"DISPLAY_TYPE", "0"},
          {"SMTP", given + "@example.org"}};
}

struct JobHarness {
  explicit JobHarness(const std::string& kind);
  ~JobHarness();

  // (Re)creates the final table with these rows; every row has the same columns.
  void SetGal(const std::vector<GalRow>& rows);
  // Runs a job; the failure that ended it, if any, is kept in `failure`.
  void Run(void (*job)(service::ExportContext&, service::contacts::ContactJobEnvironment&));
  void Sync() { Run(service::contacts::CreatePublicFolderContacts); }
  void Export() { Run(service::contacts::ExportAccessContactsToOutlook); }
  bool Logged(const std::string& line) const;

  // The folder at this path ("Public Folders/Corvane Contacts",
  // "Contacts/Local"), or nullopt.
  std::optional<outlook::Folder> FolderAt(const std::string& path);
  std::vector<outlook::ContactItem> ContactsIn(const std::string& path);
  // The sync table's rows: PFC_entry_id -> GAL_entry_id.
  std::multimap<std::string, std::string> SyncRows();
  std::string syncTable() const { return w.TableName + "_PFC_SyncData"; }

  std::optional<TestDatabase> db;
  TempHome home;
  service::FixedClock clock{1798761930};
  service::RunLog log{clock};
  FakeServiceControl control;
  service::ExportContext w;
  outlook::MemoryStore store;
  service::contacts::ContactJobEnvironment env;
  std::vector<std::string> entries;
  std::optional<std::string> failure;
  int doEvents = 0;
};

// The job tests run on each database; "postgres" ones carry that label.
class ContactJobTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    h.emplace(GetParam());
    CORVANE_REQUIRE_DATABASE(h->db);
  }
  std::optional<JobHarness> h;
};

}  // namespace corvane::testing
