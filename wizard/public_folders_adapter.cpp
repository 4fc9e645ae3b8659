// Lists the folders directly under the public folder tree for the wizard:
// the messaging session's default logon, the store named "Public Folders",
// its folder tree (the store's PR_IPM_PUBLIC_FOLDERS_ENTRYID), and the
// tree's folders in the store's order. The store is the vCard folder store
// of the Corvane home (platform/outlook).
#include "platform/outlook/outlook.h"
#include "platform/outlook/vcard_folder_store.h"
#include "wizard/wizard_adapters.h"

namespace corvane::wizard {

PublicFolderListing ListPublicFolders() {
  PublicFolderListing listing;
  try {
    outlook::VCardFolderStore backend;
    outlook::Session session(backend);
    session.Logon();
    for (const auto& store : session.InfoStores()) {
      if (store.Name() != "Public Folders") continue;
      auto tree = session.GetFolder(store.Fields(outlook::PR_IPM_PUBLIC_FOLDERS_ENTRYID), store.ID());
      auto folders = tree.GetFolders();
      for (auto folder = folders.GetFirst(); folder; folder = folders.GetNext()) listing.names.push_back(folder->Name());
      return listing;
    }
    listing.failure = Failure{outlook::kErrNotFound, "No mail store named \"Public Folders\" is available"};
  } catch (const outlook::StoreError& e) {
    listing.failure = Failure{e.Number, e.Description};
  }
  return listing;
}

}  // namespace corvane::wizard
