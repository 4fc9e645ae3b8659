#include "platform/outlook/memory_store.h"

#include <fmt/format.h>

#include <set>
#include <vector>

#include "platform/outlook/outlook.h"

namespace corvane::outlook {

struct MemoryStore::Data {
  struct FolderData {
    std::string name;
    std::string parent;
    std::vector<std::string> children;  // in creation order
    std::map<std::string, ContactRecord> items;
  };
  std::map<std::string, FolderData> folders;
  std::string publicRoot;
  std::map<std::string, std::string> mailboxRoots;  // mailbox -> root id
  std::set<std::string> unreadable;
  int failSaves = 0;
  long writes = 0;

  std::string AddFolder(const std::string& parent, const std::string& name) {
    std::string id = NewFolderId();
    folders[id] = FolderData{name, parent, {}, {}};
    if (!parent.empty()) folders[parent].children.push_back(id);
    return id;
  }
  FolderData* Find(const std::string& id) {
    auto it = folders.find(id);
    return it == folders.end() ? nullptr : &it->second;
  }
  // The folder, for an operation on it; "The operation failed." when it is gone.
  FolderData& Existing(const std::string& id) {
    FolderData* f = Find(id);
    if (!f) throw FolderGone();
    return *f;
  }
  // The folder, for an operation on its items.
  FolderData& Readable(const std::string& id) {
    if (unreadable.count(id)) throw FolderGone();
    return Existing(id);
  }
  void Remove(const std::string& id) {
    FolderData* f = Find(id);
    if (!f) return;
    for (const auto& child : std::vector<std::string>(f->children)) Remove(child);
    if (FolderData* parent = Find(f->parent)) std::erase(parent->children, id);
    unreadable.erase(id);
    folders.erase(id);
  }
};

namespace {

class MemoryStorage : public Storage {
 public:
  MemoryStorage(std::shared_ptr<MemoryStore::Data> data, std::string mailbox)
      : data_(std::move(data)), mailbox_(std::move(mailbox)) {}

  std::string PublicRootId() override {
    if (data_->publicRoot.empty()) data_->publicRoot = data_->AddFolder("", "Public Folders");
    return data_->publicRoot;
  }
  std::string MailboxRootId() override {
    if (mailbox_.empty()) throw StoreError(kErrNotFound, "The profile names no mailbox.");
    std::string& root = data_->mailboxRoots[mailbox_];
    if (root.empty()) {
      root = data_->AddFolder("", mailbox_);
      data_->AddFolder(root, "Contacts");
    }
    return root;
  }
  std::string MailboxContactsId() override {
    auto& root = data_->folders[MailboxRootId()];
    for (const auto& child : root.children)
      if (data_->folders[child].name == "Contacts") return child;
    return data_->AddFolder(MailboxRootId(), "Contacts");
  }
  std::string MailboxName() override { return mailbox_; }

  std::optional<std::string> FolderName(const std::string& id) override {
    auto* f = data_->Find(id);
    return f ? std::optional<std::string>(f->name) : std::nullopt;
  }
  std::optional<std::string> ParentFolderId(const std::string& id) override {
    auto* f = data_->Find(id);
    return f ? std::optional<std::string>(f->parent) : std::nullopt;
  }
  std::vector<FolderEntry> SubFolders(const std::string& id) override {
    std::vector<FolderEntry> out;
    for (const auto& child : data_->Existing(id).children) out.push_back({child, data_->folders[child].name});
    return out;
  }
  FolderEntry CreateFolder(const std::string& parentId, const std::string& name) override {
    data_->Existing(parentId);
    return {data_->AddFolder(parentId, name), name};
  }
  void RenameFolder(const std::string& id, const std::string& name) override { data_->Existing(id).name = name; }
  void DeleteFolder(const std::string& id) override {
    data_->Existing(id);
    data_->Remove(id);
  }

  std::vector<std::string> ItemKeys(const std::string& folderId) override {
    std::vector<std::string> keys;
    for (const auto& [key, record] : data_->Readable(folderId).items) keys.push_back(key);
    return keys;
  }
  std::optional<ContactRecord> LoadItem(const std::string& folderId, const std::string& key) override {
    auto& items = data_->Readable(folderId).items;
    auto it = items.find(key);
    return it == items.end() ? std::nullopt : std::optional<ContactRecord>(it->second);
  }
  void SaveItem(const std::string& folderId, const std::string& key, const ContactRecord& record) override {
    auto& items = data_->Readable(folderId).items;
    if (data_->failSaves > 0) {
      --data_->failSaves;
      throw StoreError(kErrDiskFailure, "The store cannot be written (injected failure).");
    }
    auto it = items.find(key);
    if (it != items.end() && it->second == record) return;
    items[key] = record;
    ++data_->writes;
  }
  void DeleteItem(const std::string& folderId, const std::string& key) override {
    data_->Readable(folderId).items.erase(key);
  }

 private:
  std::shared_ptr<MemoryStore::Data> data_;
  std::string mailbox_;
};

}  // namespace

MemoryStore::MemoryStore() : data_(std::make_shared<Data>()) {}

void MemoryStore::AddProfile(const std::string& profile, const std::string& mailbox) {
  profiles_[profile] = mailbox;
  if (defaultProfile_.empty()) defaultProfile_ = profile;
}

std::shared_ptr<Storage> MemoryStore::Open(const std::string& profile) {
  const std::string& name = profile.empty() ? defaultProfile_ : profile;
  auto it = profiles_.find(name);
  if (it == profiles_.end())
    throw StoreError(kErrLogonFailed, profile.empty() ? "There is no default profile."
                                                      : fmt::format("The profile \"{}\" does not exist.", profile));
  return std::make_shared<MemoryStorage>(data_, it->second);
}

void MemoryStore::MakeUnreadable(const std::string& folderId) { data_->unreadable.insert(folderId); }
void MemoryStore::FailSaves(int count) { data_->failSaves = count; }
long MemoryStore::writes() const { return data_->writes; }

}  // namespace corvane::outlook
