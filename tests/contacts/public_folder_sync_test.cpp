// The public-folder sync on the in-memory store, against SQLite and
// PostgreSQL.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "platform/outlook/vcard.h"
#include "platform/outlook/vcard_folder_store.h"

#include "tests/contacts/contacts_fixture.h"

namespace corvane::testing {
namespace {

using outlook::ContactProperty;
using ::testing::UnorderedElementsAre;

const std::string kFolder = "Public Folders/Corvane Contacts";

// GAL entry id -> the contact's full name, for every contact of the folder.
std::map<std::string, std::string> Named(const std::vector<outlook::ContactItem>& contacts) {
  std::map<std::string, std::string> out;
  for (const auto& c : contacts) out[c.UserPropertyValue("EntryID").value_or("?")] = c.Get(ContactProperty::FullName);
  return out;
}

TEST_P(ContactJobTest, FirstSyncCreatesTheSyncTableAndAddsEveryRow) {
  h->SetGal({Person("E1", "Ann", "O'Neil"), Person("E2", "Bo", "Li")});
  h->Sync();
  ASSERT_FALSE(h->failure) << *h->failure;
  EXPECT_TRUE(h->Logged("No Records in SyncTable: " + h->w.TableName + "_PFC_Syncdata, exiting"));
  EXPECT_TRUE(h->Logged("Added contact 1"));
  EXPECT_TRUE(h->Logged("Added contact 2"));
  auto contacts = h->ContactsIn(kFolder);
  EXPECT_EQ(Named(contacts), (std::map<std::string, std::string>{{"E1", "Ann O'Neil"}, {"E2", "Bo Li"}}));
  std::multimap<std::string, std::string> expected;
  for (const auto& c : contacts) expected.emplace(c.EntryID(), c.UserPropertyValue("EntryID").value_or(""));
  EXPECT_EQ(h->SyncRows(), expected);
  EXPECT_EQ(h->doEvents, 2);  // once per contact

  // An unchanged list: every contact refreshed in place, nothing stored anew.
  const long writes = h->store.writes();
  h->Sync();
  EXPECT_TRUE(h->Logged("SyncTableExists"));
  EXPECT_TRUE(h->Logged("Sync contact #:2"));
  EXPECT_EQ(h->store.writes(), writes);
  EXPECT_EQ(h->SyncRows(), expected);
}

TEST_P(ContactJobTest, HandEditsAndGalChangesAreFollowedInOneRun) {
  GalRow ann = Person("E1", "Ann", "O'Neil"), bo = Person("E2", "Bo", "Li"), cy = Person("E3", "Cy", "Ng");
  ann["ASSISTANT"] = "Dee";
  bo["ASSISTANT"] = "Eve";
  cy["ASSISTANT"] = "Fay";
  h->SetGal({ann, bo, cy});
  h->Sync();
  auto folder = h->FolderAt(kFolder);
  ASSERT_TRUE(folder);
  // By hand: Bo's contact deleted, a stranger added.
  for (auto& c : h->ContactsIn(kFolder))
    if (c.UserPropertyValue("EntryID") == "E2") c.Delete();
  outlook::ContactItem stranger = folder->GetItems().Add(outlook::olContactItem);
  stranger.Set(ContactProperty::FullName, "Stranger");
  stranger.Save();
  // In the GAL: Cy gone, Ann's assistant emptied, Bo's Null.
  ann["ASSISTANT"] = "";
  bo["ASSISTANT"] = std::nullopt;
  h->SetGal({ann, bo});

  h->Sync();
  ASSERT_FALSE(h->failure) << *h->failure;
  auto contacts = h->ContactsIn(kFolder);
  EXPECT_EQ(Named(contacts), (std::map<std::string, std::string>{{"E1", "Ann O'Neil"}, {"E2", "Bo Li"}}));
  for (const auto& c : contacts) {
    // An empty value clears the property; a Null leaves it (here: none,
    // as Bo's contact was made afresh).
    EXPECT_EQ(c.Get(ContactProperty::AssistantName), "") << c.Get(ContactProperty::FullName);
    EXPECT_EQ(h->SyncRows().count(c.EntryID()), 1u);
  }
  EXPECT_EQ(h->SyncRows().size(), 2u);
  EXPECT_TRUE(h->Logged("Add contact #:2") || h->Logged("Add contact #:1"));
}

TEST_P(ContactJobTest, AnUnreadableTargetFolderStartsAfresh) {
  h->SetGal({Person("E1", "Ann", "O'Neil"), Person("E2", "Bo", "Li")});
  h->Sync();
  h->store.MakeUnreadable(h->FolderAt(kFolder)->EntryID());
  h->Sync();  // the sync table is emptied and the folder deleted; the add phase cannot open it
  EXPECT_TRUE(h->failure);
  EXPECT_FALSE(h->FolderAt(kFolder));
  EXPECT_TRUE(h->SyncRows().empty());
  h->Sync();  // the next run makes the folder again and adds every row
  ASSERT_FALSE(h->failure) << *h->failure;
  EXPECT_EQ(h->ContactsIn(kFolder).size(), 2u);
  EXPECT_EQ(h->SyncRows().size(), 2u);
}

TEST_P(ContactJobTest, AFailedSaveIsMadeGoodByTheNextRun) {
  h->SetGal({Person("E1", "Ann", "O'Neil"), Person("E2", "Bo", "Li")});
  h->store.FailSaves(1);
  service::contacts::RunContactJob(h->w, h->env, "public-folder contact sync",
                                   service::contacts::CreatePublicFolderContacts);
  // The failed save is logged as such before its row's line, and the job
  // that did part of its work says so in an error event and its outcome.
  auto at = [&](const std::string& prefix) {
    return std::find_if(h->entries.begin(), h->entries.end(), [&](const auto& e) { return e.starts_with(prefix); });
  };
  ASSERT_NE(at("Contact 1 was not saved: "), h->entries.end());
  EXPECT_LT(at("Contact 1 was not saved: "), at("Added contact 1"));
  ASSERT_EQ(h->control.events.size(), 1u);
  EXPECT_EQ(h->control.events[0].id, 109);
  EXPECT_THAT(h->control.events[0].text, ::testing::StartsWith("The public-folder contact sync completed only in part: 1 failure"));
  ASSERT_EQ(h->w.FollowOnOutcomes.size(), 1u);
  EXPECT_EQ(h->w.FollowOnOutcomes[0].kind, service::FollowOnOutcome::Kind::Partial);
  EXPECT_EQ(h->ContactsIn(kFolder).size(), 1u);
  EXPECT_EQ(h->SyncRows().count(""), 1u);  // the row is there, without a contact
  h->Sync();
  EXPECT_EQ(h->ContactsIn(kFolder).size(), 2u);
  EXPECT_EQ(h->SyncRows().count(""), 0u);
  EXPECT_TRUE(h->Logged("Add contact #:1") || h->Logged("Add contact #:2"));
}

// A new "cmbsubs": the new folder gets every contact; the old one is left
// as it was, and the run log says it is no longer kept in step.
TEST_P(ContactJobTest, AChangedFolderIsFilledAndTheOldOneLeftAsItIs) {
  h->SetGal({Person("E1", "Ann", "O'Neil"), Person("E2", "Bo", "Li")});
  h->Sync();
  h->SetGal({Person("E1", "Ann", "Okafor"), Person("E2", "Bo", "Li")});
  h->control.settings["cmbsubs"] = "Staff";
  h->Sync();
  ASSERT_FALSE(h->failure) << *h->failure;
  EXPECT_EQ(Named(h->ContactsIn(kFolder)), (std::map<std::string, std::string>{{"E1", "Ann O'Neil"}, {"E2", "Bo Li"}}));
  auto staff = h->ContactsIn("Public Folders/Staff");
  EXPECT_EQ(Named(staff), (std::map<std::string, std::string>{{"E1", "Ann Okafor"}, {"E2", "Bo Li"}}));
  for (const auto& c : staff) EXPECT_EQ(h->SyncRows().count(c.EntryID()), 1u);
  EXPECT_TRUE(h->Logged("The contacts in folder Corvane Contacts are no longer kept in step: they stay as they are, "
                        "and the contacts now go to Staff"));
}

// On the vCard store: a folder restored without its hidden marker (and
// then without the store's records too), and damaged cards, keep the same
// files, so a CardDAV client sees no address book rewritten.
TEST_P(ContactJobTest, AFolderRestoredWithoutDotFilesKeepsItsCards) {
  namespace fs = std::filesystem;
  TempHome::AddProfile("TWCorvane", "corvane.service");
  outlook::VCardFolderStore vcards;
  service::contacts::ContactJobEnvironment env{vcards, registry::Hive::Machine()};
  const fs::path root = h->home.dir() / "mailstore", dir = root / "Public Folders" / "Corvane Contacts";
  auto cards = [&] {
    std::map<std::string, std::string> out;  // file -> its full name
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().extension() != ".vcf") continue;
      std::ifstream in(e.path(), std::ios::binary);
      auto card = outlook::ReadVCard(std::string(std::istreambuf_iterator<char>(in), {}), e.path().stem());
      out[e.path().filename()] = card ? card->Get(ContactProperty::FullName) : "<damaged>";
    }
    return out;
  };
  h->SetGal({Person("E1", "Ann", "O'Neil"), Person("E2", "Bo", "Li"), Person("E3", "Cy", "Ng")});
  service::contacts::CreatePublicFolderContacts(h->w, env);
  const auto before = cards();
  ASSERT_EQ(before.size(), 3u);

  fs::remove(dir / ".corvane-folder");
  std::ofstream(dir / before.begin()->first, std::ios::trunc) << "BEGIN:VCARD\r\nFN:Ann O";
  std::ofstream(dir / std::next(before.begin())->first, std::ios::trunc).flush();
  service::contacts::CreatePublicFolderContacts(h->w, env);
  EXPECT_EQ(cards(), before);

  fs::remove(dir / ".corvane-folder");
  fs::remove_all(root / ".corvane-store");
  h->entries.clear();
  service::contacts::CreatePublicFolderContacts(h->w, env);
  EXPECT_EQ(cards(), before);
  EXPECT_TRUE(h->Logged("Sync contact #:3"));
  EXPECT_EQ(h->SyncRows().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Databases, ContactJobTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

// Where the sync puts its contacts: the folder search and creation rules
// (SQLite only; they do not depend on the database).
struct FolderCase {
  std::vector<std::string> existing;  // made before the sync, in this order
  std::string cmbsubs;
  std::string expected;  // the folder that receives the contacts
};

class FolderRules : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderRules, FindOrCreateTheTarget) {
  JobHarness h("sqlite");
  h.SetGal({Person("E1", "Ann", "O'Neil")});
  for (const auto& path : GetParam().existing) {
    const size_t slash = path.rfind('/');
    h.FolderAt(path.substr(0, slash))->GetFolders().Add(path.substr(slash + 1), outlook::olFolderContacts);
  }
  h.control.settings["cmbsubs"] = GetParam().cmbsubs;
  h.Sync();
  ASSERT_FALSE(h.failure) << *h.failure;
  EXPECT_EQ(h.ContactsIn(GetParam().expected).size(), 1u) << GetParam().expected;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderRules,
    ::testing::Values(
        // A sub-folder of an earlier top-level folder wins over a later top-level one.
        FolderCase{{"Public Folders/A", "Public Folders/A/Staff", "Public Folders/Staff"}, "Staff",
                   "Public Folders/A/Staff"},
        FolderCase{{"Public Folders/Contacts"}, "Contacts\\Staff", "Public Folders/Contacts/Staff"},
        FolderCase{{}, "Contacts\\Staff", "Public Folders/Contacts/Staff"},
        FolderCase{{"Public Folders/A"}, "A\\B\\C", "Public Folders/A/B\\C"},
        FolderCase{{"Public Folders/x", "Public Folders/y"}, "y", "Public Folders/y"},
        FolderCase{{}, "..", "Public Folders/.."}));

TEST(PublicFolderSync, StopsEarlyWithoutAFolderNameOrConnection) {
  JobHarness h("sqlite");
  h.control.settings["cmbsubs"] = "";
  h.Sync();
  EXPECT_TRUE(h.Logged("Public Contacts folder name is blank, exiting"));
  h.control.settings["cmbsubs"] = "Corvane Contacts";
  h.control.settings["connectionstring"] = "";
  h.Sync();
  EXPECT_FALSE(h.failure);
  EXPECT_THAT(std::vector<std::string>(h.entries.end() - 2, h.entries.end()),
              ::testing::ElementsAre("Connection String: ", "Connection String Not found, exiting"));
  h.control.settings["UseAltProfile"] = "0";
  registry::Hive::Machine().Set(registry::kParametersKeyPath, "txtAltProfile", registry::Value::Sz("Nobody"));
  h.Sync();
  EXPECT_TRUE(h.Logged("Using AltProfile:Nobody"));
  EXPECT_TRUE(h.failure);  // no such profile: the logon fails
}

}  // namespace
}  // namespace corvane::testing
