#include "platform/outlook/vcard_folder_store.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <system_error>
#include <vector>

#include "platform/atomicfile/atomic_file.h"
#include "platform/mapi/profile_store.h"
#include "platform/outlook/outlook.h"
#include "platform/outlook/vcard.h"
#include "platform/registry/registry.h"

namespace corvane::outlook {
namespace fs = std::filesystem;
namespace {

constexpr const char* kMarkerFile = ".corvane-folder";
constexpr const char* kDisplayNameFile = "displayname";
constexpr const char* kRootParent = "-";  // the parent of a store's top folders
constexpr size_t kLongestDirectoryName = 200;

StoreError DiskFailure(const fs::path& path, const std::string& what) {
  return StoreError(kErrDiskFailure, fmt::format("The store cannot be used: {}: {}", path.string(), what));
}

// The file's bytes; nullopt when it does not exist (or is not a file).
std::optional<std::string> ReadFile(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == EISDIR) return std::nullopt;
    throw DiskFailure(path, std::strerror(errno));
  }
  std::string out;
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      ::close(fd);
      if (err == EISDIR) return std::nullopt;
      throw DiskFailure(path, std::strerror(err));
    }
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

// Replaces the file at once: a hidden temporary file beside it
// (".<name>.tmp-<random>"), then a rename. Contacts are personal data: the
// store's files are the owner's only (0600), its folders too (0700).
void WriteFileAtomically(const fs::path& path, const std::string& bytes) {
  files::AtomicWrite how;
  how.mode = 0600;
  how.temporaryTag = ".tmp-";
  how.randomTemporary = true;
  how.hiddenTemporary = true;
  how.syncFile = how.syncFolder = false;  // a rerun writes every file again
  try {
    files::WriteFileAtomically(path, bytes, how);
  } catch (const std::system_error& e) {
    throw DiskFailure(path, e.code().message());
  }
}

void MakeFolders(const fs::path& path) {
  try {
    files::MakeFolders(path, 0700);
  } catch (const std::system_error& e) {
    throw DiskFailure(path, e.code().message());
  }
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Temporary files left by a process that died while writing.
bool IsStaleTemporary(const fs::directory_entry& entry) {
  const std::string name = entry.path().filename().string();
  if (name.empty() || name[0] != '.' || name.find(".tmp-") == std::string::npos) return false;
  std::error_code ec;
  auto written = fs::last_write_time(entry.path(), ec);
  return !ec && fs::file_time_type::clock::now() - written > std::chrono::minutes(10);
}

// A folder directory that a process left on its way: ".new-<id>" (a
// folder being created) and ".deleted-<id>" (a folder being removed).
std::optional<std::string> LeftoverFolderId(const std::string& dir, const char* prefix) {
  const std::string p = prefix;
  if (dir.size() != p.size() + 16 || dir.compare(0, p.size(), p) != 0) return std::nullopt;
  std::string id = dir.substr(p.size());
  return IsFolderId(id) ? std::optional<std::string>(id) : std::nullopt;
}

bool OlderThanTenMinutes(const fs::path& path) {
  std::error_code ec;
  auto written = fs::last_write_time(path, ec);
  return !ec && fs::file_time_type::clock::now() - written > std::chrono::minutes(10);
}

class VCardFolderStorage : public Storage {
 public:
  VCardFolderStorage(fs::path root, std::string mailbox) : root_(std::move(root)), mailbox_(std::move(mailbox)) {}
  VCardFolderStorage(const VCardFolderStorage&) = delete;
  VCardFolderStorage& operator=(const VCardFolderStorage&) = delete;
  // Folders deleted in this session leave the disk now: the deletion only
  // hid them, so that a delete followed by a rename (the local export's
  // swap) takes two renames and no more.
  ~VCardFolderStorage() override {
    std::error_code ec;
    for (const auto& hidden : hidden_) fs::remove_all(hidden, ec);
  }

  std::string PublicRootId() override { return TopFolder("Public Folders"); }
  std::string MailboxRootId() override {
    if (mailbox_.empty()) throw StoreError(kErrNotFound, "The profile names no mailbox.");
    return TopFolder(mailbox_);
  }
  std::string MailboxContactsId() override {
    std::string mailboxRoot = MailboxRootId();
    for (const auto& child : SubFolders(mailboxRoot))
      if (child.name == "Contacts") return child.id;
    return CreateFolder(mailboxRoot, "Contacts").id;
  }
  std::string MailboxName() override { return mailbox_; }

  std::optional<std::string> FolderName(const std::string& id) override {
    auto path = Resolve(id);
    if (!path) return std::nullopt;
    return NameAt(*path);
  }

  bool FolderExists(const std::string& id) override { return Resolve(id).has_value(); }

  std::optional<std::string> ParentFolderId(const std::string& id) override {
    auto entry = Resolve(id) ? ReadEntry(id) : std::nullopt;
    if (!entry) return std::nullopt;
    return entry->first == kRootParent ? "" : entry->first;
  }

  std::vector<FolderEntry> SubFolders(const std::string& id) override {
    fs::path parent = Existing(id);
    std::vector<std::pair<std::string, FolderEntry>> found;  // directory name, entry
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(parent, ec)) {
      std::string dir = entry.path().filename().string();
      if (!entry.is_directory(ec)) continue;
      if (dir.empty() || dir[0] == '.') {
        RemoveLeftover(entry.path());
        continue;
      }
      std::string childId = MarkerAt(entry.path());
      if (!IsFolderId(childId)) {
        childId = Adopt(id, entry.path());
      } else if (!ReadEntry(childId)) {
        WriteEntry(childId, id, dir);  // the store's records were lost (restored without dot files)
      }
      found.emplace_back(dir, FolderEntry{childId, NameAt(entry.path())});
    }
    if (ec) throw DiskFailure(parent, ec.message());
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<FolderEntry> out;
    for (auto& [dir, entry] : found) out.push_back(std::move(entry));
    return out;
  }

  FolderEntry CreateFolder(const std::string& parentId, const std::string& name) override {
    fs::path parent = Existing(parentId);
    std::string id = NewFolderId();
    fs::path temp = parent / (".new-" + id);
    std::error_code ec;
    MakeFolders(temp);
    WriteFileAtomically(temp / kMarkerFile, id + "\n");
    WriteFileAtomically(temp / kDisplayNameFile, name);
    std::string dir = FreeDirectoryName(parent, name, id);
    WriteEntry(id, parentId, dir);
    fs::rename(temp, parent / dir, ec);
    if (ec) {
      fs::remove_all(temp);
      ::unlink(EntryPath(id).c_str());
      throw DiskFailure(parent / dir, ec.message());
    }
    cache_[id] = parent / dir;
    return {id, name};
  }

  void RenameFolder(const std::string& id, const std::string& name) override {
    fs::path path = Existing(id);
    auto entry = ReadEntry(id);
    if (!entry) throw FolderGone();
    WriteFileAtomically(path / kDisplayNameFile, name);
    std::string dir = path.filename().string();
    if (dir != SafeDirectoryName(name)) {
      dir = FreeDirectoryName(path.parent_path(), name, id);
      if (dir == path.filename().string()) return;
      std::error_code ec;
      fs::rename(path, path.parent_path() / dir, ec);
      if (ec) throw DiskFailure(path, ec.message());
      WriteEntry(id, entry->first, dir);
      cache_[id] = path.parent_path() / dir;
    }
  }

  void DeleteFolder(const std::string& id) override {
    fs::path path = Existing(id);
    std::vector<std::string> ids{id};
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
      if (it->path().filename() == kMarkerFile) ids.push_back(MarkerAt(it->path().parent_path()));
    // Out of sight at once, then gone.
    fs::path hidden = path.parent_path() / (".deleted-" + id);
    fs::rename(path, hidden, ec);
    if (ec) throw DiskFailure(path, ec.message());
    for (const auto& gone : ids) {
      ::unlink(EntryPath(gone).c_str());
      cache_.erase(gone);
    }
    hidden_.push_back(hidden);  // removed when the session ends
  }

  std::vector<std::string> ItemKeys(const std::string& folderId) override {
    fs::path folder = Existing(folderId);
    std::vector<std::string> keys;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      std::string file = entry.path().filename().string();
      if (IsStaleTemporary(entry)) {
        fs::remove(entry.path(), ec);
        continue;
      }
      if (file.size() <= 4 || file.compare(file.size() - 4, 4, ".vcf") != 0) continue;
      std::string key = file.substr(0, file.size() - 4);
      if (IsItemKey(key) && entry.is_regular_file(ec)) keys.push_back(key);
    }
    if (ec) throw DiskFailure(folder, ec.message());
    return keys;
  }

  std::optional<ContactRecord> LoadItem(const std::string& folderId, const std::string& key) override {
    if (!IsItemKey(key)) return std::nullopt;
    auto text = ReadFile(Existing(folderId) / (key + ".vcf"));
    if (!text) return std::nullopt;
    // A damaged file (empty, not a vCard, cut short) is an empty contact:
    // its next save replaces it in place, under the same UID, and a
    // deletion removes it.
    return ReadVCard(*text, key).value_or(ContactRecord{});
  }

  void SaveItem(const std::string& folderId, const std::string& key, const ContactRecord& record) override {
    if (!IsItemKey(key)) throw StoreError(kErrInvalidArgument, "Not an item key: " + key);
    fs::path file = Existing(folderId) / (key + ".vcf");
    std::string bytes = WriteVCard(record, key);
    if (ReadFile(file) == bytes) return;  // unchanged: same bytes, same time
    WriteFileAtomically(file, bytes);
  }

  void DeleteItem(const std::string& folderId, const std::string& key) override {
    if (!IsItemKey(key)) return;
    fs::path file = Existing(folderId) / (key + ".vcf");
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) throw DiskFailure(file, std::strerror(errno));
  }

 private:
  fs::path EntryPath(const std::string& id) const { return root_ / ".corvane-store" / "folders" / id; }

  // The entry of folder `id`: its parent's id and its directory name.
  std::optional<std::pair<std::string, std::string>> ReadEntry(const std::string& id) {
    if (!IsFolderId(id)) return std::nullopt;
    auto text = ReadFile(EntryPath(id));
    if (!text) return std::nullopt;
    size_t nl = text->find('\n');
    if (nl == std::string::npos) return std::nullopt;
    return std::make_pair(text->substr(0, nl), FirstLine(text->substr(nl + 1)));
  }
  void WriteEntry(const std::string& id, const std::string& parentId, const std::string& dir) {
    MakeFolders(EntryPath(id).parent_path());
    WriteFileAtomically(EntryPath(id), parentId + "\n" + dir + "\n");
  }

  std::string MarkerAt(const fs::path& dir) {
    auto text = ReadFile(dir / kMarkerFile);
    return text ? FirstLine(*text) : "";
  }
  std::string NameAt(const fs::path& dir) {
    auto text = ReadFile(dir / kDisplayNameFile);
    return text ? *text : NameFromDirectory(dir.filename().string());
  }

  // Gives a directory without a folder marker its identity: the one the
  // store records for it (its marker was lost, say by a restore that skips
  // dot files), else a new one (an address book a person made by hand).
  std::string Adopt(const std::string& parentId, const fs::path& dir) {
    if (auto recorded = RecordedFolderId(parentId, dir)) return *recorded;
    std::string id = NewFolderId();
    if (!fs::exists(dir / kDisplayNameFile)) WriteFileAtomically(dir / kDisplayNameFile, NameAt(dir));
    WriteFileAtomically(dir / kMarkerFile, id + "\n");
    WriteEntry(id, parentId, dir.filename().string());
    return id;
  }

  // The folder the store records at directory `dir` of `parentId` (the
  // marker is written back by Resolve); nullopt when there is none.
  std::optional<std::string> RecordedFolderId(const std::string& parentId, const fs::path& dir) {
    std::error_code ec;
    for (const auto& file : fs::directory_iterator(root_ / ".corvane-store" / "folders", ec)) {
      const std::string id = file.path().filename().string();
      auto entry = ReadEntry(id);
      if (!entry || entry->first != parentId || entry->second != dir.filename().string()) continue;
      if (auto at = Resolve(id); at && *at == dir) return id;
    }
    return std::nullopt;
  }

  // Writes the missing records of the folders under `dir` (whose folder is
  // `dirId`) from their markers: the store's records were lost (a restore
  // that skips dot files), its folders were not. Once per session.
  void RecordAll(const fs::path& dir, const std::string& dirId) {
    recordedAll_ = true;
    std::error_code ec;
    for (const auto& child : fs::directory_iterator(dir, ec)) {
      const std::string name = child.path().filename().string();
      if (name.empty() || name[0] == '.' || !child.is_directory(ec)) continue;
      const std::string id = MarkerAt(child.path());
      if (!IsFolderId(id)) continue;
      if (!ReadEntry(id)) WriteEntry(id, dirId, name);
      RecordAll(child.path(), id);
    }
  }

  // Removes what a process left when it died: a hidden folder of a
  // deletion (at once: nobody needs it) or a creation (after ten minutes:
  // it may be another process's creation in progress), with the records
  // of the folders in it.
  void RemoveLeftover(const fs::path& path) {
    const std::string dir = path.filename().string();
    if (std::find(hidden_.begin(), hidden_.end(), path) != hidden_.end()) return;
    if (!LeftoverFolderId(dir, ".deleted-") && !(LeftoverFolderId(dir, ".new-") && OlderThanTenMinutes(path))) return;
    std::vector<std::string> ids;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
      if (it->path().filename() == kMarkerFile) ids.push_back(MarkerAt(it->path().parent_path()));
    fs::remove_all(path, ec);
    for (const auto& id : ids)
      if (IsFolderId(id) && !Resolve(id)) ::unlink(EntryPath(id).c_str());
  }

  // A directory name for `name` under `parent` that no other folder uses.
  std::string FreeDirectoryName(const fs::path& parent, const std::string& name, const std::string& id) {
    std::string dir = SafeDirectoryName(name);
    if (fs::exists(parent / dir)) dir += "~" + id.substr(0, 8);
    return dir;
  }

  // The directory of folder `id`, in constant time: the cached or recorded
  // place, checked against the folder's marker. A folder moved behind our
  // back (a rename that a crash cut short) is looked for among its
  // parent's directories and its entry mended.
  std::optional<fs::path> Resolve(const std::string& id) {
    if (!IsFolderId(id)) return std::nullopt;
    if (auto it = cache_.find(id); it != cache_.end()) {
      if (MarkerAt(it->second) == id) return it->second;
      cache_.erase(it);
    }
    auto entry = ReadEntry(id);
    if (!entry && !recordedAll_) {
      RecordAll(root_, kRootParent);
      entry = ReadEntry(id);
    }
    if (!entry) return std::nullopt;
    std::optional<fs::path> parent = entry->first == kRootParent ? std::optional<fs::path>(root_) : Resolve(entry->first);
    if (!parent) return std::nullopt;
    fs::path path = *parent / entry->second;
    std::error_code ec;
    const std::string marker = MarkerAt(path);
    if (!IsFolderId(marker) && !entry->second.empty() && fs::is_directory(path, ec)) {
      // The recorded directory lost its marker: it is still this folder.
      WriteFileAtomically(path / kMarkerFile, id + "\n");
    } else if (marker != id) {
      std::optional<fs::path> moved;
      for (const auto& child : fs::directory_iterator(*parent, ec)) {
        const std::string dir = child.path().filename().string();
        if (!dir.empty() && dir[0] != '.' && child.is_directory(ec) && MarkerAt(child.path()) == id) moved = child.path();
      }
      if (!moved) return std::nullopt;
      path = *moved;
      WriteEntry(id, entry->first, path.filename().string());
    }
    cache_[id] = path;
    return path;
  }
  fs::path Existing(const std::string& id) {
    auto path = Resolve(id);
    if (!path) throw FolderGone();
    return *path;
  }

  // A folder at the top of the store (the public tree, a mailbox), made on
  // first use.
  std::string TopFolder(const std::string& name) {
    if (auto it = topFolders_.find(name); it != topFolders_.end()) return it->second;
    fs::path dir = root_ / SafeDirectoryName(name);
    std::string id = MarkerAt(dir);
    if (!IsFolderId(id)) {
      MakeFolders(dir);
      id = RecordedFolderId(kRootParent, dir).value_or(NewFolderId());
      WriteFileAtomically(dir / kDisplayNameFile, name);
      WriteFileAtomically(dir / kMarkerFile, id + "\n");
    }
    if (!ReadEntry(id)) WriteEntry(id, kRootParent, dir.filename().string());
    topFolders_[name] = id;
    return id;
  }

  fs::path root_;
  std::string mailbox_;
  std::map<std::string, fs::path> cache_;
  std::map<std::string, std::string> topFolders_;
  std::vector<fs::path> hidden_;  // deleted in this session, still on disk
  bool recordedAll_ = false;      // RecordAll ran in this session
};

std::string ProfileKey(const std::string& profile) { return std::string(mapi::kProfilesKey) + "\\" + profile; }

// The default profile: named by the profiles key, else the only one.
std::string DefaultProfile(const registry::Hive& hive) {
  if (auto named = hive.Get(mapi::kProfilesKey, kDefaultProfileValue); named && !named->AsText().empty())
    return named->AsText();
  const std::string prefix = std::string(mapi::kProfilesKey) + "\\";
  std::vector<std::string> profiles;
  for (const auto& key : hive.Keys())
    if (key.size() > prefix.size() && strncasecmp(key.c_str(), prefix.c_str(), prefix.size()) == 0 &&
        key.find('\\', prefix.size()) == std::string::npos)
      profiles.push_back(key.substr(prefix.size()));
  if (profiles.size() != 1)
    throw StoreError(kErrLogonFailed, profiles.empty() ? "There is no mail profile."
                                                       : "There are several mail profiles and none is the default.");
  return profiles.front();
}

}  // namespace

VCardFolderStore::VCardFolderStore(std::optional<fs::path> defaultRoot) : defaultRoot_(std::move(defaultRoot)) {}

std::shared_ptr<Storage> VCardFolderStore::Open(const std::string& requested) {
  try {
    registry::Hive hive = registry::Hive::Machine();
    const std::string profile = requested.empty() ? DefaultProfile(hive) : requested;
    if (profile.find('\\') != std::string::npos || !hive.KeyExists(ProfileKey(profile)))
      throw StoreError(kErrLogonFailed, fmt::format("The mail profile \"{}\" does not exist.", profile));
    std::string mailbox;
    if (auto exchange = mapi::ReadExchangeProfile(profile)) mailbox = exchange->mailbox;
    fs::path root = defaultRoot_.value_or(registry::CorvaneHome() / "mailstore");
    if (auto named = hive.Get(ProfileKey(profile), kMailStoreValue); named && !named->AsText().empty())
      root = registry::CorvaneHome() / named->AsText();  // an absolute path stays as it is
    return std::make_shared<VCardFolderStorage>(root, mailbox);
  } catch (const registry::RegistryError& e) {
    throw StoreError(kErrLogonFailed, fmt::format("The mail profiles cannot be read: {}", e.what()));
  }
}

std::string SafeDirectoryName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool escape = c == '/' || c == '\\' || c == '%' || c < 0x20 || c == 0x7F || (i == 0 && c == '.');
    out += escape ? fmt::format("%{:02X}", c) : std::string(1, static_cast<char>(c));
  }
  if (out.size() > kLongestDirectoryName) {
    // Shortened at a character boundary, with a hash of the whole name so
    // that two long names stay apart.
    uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ULL;
    size_t cut = kLongestDirectoryName - 17;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    while (cut > 0 && out[cut - 1] == '%') --cut;
    if (cut > 1 && out[cut - 2] == '%') cut -= 2;
    out = out.substr(0, cut) + fmt::format("~{:016x}", hash);
  }
  return out;
}

std::string NameFromDirectory(const std::string& directory) {
  std::string out;
  for (size_t i = 0; i < directory.size(); ++i) {
    if (directory[i] == '%' && i + 2 < directory.size() && std::isxdigit(static_cast<unsigned char>(directory[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(directory[i + 2]))) {
      out += static_cast<char>(std::stoi(directory.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += directory[i];
    }
  }
  return out;
}

}  // namespace corvane::outlook
