// The seam under the object model (outlook.h): a storage backend keeps the
// folders and contact records of one profile's stores; the object model
// adds the EntryIDs, the collections and the checks every store shares.
// Backends: MemoryStore (memory_store.h) and VCardFolderStore
// (vcard_folder_store.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/outlook/contact_record.h"

namespace corvane::outlook {

// Folder identifiers are 16 lowercase hexadecimal digits, unique in the
// store, kept for the folder's life. An item is named by its folder and a
// key: a text without '/' that does not begin with '.'.
struct FolderEntry {
  std::string id;
  std::string name;
};

// One profile's view of a store. Every method throws StoreError on failure;
// the item methods throw FolderGone() when the folder is gone, so callers
// need not ask FolderExists first.
class Storage {
 public:
  virtual ~Storage() = default;

  // The root of the public folder tree (created on first use).
  virtual std::string PublicRootId() = 0;
  // The profile mailbox's root folder and its default contacts folder
  // (created on first use); kErrNotFound when the profile names no mailbox.
  virtual std::string MailboxRootId() = 0;
  virtual std::string MailboxContactsId() = 0;
  // The profile's mailbox name; empty when it names none.
  virtual std::string MailboxName() = 0;

  // The folder's display name; nullopt when no such folder exists.
  virtual std::optional<std::string> FolderName(const std::string& id) = 0;
  virtual bool FolderExists(const std::string& id) { return FolderName(id).has_value(); }
  // The folder's parent; empty for a store's top folder (the public tree,
  // a mailbox) and nullopt when no such folder exists.
  virtual std::optional<std::string> ParentFolderId(const std::string& id) = 0;
  // The direct sub-folders, in the store's order.
  virtual std::vector<FolderEntry> SubFolders(const std::string& id) = 0;
  // Creates a sub-folder (the caller has checked the name).
  virtual FolderEntry CreateFolder(const std::string& parentId, const std::string& name) = 0;
  virtual void RenameFolder(const std::string& id, const std::string& name) = 0;
  // Removes the folder, its items and its sub-folders.
  virtual void DeleteFolder(const std::string& id) = 0;

  // The keys of the folder's items now.
  virtual std::vector<std::string> ItemKeys(const std::string& folderId) = 0;
  // nullopt when the item does not exist (or is not a contact the store can read).
  virtual std::optional<ContactRecord> LoadItem(const std::string& folderId, const std::string& key) = 0;
  // Stores atomically: a reader sees the old record or the new one. A
  // record equal to the stored one leaves the stored form untouched.
  virtual void SaveItem(const std::string& folderId, const std::string& key, const ContactRecord& record) = 0;
  // Removing an item that is gone already is no failure.
  virtual void DeleteItem(const std::string& folderId, const std::string& key) = 0;
};

// A mail store: hands out a Storage per profile logon.
class StoreBackend {
 public:
  virtual ~StoreBackend() = default;
  // The stores of `profile` (empty: the default profile). Fails with
  // kErrLogonFailed when the profile does not exist.
  virtual std::shared_ptr<Storage> Open(const std::string& profile) = 0;
};

// New item keys and folder identifiers: random hexadecimal texts of 32 and
// 16 digits.
std::string NewItemKey();
std::string NewFolderId();
bool IsFolderId(const std::string& text);
bool IsItemKey(const std::string& text);

}  // namespace corvane::outlook
