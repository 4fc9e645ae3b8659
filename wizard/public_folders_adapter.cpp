// Lists the folders directly under the public folder tree for the wizard.
// The mail-store session is not part of this build yet, so the listing
// finds no store named "Public Folders". Replace this file's body with the
// walk through platform/outlook's session (logon, the "Public Folders"
// store, the folder tree's folders in order); nothing else needs to change.
#include "wizard/wizard_adapters.h"

namespace corvane::wizard {

PublicFolderListing ListPublicFolders() {
  PublicFolderListing listing;
  listing.failure = Failure{-2147221233, "No mail store named \"Public Folders\" is available (MAPI_E_NOT_FOUND)"};
  return listing;
}

}  // namespace corvane::wizard
