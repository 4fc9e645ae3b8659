// The object model over a Storage: EntryIDs, collections, and the checks
// every store shares (names, kinds, folders that are gone).
#include <fmt/format.h>
#include <strings.h>

#include <random>
#include <regex>

#include "platform/outlook/outlook.h"
#include "platform/outlook/storage.h"

namespace corvane::outlook {
namespace {

// An item's EntryID: its folder's identifier followed by its key in
// hexadecimal, so that it is plain [0-9a-f] text whatever the key holds.
std::string ItemEntryId(const std::string& folderId, const std::string& key) {
  std::string out = folderId;
  for (unsigned char c : key) out += fmt::format("{:02x}", c);
  return out;
}

// The folder and key of an item EntryID; nullopt when it names no item.
std::optional<std::pair<std::string, std::string>> SplitItemEntryId(const std::string& entryId) {
  constexpr size_t kFolderIdLength = 16;
  if (entryId.size() <= kFolderIdLength || (entryId.size() - kFolderIdLength) % 2 != 0) return std::nullopt;
  std::string folderId = entryId.substr(0, kFolderIdLength);
  if (!IsFolderId(folderId)) return std::nullopt;
  std::string key;
  for (size_t i = kFolderIdLength; i < entryId.size(); i += 2) {
    auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    };
    int hi = digit(entryId[i]), lo = digit(entryId[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    key.push_back(static_cast<char>(hi * 16 + lo));
  }
  if (!IsItemKey(key)) return std::nullopt;
  return std::make_pair(folderId, key);
}

StoreError NotFound(const std::string& what) {
  return StoreError(kErrNotFound, fmt::format("The object could not be found: no {} has this EntryID.", what));
}

// The message class a Restrict filter selects: "[MessageClass] = 'IPM.Contact'".
std::string RestrictedClass(const std::string& filter) {
  static const std::regex pattern(R"(^\s*\[MessageClass\]\s*=\s*'([^']*)'\s*$)", std::regex::icase);
  std::smatch m;
  if (!std::regex_match(filter, m, pattern))
    throw StoreError(kErrNoSupport, "The restriction is not supported: " + filter);
  return m[1];
}

// Refuses an empty name and one a sibling of `selfId` already has.
void CheckFolderName(Storage& storage, const std::string& parentId, const std::string& name,
                     const std::string& selfId = "") {
  if (name.empty()) throw StoreError(kErrInvalidArgument, "A folder name cannot be empty.");
  for (const auto& sibling : storage.SubFolders(parentId))
    if (sibling.name == name && sibling.id != selfId)
      throw StoreError(kErrCollision, fmt::format("A folder named \"{}\" already exists here.", name));
}

}  // namespace

// -- identifiers ----------------------------------------------------------

namespace {
std::string RandomHex(size_t digits) {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string out;
  while (out.size() < digits) out += fmt::format("{:016x}", engine());
  out.resize(digits);
  return out;
}
bool IsLowerHex(const std::string& s) { return s.find_first_not_of("0123456789abcdef") == std::string::npos; }
}  // namespace

std::string NewItemKey() { return RandomHex(32); }
std::string NewFolderId() { return RandomHex(16); }
bool IsFolderId(const std::string& text) { return text.size() == 16 && IsLowerHex(text); }
bool IsItemKey(const std::string& text) {
  return !text.empty() && text.size() <= 200 && text[0] != '.' && text.find('/') == std::string::npos &&
         text.find('\0') == std::string::npos;
}

// -- user properties and contact items ------------------------------------

std::string UserProperty::Value() const { return item_->UserPropertyValue(name_).value_or(""); }

void UserProperty::SetValue(const std::string& value) {
  item_->CheckAlive();
  std::string* slot = item_->record_.FindUserProperty(name_);
  if (!slot) {
    item_->record_.userProperties.emplace_back(name_, value);
  } else {
    *slot = value;
  }
}

ContactItem::ContactItem(std::shared_ptr<Storage> storage, std::string folderId, std::string key, ContactRecord record)
    : storage_(std::move(storage)), folderId_(std::move(folderId)), key_(std::move(key)), record_(std::move(record)) {}

std::string ContactItem::EntryID() const { return key_.empty() || deleted_ ? "" : ItemEntryId(folderId_, key_); }

void ContactItem::CheckAlive() const {
  if (deleted_) throw StoreError(kErrInvalidArgument, "The item has been deleted.");
}

void ContactItem::SetMessageClass(const std::string& messageClass) {
  CheckAlive();
  record_.messageClass = messageClass;
}

const std::string& ContactItem::Get(ContactProperty property) const { return record_.Get(property); }

void ContactItem::Set(ContactProperty property, const std::string& value) {
  CheckAlive();
  record_.Get(property) = value;
}

UserProperty ContactItem::AddUserProperty(const std::string& name, int type) {
  CheckAlive();
  if (type != olText) throw StoreError(kErrNoSupport, fmt::format("User property type {} is not supported.", type));
  if (name.empty()) throw StoreError(kErrInvalidArgument, "A user property needs a name.");
  for (const auto& [stored, value] : record_.userProperties)
    if (strcasecmp(stored.c_str(), name.c_str()) == 0) return UserProperty(*this, stored);
  record_.userProperties.emplace_back(name, "");
  return UserProperty(*this, name);
}

std::optional<std::string> ContactItem::UserPropertyValue(const std::string& name) const {
  const std::string* value = record_.FindUserProperty(name);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

void ContactItem::Save() {
  CheckAlive();
  std::string key = key_.empty() ? NewItemKey() : key_;
  storage_->SaveItem(folderId_, key, record_);
  key_ = key;  // only a stored item has an EntryID
}

void ContactItem::Delete() {
  CheckAlive();
  if (!key_.empty()) storage_->DeleteItem(folderId_, key_);
  deleted_ = true;
}

Folder ContactItem::Parent() const {
  auto name = storage_->FolderName(folderId_);
  if (!name) throw FolderGone();
  return Folder(storage_, folderId_, *name);
}

// -- item collections ------------------------------------------------------

Items::Items(std::shared_ptr<Storage> storage, std::string folderId, std::optional<std::string> messageClass)
    : storage_(std::move(storage)), folderId_(std::move(folderId)), messageClass_(std::move(messageClass)) {}

ContactItem Items::Add(int itemType) {
  if (itemType != olContactItem)
    throw StoreError(kErrNoSupport, fmt::format("Item type {} is not supported; only contacts.", itemType));
  if (!storage_->FolderExists(folderId_)) throw FolderGone();
  return ContactItem(storage_, folderId_, "", ContactRecord{});
}

Items Items::Restrict(const std::string& filter) const { return Items(storage_, folderId_, RestrictedClass(filter)); }

int Items::Count() const {
  int count = 0;
  for (const auto& key : storage_->ItemKeys(folderId_)) {
    if (!messageClass_) {
      ++count;
      continue;
    }
    auto record = storage_->LoadItem(folderId_, key);
    if (record && record->messageClass == *messageClass_) ++count;
  }
  return count;
}

std::optional<ContactItem> Items::GetFirst() {
  snapshot_ = storage_->ItemKeys(folderId_);
  next_ = 0;
  return NextMatch();
}

std::optional<ContactItem> Items::GetNext() { return NextMatch(); }

std::optional<ContactItem> Items::NextMatch() {
  while (next_ < snapshot_.size()) {
    const std::string& key = snapshot_[next_++];
    auto record = storage_->LoadItem(folderId_, key);
    if (!record || (messageClass_ && record->messageClass != *messageClass_)) continue;
    return ContactItem(storage_, folderId_, key, std::move(*record));
  }
  return std::nullopt;
}

// -- folders -----------------------------------------------------------------

Folders::Folders(std::shared_ptr<Storage> storage, std::string parentId)
    : storage_(std::move(storage)), parentId_(std::move(parentId)) {}

int Folders::Count() const { return static_cast<int>(storage_->SubFolders(parentId_).size()); }

std::optional<Folder> Folders::GetFirst() {
  snapshot_.clear();
  for (auto& entry : storage_->SubFolders(parentId_)) snapshot_.emplace_back(entry.id, entry.name);
  next_ = 0;
  return GetNext();
}

std::optional<Folder> Folders::GetNext() {
  if (next_ >= snapshot_.size()) return std::nullopt;
  const auto& [id, name] = snapshot_[next_++];
  return Folder(storage_, id, name);
}

Folder Folders::Add(const std::string& name, int folderType) {
  if (folderType != olFolderContacts)
    throw StoreError(kErrNoSupport, fmt::format("Folder type {} is not supported; only contacts folders.", folderType));
  if (!storage_->FolderExists(parentId_)) throw FolderGone();
  CheckFolderName(*storage_, parentId_, name);
  FolderEntry entry = storage_->CreateFolder(parentId_, name);
  return Folder(storage_, entry.id, entry.name);
}

Folder::Folder(std::shared_ptr<Storage> storage, std::string id, std::string name)
    : storage_(std::move(storage)), id_(std::move(id)), name_(std::move(name)) {}

void Folder::CheckExists() const {
  if (!storage_->FolderExists(id_)) throw FolderGone();
}

void Folder::SetName(const std::string& name) {
  CheckExists();
  if (name == name_) return;
  auto parent = storage_->ParentFolderId(id_);
  if (!parent) throw FolderGone();
  if (parent->empty()) throw StoreError(kErrNoSupport, "The root of a store cannot be renamed.");
  CheckFolderName(*storage_, *parent, name, id_);
  storage_->RenameFolder(id_, name);
  name_ = name;
}

Folders Folder::GetFolders() const {
  CheckExists();
  return Folders(storage_, id_);
}

Items Folder::GetItems() const {
  CheckExists();
  return Items(storage_, id_);
}

void Folder::Delete() {
  auto parent = storage_->ParentFolderId(id_);
  if (!parent) throw FolderGone();
  if (parent->empty() || (!storage_->MailboxName().empty() && id_ == storage_->MailboxContactsId()))
    throw StoreError(kErrNoSupport, "A store's own folders cannot be deleted.");
  storage_->DeleteFolder(id_);
}

// -- namespace, application, session ---------------------------------------

void Namespace::Logon(const std::string& profile, const std::string&, bool, bool) { storage_ = backend_->Open(profile); }

void Namespace::Logoff() { storage_.reset(); }

Storage& Namespace::Stores() {
  if (!storage_) throw StoreError(kErrLogonFailed, "Not logged on.");
  return *storage_;
}

Folder Namespace::GetDefaultFolder(int folderType) {
  Storage& stores = Stores();
  std::string id;
  if (folderType == olPublicFoldersAllPublicFolders) {
    id = stores.PublicRootId();
  } else if (folderType == olFolderContacts) {
    id = stores.MailboxContactsId();
  } else {
    throw StoreError(kErrNoSupport, fmt::format("Default folder {} is not supported.", folderType));
  }
  return Folder(storage_, id, stores.FolderName(id).value_or(""));
}

Folder Namespace::GetFolderFromID(const std::string& entryId) {
  Storage& stores = Stores();
  std::optional<std::string> name;
  if (IsFolderId(entryId)) name = stores.FolderName(entryId);
  if (!name) throw NotFound("folder");
  return Folder(storage_, entryId, *name);
}

ContactItem Namespace::GetItemFromID(const std::string& entryId) {
  Storage& stores = Stores();
  auto parts = SplitItemEntryId(entryId);
  if (!parts || !stores.FolderExists(parts->first)) throw NotFound("item");
  auto record = stores.LoadItem(parts->first, parts->second);
  if (!record) throw NotFound("item");
  return ContactItem(storage_, parts->first, parts->second, std::move(*record));
}

Namespace Application::GetNamespace(const std::string& type) {
  if (strcasecmp(type.c_str(), "MAPI") != 0)
    throw StoreError(kErrNoSupport, "Only the \"MAPI\" namespace exists, not \"" + type + "\".");
  return Namespace(*backend_);
}

std::string InfoStore::Fields(uint32_t propertyTag) const {
  if (propertyTag == PR_IPM_PUBLIC_FOLDERS_ENTRYID && name_ == "Public Folders") return rootId_;
  throw StoreError(kErrNotFound, fmt::format("The store has no field {:08X}.", propertyTag));
}

void Session::Logon(const std::string& profile) { storage_ = backend_->Open(profile); }

void Session::Logoff() { storage_.reset(); }

Storage& Session::Stores() {
  if (!storage_) throw StoreError(kErrLogonFailed, "Not logged on.");
  return *storage_;
}

std::vector<InfoStore> Session::InfoStores() {
  Storage& stores = Stores();
  std::vector<InfoStore> out;
  std::string publicRoot = stores.PublicRootId();
  out.emplace_back("Public Folders", publicRoot, publicRoot);
  if (!stores.MailboxName().empty()) {
    std::string mailboxRoot = stores.MailboxRootId();
    out.emplace_back("Mailbox - " + stores.MailboxName(), mailboxRoot, mailboxRoot);
  }
  return out;
}

Folder Session::GetFolder(const std::string& entryId, const std::string& storeId) {
  Storage& stores = Stores();
  bool knownStore = storeId.empty() || storeId == stores.PublicRootId() ||
                    (!stores.MailboxName().empty() && storeId == stores.MailboxRootId());
  std::optional<std::string> name;
  if (knownStore && IsFolderId(entryId)) name = stores.FolderName(entryId);
  if (!name) throw NotFound("folder");
  return Folder(storage_, entryId, *name);
}

}  // namespace corvane::outlook
