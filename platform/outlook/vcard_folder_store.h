// The mail store on disk: one directory of vCard files per folder, read as
// they are by address-book tools (khard) and CardDAV sync tools
// (vdirsyncer's filesystem storage).
//
//   <root>/Public Folders/                 the public folder tree
//   <root>/Public Folders/<folder>/        a public contacts folder
//   <root>/<mailbox>/Contacts/             a mailbox's default contacts folder
//   <folder>/<key>.vcf                     one contact (vCard 3.0, UID = key)
//   <folder>/displayname                   the folder's name as shown
//   <folder>/.corvane-folder               the folder's identifier
//   <root>/.corvane-store/folders/<id>     where folder <id> is: its parent and directory
//
// A directory's name is a safe form of the folder's name ('/', '\', '%',
// control characters and a leading '.' written as %XX), so no name leads
// out of the store. Every file is written to a temporary file in the same
// directory and renamed into place: a reader (or a process killed half
// way) never meets half a file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/outlook/storage.h"

namespace corvane::outlook {

// The profile key value that names a store root other than the default.
inline constexpr const char* kMailStoreValue = "MailStore";
// The value under the profiles key naming the default profile.
inline constexpr const char* kDefaultProfileValue = "DefaultProfile";

class VCardFolderStore : public StoreBackend {
 public:
  // `defaultRoot`: the store root for profiles that name none; without
  // it, $CORVANE_HOME/mailstore at each logon.
  explicit VCardFolderStore(std::optional<std::filesystem::path> defaultRoot = std::nullopt);

  // Profiles are those of the MAPI layer (registry key
  // SOFTWARE\Corvane\MAPI\Profiles); the mailbox is the one its Exchange
  // service names. An empty name is the profile named by the profiles
  // key's "DefaultProfile" value, else the only profile there is.
  std::shared_ptr<Storage> Open(const std::string& profile) override;

 private:
  std::optional<std::filesystem::path> defaultRoot_;
};

// The directory name for a folder name, and back.
std::string SafeDirectoryName(const std::string& name);
std::string NameFromDirectory(const std::string& directory);

}  // namespace corvane::outlook
