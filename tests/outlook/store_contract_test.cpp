// What every mail store guarantees, run against the in-memory store and
// the vCard folder store alike.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <fstream>
#include <set>

#include "tests/outlook/store_fixture.h"

namespace corvane::testing {
namespace {

using namespace outlook;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;

class StoreContract : public ::testing::TestWithParam<std::string> {
 protected:
  StoreContract() : store(GetParam()) {}

  Namespace Logon() {
    Namespace ns = Application(*store.backend).GetNamespace("MAPI");
    ns.Logon("TWCorvane", "", false, true);
    return ns;
  }
  Folder PublicFolder(Namespace& ns, const std::string& name) {
    return ns.GetDefaultFolder(olPublicFoldersAllPublicFolders).GetFolders().Add(name, olFolderContacts);
  }
  static std::vector<std::string> Names(Folders folders) {
    std::vector<std::string> names;
    for (auto f = folders.GetFirst(); f; f = folders.GetNext()) names.push_back(f->Name());
    return names;
  }
  template <class Op>
  static int32_t FailureOf(Op&& op) {
    try {
      op();
    } catch (const StoreError& e) {
      return e.Number;
    }
    return 0;
  }

  TestStore store;
};

TEST_P(StoreContract, LogonNeedsAnExistingProfile) {
  Namespace ns = Application(*store.backend).GetNamespace("MAPI");
  EXPECT_EQ(FailureOf([&] { ns.Logon("NoSuchProfile"); }), kErrLogonFailed);
  EXPECT_EQ(FailureOf([&] { ns.GetDefaultFolder(olFolderContacts); }), kErrLogonFailed);
  ns.Logon("TWCorvane");
  EXPECT_EQ(ns.GetDefaultFolder(olFolderContacts).Name(), "Contacts");
}

TEST_P(StoreContract, FolderNamesAreAnyTextAndStayInsideTheStore) {
  Namespace ns = Logon();
  const std::vector<std::string> names = {"a/b", "..", ".", "back\\slash", "../../escape", "%41", "Ünïcødé 名前",
                                          std::string(300, 'x'), std::string(299, 'x') + "y"};
  for (const auto& name : names) PublicFolder(ns, name);
  EXPECT_THAT(Names(Logon().GetDefaultFolder(olPublicFoldersAllPublicFolders).GetFolders()),
              UnorderedElementsAreArray(names));
  EXPECT_EQ(FailureOf([&] { PublicFolder(ns, ".."); }), kErrCollision);
  EXPECT_EQ(FailureOf([&] { PublicFolder(ns, ""); }), kErrInvalidArgument);
  if (store.kind == "vcard") {
    // Nothing was made beside the store root, and every folder is one
    // directory directly under the public tree.
    std::set<std::string> top;
    for (const auto& e : std::filesystem::directory_iterator(store.home.dir())) top.insert(e.path().filename());
    EXPECT_EQ(top, (std::set<std::string>{"mailstore", "registry.hive", "registry.hive.lock"}));
    int dirs = 0;
    for (const auto& e : std::filesystem::directory_iterator(store.root() / "Public Folders"))
      dirs += e.is_directory() ? 1 : 0;
    EXPECT_EQ(dirs, static_cast<int>(names.size()));
    // Personal data: the store's folders and files are their owner's only.
    for (const auto& e : std::filesystem::recursive_directory_iterator(store.root()))
      EXPECT_EQ(e.status().permissions(), e.is_directory() ? std::filesystem::perms::owner_all
                                                           : std::filesystem::perms::owner_read |
                                                                 std::filesystem::perms::owner_write)
          << e.path();
  }
}

TEST_P(StoreContract, EntryIDsSurviveRenamesAndNewSessions) {
  Namespace ns = Logon();
  Folder folder = PublicFolder(ns, "Staff");
  ContactItem item = folder.GetItems().Add(olContactItem);
  EXPECT_EQ(item.EntryID(), "");
  item.Set(ContactProperty::FullName, "Ann O'Neil");
  item.Save();
  const std::string itemId = item.EntryID(), folderId = folder.EntryID();
  folder.SetName("Staff/renamed");
  EXPECT_EQ(folder.EntryID(), folderId);

  Namespace later = Logon();  // another session, as another process would have
  EXPECT_EQ(later.GetFolderFromID(folderId).Name(), "Staff/renamed");
  EXPECT_EQ(later.GetItemFromID(itemId).Get(ContactProperty::FullName), "Ann O'Neil");
  EXPECT_EQ(later.GetItemFromID(itemId).EntryID(), itemId);

  later.GetItemFromID(itemId).Delete();
  EXPECT_EQ(FailureOf([&] { ns.GetItemFromID(itemId); }), kErrNotFound);
  EXPECT_EQ(FailureOf([&] { ns.GetItemFromID(""); }), kErrNotFound);
  EXPECT_EQ(FailureOf([&] { ns.GetItemFromID(folderId + "2e2e2f2e2e2f6574632f706173737764"); }), kErrNotFound);
  later.GetFolderFromID(folderId).Delete();
  EXPECT_EQ(FailureOf([&] { ns.GetFolderFromID(folderId); }), kErrNotFound);
  // The folder object outlived its folder: "The operation failed."
  EXPECT_EQ(FailureOf([&] { folder.GetItems(); }), kErrOperationFailed);
}

TEST_P(StoreContract, EveryPropertyReadsBackEqual) {
  Namespace ns = Logon();
  ContactItem item = PublicFolder(ns, "All").GetItems().Add(olContactItem);
  item.SetMessageClass("IPM.Contact");
  for (size_t i = 0; i < kContactPropertyCount; ++i) {
    auto p = static_cast<ContactProperty>(i);
    item.Set(p, std::string(PropertyName(p)) + ", a; b\\c \"d\" ü " + std::string(i * 3, 'z'));
  }
  item.Set(ContactProperty::BusinessAddressStreet, "1 Quay\r\nFloor 2");
  item.Set(ContactProperty::HomeAddressStreet, "line\none");
  item.Set(ContactProperty::User1, "");
  item.AddUserProperty("EntryID", olText).SetValue("00000000ABCDEF");
  item.AddUserProperty("RawPhoneData", olText).SetValue("+44 (20) 7946-0000");
  item.AddUserProperty("entryid", olText).SetValue("00000000ABCDEF01");  // the same property
  item.Save();
  ContactItem back = Logon().GetItemFromID(item.EntryID());
  EXPECT_EQ(back.record(), item.record());
  EXPECT_EQ(back.UserPropertyValue("EntryID"), "00000000ABCDEF01");
  EXPECT_EQ(FailureOf([&] { item.AddUserProperty("Number", 3); }), kErrNoSupport);
}

TEST_P(StoreContract, AnUnchangedSaveWritesNothing) {
  Namespace ns = Logon();
  ContactItem item = PublicFolder(ns, "Staff").GetItems().Add(olContactItem);
  item.Set(ContactProperty::LastName, "Okafor");
  item.Save();
  const std::string before = store.Fingerprint();
  ContactItem again = Logon().GetItemFromID(item.EntryID());
  again.Set(ContactProperty::LastName, "Okafor");
  again.Save();
  EXPECT_EQ(store.Fingerprint(), before);
  again.Set(ContactProperty::LastName, "Okafor-Mensah");
  again.Save();
  EXPECT_NE(store.Fingerprint(), before);
}

TEST_P(StoreContract, RestrictedCountFollowsAdditionsAndDeletions) {
  Namespace ns = Logon();
  Folder folder = PublicFolder(ns, "Staff");
  Items contacts = folder.GetItems().Restrict("[MessageClass] = 'IPM.Contact'");
  for (int i = 0; i < 3; ++i) folder.GetItems().Add(olContactItem).Save();
  ContactItem note = folder.GetItems().Add(olContactItem);
  note.SetMessageClass("IPM.Contact.Other");
  note.Save();
  EXPECT_EQ(contacts.Count(), 3);
  EXPECT_EQ(folder.GetItems().Count(), 4);
  int seen = 0;
  for (auto c = contacts.GetFirst(); c; c = contacts.GetNext()) {
    c->Delete();  // deleting the item in hand skips none
    ++seen;
  }
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(contacts.Count(), 0);
  EXPECT_EQ(FailureOf([&] { folder.GetItems().Restrict("[FullName] = 'x'"); }), kErrNoSupport);
}

TEST_P(StoreContract, FoldersAddRenameDeleteAndWalk) {
  Namespace ns = Logon();
  Folder contacts = ns.GetDefaultFolder(olFolderContacts);
  Folder work = contacts.GetFolders().Add("Corvane_TMP", olFolderContacts);
  work.GetFolders().Add("Inner", olFolderContacts);
  Folder old = contacts.GetFolders().Add("Corvane", olFolderContacts);
  old.GetItems().Add(olContactItem).Save();
  EXPECT_EQ(FailureOf([&] { work.SetName("Corvane"); }), kErrCollision);
  old.Delete();
  work.SetName("Corvane");
  EXPECT_THAT(Names(Logon().GetDefaultFolder(olFolderContacts).GetFolders()), ElementsAre("Corvane"));
  EXPECT_THAT(Names(work.GetFolders()), ElementsAre("Inner"));
  EXPECT_EQ(FailureOf([&] { contacts.Delete(); }), kErrNoSupport);
  EXPECT_EQ(FailureOf([&] { contacts.GetFolders().Add("Mail", 1); }), kErrNoSupport);
}

TEST_P(StoreContract, SessionListsThePublicFolderTree) {
  Namespace ns = Logon();
  PublicFolder(ns, "Corvane Contacts");
  PublicFolder(ns, "Sales");
  Session session(*store.backend);
  session.Logon();  // the default profile
  std::vector<std::string> stores, names;
  for (const auto& info : session.InfoStores()) {
    stores.push_back(info.Name());
    if (info.Name() != "Public Folders") continue;
    Folders folders = session.GetFolder(info.Fields(PR_IPM_PUBLIC_FOLDERS_ENTRYID), info.ID()).GetFolders();
    names = Names(folders);
    EXPECT_FALSE(folders.GetNext().has_value());
  }
  EXPECT_THAT(stores, ElementsAre("Public Folders", "Mailbox - corvane.service"));
  EXPECT_THAT(names, UnorderedElementsAreArray({"Corvane Contacts", "Sales"}));
  EXPECT_EQ(FailureOf([&] { session.InfoStores().back().Fields(PR_IPM_PUBLIC_FOLDERS_ENTRYID); }), kErrNotFound);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreContract, ::testing::Values("memory", "vcard"),
                         [](const auto& info) { return info.param; });

// The vCard folder store after what a restore that skips dot files, damage
// or a killed process leaves: folders keep their identifiers (so every
// EntryID the sync table holds stays good), a damaged card reads as an
// empty contact whose save replaces it in place, and leftovers of dead
// processes go when their parent folder is listed.
TEST(VCardFolderStore, RecoversFromLostMarkersDamageAndLeftovers) {
  namespace fs = std::filesystem;
  TestStore store("vcard");
  auto logon = [&] {
    Namespace ns = Application(*store.backend).GetNamespace("MAPI");
    ns.Logon("TWCorvane");
    return ns;
  };
  auto listed = [&](Namespace& ns) {
    std::vector<std::string> ids;
    Folders folders = ns.GetDefaultFolder(olPublicFoldersAllPublicFolders).GetFolders();
    for (auto f = folders.GetFirst(); f; f = folders.GetNext()) ids.push_back(f->EntryID());
    return ids;
  };
  Namespace first = logon();
  Folder staff = first.GetDefaultFolder(olPublicFoldersAllPublicFolders).GetFolders().Add("Staff", olFolderContacts);
  std::vector<std::string> items;
  for (const char* name : {"Ann", "Bo", "Cy"}) {
    ContactItem c = staff.GetItems().Add(olContactItem);
    c.Set(ContactProperty::FullName, name);
    c.Save();
    items.push_back(c.EntryID());
  }
  const fs::path publicDir = store.root() / "Public Folders", dir = publicDir / "Staff";
  for (const auto& lost : {std::vector<fs::path>{dir / ".corvane-folder"},
                           std::vector<fs::path>{dir / ".corvane-folder", publicDir / ".corvane-folder"},
                           std::vector<fs::path>{store.root() / ".corvane-store"}}) {
    for (const auto& path : lost) fs::remove_all(path);
    Namespace ns = logon();
    EXPECT_EQ(ns.GetItemFromID(items[0]).Get(ContactProperty::FullName), "Ann") << lost.front();
    EXPECT_THAT(listed(ns), ElementsAre(staff.EntryID())) << lost.front();
    EXPECT_EQ(ns.GetItemFromID(items[1]).Get(ContactProperty::FullName), "Bo") << lost.front();
  }

  // Damaged cards: empty, garbage, cut short.
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".vcf") files.push_back(e.path());
  ASSERT_EQ(files.size(), 3u);
  std::ofstream(files[0], std::ios::trunc).flush();
  std::ofstream(files[1], std::ios::trunc) << "\x01\x02 not a card";
  std::string card;
  std::getline(std::ifstream(files[2]), card, '\0');
  std::ofstream(files[2], std::ios::trunc) << card.substr(0, card.size() / 2);
  Namespace ns = logon();
  for (const auto& id : items) {
    ContactItem c = ns.GetItemFromID(id);
    EXPECT_EQ(c.Get(ContactProperty::FullName), "");
    c.Set(ContactProperty::FullName, "Mended");
    c.Save();
  }
  std::set<fs::path> after;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".vcf") after.insert(e.path());
  EXPECT_EQ(after, std::set<fs::path>(files.begin(), files.end()));  // the same files, now whole
  EXPECT_EQ(logon().GetItemFromID(items[2]).Get(ContactProperty::FullName), "Mended");

  // Leftovers: a deletion and a creation cut short long ago, a creation in progress.
  const fs::path deleted = publicDir / ".deleted-0123456789abcdef", oldNew = publicDir / ".new-0123456789abcdee",
                 freshNew = publicDir / ".new-0123456789abcded";
  for (const auto& d : {deleted, oldNew, freshNew}) {
    fs::create_directories(d);
    std::ofstream(d / "x.vcf") << "BEGIN:VCARD\r\nEND:VCARD\r\n";
  }
  fs::last_write_time(oldNew, fs::file_time_type::clock::now() - std::chrono::hours(1));
  Namespace later = logon();
  listed(later);
  EXPECT_FALSE(fs::exists(deleted));
  EXPECT_FALSE(fs::exists(oldNew));
  EXPECT_TRUE(fs::exists(freshNew));
}

}  // namespace
}  // namespace corvane::testing
