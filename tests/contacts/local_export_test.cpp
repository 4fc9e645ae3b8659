// The local export on the in-memory store, against SQLite and PostgreSQL;
// and the sync's statements as an Oracle database gets them.
#include <gmock/gmock.h>

#include <regex>

#include "platform/ado/recording_connection.h"
#include "tests/contacts/contacts_fixture.h"

namespace corvane::testing {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> SubFolderNames(JobHarness& h) {
  std::vector<std::string> names;
  outlook::Folders folders = h.FolderAt("Contacts")->GetFolders();
  for (auto f = folders.GetFirst(); f; f = folders.GetNext()) names.push_back(f->Name());
  return names;
}

std::vector<std::string> FullNames(JobHarness& h, const std::string& path) {
  std::vector<std::string> names;
  for (const auto& c : h.ContactsIn(path)) names.push_back(c.Get(outlook::ContactProperty::FullName));
  std::sort(names.begin(), names.end());
  return names;
}

TEST_P(ContactJobTest, LocalExportSwapsInTheNewFolder) {
  h->SetGal({Person("E1", "Ann", "O'Neil"), Person("E2", "Bo", "Li")});
  h->Export();  // no folder before: the work folder is only renamed
  ASSERT_FALSE(h->failure) << *h->failure;
  EXPECT_THAT(SubFolderNames(*h), ElementsAre("Local"));
  EXPECT_THAT(FullNames(*h, "Contacts/Local"), ElementsAre("Ann O'Neil", "Bo Li"));

  h->SetGal({Person("E3", "Cy", "Ng")});
  h->FolderAt("Contacts")->GetFolders().Add("Local_TMP", outlook::olFolderContacts);  // left by a failed run
  h->Export();
  ASSERT_FALSE(h->failure) << *h->failure;
  EXPECT_THAT(SubFolderNames(*h), ElementsAre("Local"));
  EXPECT_THAT(FullNames(*h, "Contacts/Local"), ElementsAre("Cy Ng"));
}

TEST_P(ContactJobTest, LocalExportKeepsTheOldFolderWhenItFails) {
  h->SetGal({Person("E1", "Ann", "O'Neil")});
  h->Export();
  // An empty table: the move to the first row fails.
  h->SetGal({Person("E9", "x", "y")});
  Quietly(*Connect(h->db->connectionString), "delete from " + h->w.TableName);
  h->Export();
  EXPECT_TRUE(h->failure);
  EXPECT_THAT(FullNames(*h, "Contacts/Local"), ElementsAre("Ann O'Neil"));
  EXPECT_THAT(SubFolderNames(*h), ElementsAre("Local"));  // the failed export removed its work folder
  // No connection string: it fails after making the work folder.
  h->control.settings["connectionstring"] = "";
  h->Export();
  EXPECT_TRUE(h->failure);
  EXPECT_THAT(FullNames(*h, "Contacts/Local"), ElementsAre("Ann O'Neil"));
  // A contact that cannot be saved.
  h->control.settings["connectionstring"] = h->db->connectionString;
  h->SetGal({Person("E2", "Bo", "Li")});
  h->store.FailSaves(1);
  EXPECT_ANY_THROW(service::contacts::RunContactJob(h->w, h->env, "local contacts export",
                                                    service::contacts::ExportAccessContactsToOutlook));
  ASSERT_EQ(h->w.FollowOnOutcomes.size(), 1u);
  EXPECT_EQ(h->w.FollowOnOutcomes[0].kind, service::FollowOnOutcome::Kind::Failed);
  EXPECT_THAT(h->control.events.back().text, ::testing::StartsWith("The local contacts export failed: -2147221227  "));
  EXPECT_THAT(FullNames(*h, "Contacts/Local"), ElementsAre("Ann O'Neil"));
  EXPECT_THAT(SubFolderNames(*h), ElementsAre("Local"));
  // The next run deletes the leftover work folder and rebuilds.
  h->Export();
  ASSERT_FALSE(h->failure) << *h->failure;
  EXPECT_THAT(SubFolderNames(*h), ElementsAre("Local"));
  EXPECT_THAT(FullNames(*h, "Contacts/Local"), ElementsAre("Bo Li"));
}

// The sync on an Oracle database: its statements and commits as text, and
// the removal passes ending at the 12th while the counts still differ.
TEST(PublicFolderSyncOracle, StatementsAndCommits) {
  JobHarness h("sqlite");
  auto db = ado::RecordingDatabase::LikeOracle();
  h.w.TableName = "GAL";
  h.control.settings["connectionstring"] = "DSN=oracle";
  h.w.NewConnection = db->Factory();
  using A = ado::ScriptedAnswer;
  db->When("select * from GAL_PFC_SyncData", A::Rows({"PFC_ENTRY_ID"}));
  db->When("select distinct * from GAL_PFC_SyncData a, GAL b where a.gal_entry_id = b.entry_id",
           A::Rows({"PFC_ENTRY_ID", "GAL_ENTRY_ID", "ENTRY_ID", "DISPLAY_NAME"}, {{"", "E1", "E1", "Ann"}}));
  db->When("select * from GAL where entry_id not in (select gal_entry_id from GAL_PFC_SyncData)",
           A::Rows({"ENTRY_ID", "DISPLAY_NAME"}, {{"E'2", "Bo"}}));
  db->WhenPrefix("select count(*) from GAL_PFC_SyncData where", A::Rows({"N"}, {{"1"}}));
  db->When("select count(*) from GAL_PFC_SyncData", A::Rows({"N"}, {{"5"}}));
  h.Sync();
  ASSERT_FALSE(h.failure) << *h.failure;

  std::vector<std::string> statements;
  int passes = 0;
  for (auto s : db->statements) {
    s = std::regex_replace(s, std::regex("'[0-9a-f]{20,}'"), "'<id>'");
    if (passes == 0 && s.rfind("select count(*) from GAL_PFC_SyncData where", 0) != 0) statements.push_back(s);
    if (s == "select count(*) from GAL_PFC_SyncData") ++passes;
  }
  EXPECT_THAT(statements,
              ElementsAre("sp_tables", "select sysdate from dual", "select * from GAL_PFC_SyncData",
                          "select distinct * from GAL_PFC_SyncData a, GAL b where a.gal_entry_id = b.entry_id",
                          "update GAL_PFC_SyncData set PFC_entry_id='<id>' where GAL_entry_id= 'E1'", "commit",
                          "commit",
                          "select * from GAL where entry_id not in (select gal_entry_id from GAL_PFC_SyncData)",
                          "insert into GAL_PFC_SyncData (PFC_entry_id, GAL_entry_id) values ('<id>','E''2')",
                          "commit",
                          "delete from GAL_pfc_syncdata where gal_entry_id not in (select entry_id from GAL)",
                          "Commit", "Commit", "select count(*) from GAL_PFC_SyncData"));
  EXPECT_EQ(passes, 12);
  EXPECT_EQ(db->statements.back(), "select count(*) from GAL_PFC_SyncData");  // no closing Commit
  EXPECT_TRUE(h.Logged("Add contact #:1"));
  EXPECT_TRUE(h.Logged("Added contact 1"));
}

}  // namespace
}  // namespace corvane::testing
