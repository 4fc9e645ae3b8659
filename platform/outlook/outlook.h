// The mail-store layer: the part of the mail client's object model that the
// contact jobs and the wizard use (application, namespace, folders, contact
// items, user properties) and the session the wizard lists public folders
// with. One implementation of these objects runs over a storage backend
// (storage.h): an in-memory store for tests and a store of vCard folders on
// disk, which address-book and CardDAV tools read.
//
// Every failing operation throws StoreError with a number and a
// description. Objects hold a share of their store and may outlive the
// namespace that handed them out. None of them is safe to share between
// threads.
//
// Listing the public folders on its own (what the wizard does):
//   outlook::Session session(backend);
//   session.Logon();                         // the default profile
//   for (const auto& store : session.InfoStores())
//     if (store.Name() == "Public Folders") {
//       auto tree = session.GetFolder(store.Fields(outlook::PR_IPM_PUBLIC_FOLDERS_ENTRYID), store.ID());
//       auto folders = tree.GetFolders();
//       for (auto f = folders.GetFirst(); f; f = folders.GetNext()) names.push_back(f->Name());
//     }
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outlook/contact_record.h"

namespace corvane::outlook {

class Storage;
class StoreBackend;

// Folder kinds of GetDefaultFolder and Folders::Add, item kind of Items::Add,
// user property type.
inline constexpr int olFolderContacts = 10;
inline constexpr int olPublicFoldersAllPublicFolders = 18;
inline constexpr int olContactItem = 2;
inline constexpr int olText = 1;
// The public store's field that holds the EntryID of the public folder tree.
inline constexpr uint32_t PR_IPM_PUBLIC_FOLDERS_ENTRYID = 0x66310102;

// Error numbers, as signed 32-bit values.
// An operation on a folder that no longer exists or can no longer be read
// (the folder object outlived its folder): "The operation failed."
inline constexpr int32_t kErrOperationFailed = -36437745;
inline constexpr int32_t kErrNotFound = -2147221233;        // 0x8004010F: no object with that EntryID
inline constexpr int32_t kErrLogonFailed = -2147221231;     // 0x80040111: unknown profile, no session
inline constexpr int32_t kErrCollision = -2147219964;       // 0x80040604: a sibling folder has that name
inline constexpr int32_t kErrNoSupport = -2147221246;       // 0x80040102: a kind or filter the store lacks
inline constexpr int32_t kErrInvalidArgument = -2147024809; // 0x80070057: an empty name, a deleted item
inline constexpr int32_t kErrDiskFailure = -2147221227;     // 0x80040115: the storage cannot be written

inline constexpr std::string_view kOperationFailedText = "The operation failed.";

class StoreError : public std::runtime_error {
 public:
  StoreError(int32_t number, std::string description)
      : std::runtime_error(description), Number(number), Description(std::move(description)) {}
  int32_t Number;
  std::string Description;
};

// The failure of an operation on a folder that is gone (or can no longer be
// read): kErrOperationFailed, "The operation failed."
inline StoreError FolderGone() { return StoreError(kErrOperationFailed, std::string(kOperationFailedText)); }

class ContactItem;
class Folder;

// A text user property of one contact item; writes go to the item (and to
// the store at the item's next Save).
class UserProperty {
 public:
  UserProperty(ContactItem& item, std::string name) : item_(&item), name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  std::string Value() const;
  void SetValue(const std::string& value);

 private:
  ContactItem* item_;
  std::string name_;
};

// A contact item. A new item (Items::Add) has an empty EntryID until its
// first successful Save; a failed Save of a new item leaves it empty.
class ContactItem {
 public:
  ContactItem(std::shared_ptr<Storage> storage, std::string folderId, std::string key, ContactRecord record);

  // The item's identifier: stable across processes and renames of its
  // folder; GetItemFromID finds the item by it. Empty while unsaved.
  std::string EntryID() const;
  const std::string& MessageClass() const { return record_.messageClass; }
  void SetMessageClass(const std::string& messageClass);
  // A contact property; empty when never written.
  const std::string& Get(ContactProperty property) const;
  // Writes a property; an empty text clears it.
  void Set(ContactProperty property, const std::string& value);
  // UserProperties.Add: adds a user property of `type` (only olText) and
  // returns it; a property of that name (any case) is returned as it is.
  UserProperty AddUserProperty(const std::string& name, int type);
  // The value of a user property; nullopt when the item has none of that name.
  std::optional<std::string> UserPropertyValue(const std::string& name) const;
  // Stores the item atomically; storing what is stored already writes nothing.
  void Save();
  // Removes the item from its folder; the object is dead afterwards.
  void Delete();
  // The folder the item is in; kErrOperationFailed when it is gone.
  Folder Parent() const;

  const ContactRecord& record() const { return record_; }

 private:
  friend class UserProperty;
  void CheckAlive() const;
  std::shared_ptr<Storage> storage_;
  std::string folderId_;
  std::string key_;  // empty until first saved
  ContactRecord record_;
  bool deleted_ = false;
};

// The items of a folder, all of them or those of one message class. Count
// is live (follows additions and deletions); GetFirst takes a snapshot of
// the folder's items that GetNext walks, so deleting the item in hand skips
// nothing. Items that vanish after the snapshot are passed over.
class Items {
 public:
  Items(std::shared_ptr<Storage> storage, std::string folderId, std::optional<std::string> messageClass = {});

  // A new, unsaved contact item in this folder (itemType olContactItem).
  ContactItem Add(int itemType);
  // The items matching "[MessageClass] = 'value'" (the only filter known).
  Items Restrict(const std::string& filter) const;
  int Count() const;
  std::optional<ContactItem> GetFirst();
  std::optional<ContactItem> GetNext();

 private:
  std::optional<ContactItem> NextMatch();
  std::shared_ptr<Storage> storage_;
  std::string folderId_;
  std::optional<std::string> messageClass_;
  std::vector<std::string> snapshot_;
  size_t next_ = 0;
};

class Folder;

// The sub-folders of a folder. GetFirst takes a snapshot in the store's
// order that GetNext walks; GetNext past the end gives no folder.
class Folders {
 public:
  Folders(std::shared_ptr<Storage> storage, std::string parentId);

  int Count() const;
  std::optional<Folder> GetFirst();
  std::optional<Folder> GetNext();
  // Creates a contacts folder (folderType olFolderContacts) named `name`
  // and returns it. An empty name, or one a sibling has, is refused.
  Folder Add(const std::string& name, int folderType);

 private:
  std::shared_ptr<Storage> storage_;
  std::string parentId_;
  std::vector<std::pair<std::string, std::string>> snapshot_;  // id, name
  size_t next_ = 0;
};

class Folder {
 public:
  Folder(std::shared_ptr<Storage> storage, std::string id, std::string name);

  // The display name: any text, compared exactly by the callers.
  const std::string& Name() const { return name_; }
  // Renames; an empty name, or one a sibling has, is refused.
  void SetName(const std::string& name);
  // Stable across renames and processes.
  const std::string& EntryID() const { return id_; }
  Folders GetFolders() const;
  // Fails with kErrOperationFailed when the folder no longer exists.
  Items GetItems() const;
  // Removes the folder with its items and sub-folders.
  void Delete();

 private:
  void CheckExists() const;
  std::shared_ptr<Storage> storage_;
  std::string id_;
  std::string name_;
};

// A session on one profile's stores.
class Namespace {
 public:
  explicit Namespace(StoreBackend& backend) : backend_(&backend) {}

  // Opens the profile's stores. The password, show-dialog and new-session
  // arguments are accepted and have no effect (there is no dialog).
  // Fails with kErrLogonFailed when the profile does not exist.
  void Logon(const std::string& profile, const std::string& password = "", bool showDialog = false,
             bool newSession = true);
  void Logoff();
  // olPublicFoldersAllPublicFolders: the root of the public folder tree;
  // olFolderContacts: the profile mailbox's default contacts folder.
  Folder GetDefaultFolder(int folderType);
  // Fails with kErrNotFound when no folder (or item) has that EntryID.
  Folder GetFolderFromID(const std::string& entryId);
  ContactItem GetItemFromID(const std::string& entryId);

 private:
  Storage& Stores();
  StoreBackend* backend_;
  std::shared_ptr<Storage> storage_;
};

// The mail client program: only its namespace is used.
class Application {
 public:
  explicit Application(StoreBackend& backend) : backend_(&backend) {}
  // Only the "MAPI" namespace exists.
  Namespace GetNamespace(const std::string& type);

 private:
  StoreBackend* backend_;
};

// One message store of a session: the public folders, or the mailbox.
class InfoStore {
 public:
  InfoStore(std::string name, std::string id, std::string rootId) : name_(std::move(name)), id_(std::move(id)), rootId_(std::move(rootId)) {}
  // "Public Folders", or "Mailbox - " and the mailbox.
  const std::string& Name() const { return name_; }
  const std::string& ID() const { return id_; }
  // A field of the store by property tag: PR_IPM_PUBLIC_FOLDERS_ENTRYID of
  // the public store is the public folder tree's EntryID. Others fail
  // with kErrNotFound.
  std::string Fields(uint32_t propertyTag) const;

 private:
  std::string name_, id_, rootId_;
};

// The messaging session of the wizard's public-folder list and of the
// local export's first logon.
class Session {
 public:
  explicit Session(StoreBackend& backend) : backend_(&backend) {}
  // Logs on to `profile`; an empty name logs on to the default profile.
  // Fails with kErrLogonFailed when there is no such profile.
  void Logon(const std::string& profile = "");
  void Logoff();
  // The stores of the profile: the public folders first, then its mailbox
  // when the profile names one.
  std::vector<InfoStore> InfoStores();
  // The folder with that EntryID in the store with that ID.
  Folder GetFolder(const std::string& entryId, const std::string& storeId);

 private:
  Storage& Stores();
  StoreBackend* backend_;
  std::shared_ptr<Storage> storage_;
};

}  // namespace corvane::outlook
