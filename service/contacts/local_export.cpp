// The local contacts export: the whole final table, one contact per row,
// into a sub-folder of the profile's default contacts folder. The new
// contents are built in a work folder ("<name>_TMP") and swapped in only
// after every row was written, so a failure leaves the previous folder
// whole. No failure is trapped.
#include <vector>

#include "platform/outlook/outlook.h"
#include "service/contacts/contact_jobs.h"
#include "service/contacts/contact_mapping.h"

namespace corvane::service::contacts {
namespace {

using outlook::Folder;

// The direct sub-folders of `parent` named `name`.
std::vector<Folder> SubFoldersNamed(const Folder& parent, const std::string& name) {
  std::vector<Folder> found;
  outlook::Folders folders = parent.GetFolders();
  for (auto f = folders.GetFirst(); f; f = folders.GetNext())
    if (f->Name() == name) found.push_back(*f);
  return found;
}

// Steps 7 and 8: a contact for every row of the final table.
void FillWorkFolder(ExportContext& w, const Folder& work);

}  // namespace

void ExportAccessContactsToOutlook(ExportContext& w, ContactJobEnvironment& env) {
  // The folder's name and the mail profile.
  const std::string name = w.GetSetting("localcontactname", "");
  const std::string workName = name + "_TMP";
  const std::string profile = ChooseProfile(w, env.hive).profile;
  outlook::Session session(env.store);
  session.Logon(profile);

  // A fresh work folder beside the export folder.
  outlook::Application app(env.store);
  outlook::Namespace ns = app.GetNamespace("MAPI");
  ns.Logon(profile, "", false, true);
  Folder contacts = ns.GetDefaultFolder(outlook::olFolderContacts);
  for (Folder& leftover : SubFoldersNamed(contacts, workName)) leftover.Delete();
  contacts.GetFolders().Add(workName, outlook::olFolderContacts);
  std::optional<Folder> work;
  outlook::Folders folders = contacts.GetFolders();
  for (auto f = folders.GetFirst(); f && !work; f = folders.GetNext())
    if (f->Name() == workName) work = f;
  if (!work) throw outlook::StoreError(outlook::kErrNotFound, "The work folder " + workName + " could not be found.");

  // Every row of the final table. A failure removes the partly filled
  // work folder before it is passed on, so that it holds no disk space
  // (and no personal data) until the next run.
  try {
    FillWorkFolder(w, *work);
  } catch (const std::exception&) {
    try {
      work->Delete();
    } catch (const std::exception&) {
      // The store that failed may refuse this as well; the next run deletes it.
    }
    throw;
  }

  // The swap: the work folder replaces the export folder. The old folder is only hidden by its deletion (it leaves
  // the disk when the session ends), so the address book is missing only
  // between two renames.
  contacts = ns.GetDefaultFolder(outlook::olFolderContacts);
  for (Folder& old : SubFoldersNamed(contacts, name)) old.Delete();
  for (Folder& fresh : SubFoldersNamed(contacts, workName)) fresh.SetName(name);
  ns.Logoff();
}

namespace {

void FillWorkFolder(ExportContext& w, const Folder& work) {
  std::string cs = w.GetSetting("connectionstring", "");
  if (cs.empty()) cs = "Need Connection String";
  auto conn = w.NewConnection();
  conn->Open(cs, "", "");
  auto rs = conn->CreateRecordset();
  rs->Open("select * from " + w.TableName, *conn, -1, -1, -1);
  // Moving to the first row of an empty table fails, as it does in ADO:
  // an empty table never replaces the folder.
  if (rs->IsEOF())
    throw ado::AdoError(ado::adErrNoCurrentRecord, "Corvane",
                        "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
                        "requires a current record.");
  rs->MoveFirst();
  outlook::Items items = work.GetItems();
  while (!rs->IsEOF()) {
    outlook::ContactItem contact = items.Add(outlook::olContactItem);
    contact.SetMessageClass(std::string(outlook::kContactMessageClass));
    WriteContactFields(contact, *rs, MappingPlace::LocalExport);
    contact.Save();
    rs->MoveNext();
  }
  rs->Close();
  conn->Close();
}

}  // namespace

}  // namespace corvane::service::contacts
