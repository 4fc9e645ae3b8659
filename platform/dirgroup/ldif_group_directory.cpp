// The group directory in an LDIF file: read with the directory layer's
// LDIF reader; a change rewrites the one entry it concerns (or appends it)
// and replaces the file atomically, every other byte of it unchanged.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <sstream>

#include "platform/atomicfile/dead_leftovers.h"
#include "platform/atomicfile/atomic_file.h"
#include "platform/dirgroup/backends.h"
#include "platform/dirgroup/ldif_text.h"
#include "platform/mapi/base64.h"
#include "platform/mapi/last_error.h"
#include "platform/mapi/ldif_reader.h"

namespace corvane::dirgroup {
namespace {

namespace fs = std::filesystem;

// The file is written as "<file>.dsimport.<process id>" first.
constexpr const char* kTemporaryTag = ".dsimport.";

[[noreturn]] void ThrowLastError() { throw DirectoryError(MAPIGetLastErrorText()); }

std::string Errno(const std::string& what, const fs::path& file) {
  return fmt::format("cannot {} {}: {}", what, file.string(), std::strerror(errno));
}

// Replaces `file` (the target, where it is a symbolic link) with `text`:
// a temporary file beside it with the same mode, fsync, rename, fsync of
// the folder. Readers see the old file or the new one, never a mix. What
// a killed dsimport left there (possibly as large as the file) goes first.
void ReplaceFile(const fs::path& named, const std::string& text) {
  files::AtomicWrite how;
  how.keepMode = true;
  how.throughSymlink = true;
  how.temporaryTag = kTemporaryTag;
  try {
    files::RemoveDeadLeftovers(files::LinkTarget(named), kTemporaryTag);
    files::WriteFileAtomically(named, text, how);
  } catch (const std::system_error& e) {
    throw DirectoryError(e.what());
  }
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) throw DirectoryError(Errno("read", path));
  return text.str();
}

// Removes from an entry's text the lines that give `attribute` one of
// `values`, keeping every other line (and its folding) as it is.
std::string RemoveValues(const std::string& entry, const std::string& attribute, const std::set<std::string>& values) {
  std::string canonical = mapi::CanonicalAttributeName(attribute), out, logical, raw;
  auto flush = [&] {
    size_t colon = logical.find(':');
    bool drop = false;
    if (logical[0] != '#' && colon != std::string::npos &&
        mapi::CanonicalAttributeName(std::string_view(logical).substr(0, colon)) == canonical) {
      bool base64 = colon + 1 < logical.size() && logical[colon + 1] == ':';
      size_t at = logical.find_first_not_of(' ', colon + (base64 ? 2 : 1));
      std::string value = at == std::string::npos ? "" : logical.substr(at);
      std::string decoded;
      if (base64 && mapi::DecodeBase64(value, decoded)) value = decoded;
      drop = values.count(value) > 0;
    }
    if (!drop) out += raw;
  };
  size_t pos = 0;
  while (pos < entry.size()) {
    size_t nl = entry.find('\n', pos);
    size_t next = nl == std::string::npos ? entry.size() : nl + 1;
    std::string_view line(entry.data() + pos, next - pos);
    std::string_view text = line.substr(0, line.find_last_not_of("\r\n") + 1);
    if (!text.empty() && text[0] == ' ' && !raw.empty()) {
      logical.append(text.substr(1));
      raw.append(line);
    } else {
      if (!raw.empty()) flush();
      logical.assign(text);
      raw.assign(line);
    }
    pos = next;
  }
  if (!raw.empty()) flush();
  return out;
}

class LdifGroupDirectory : public GroupDirectory {
 public:
  explicit LdifGroupDirectory(std::string path) : path_(std::move(path)) {}

  std::string Describe() const override { return "LDIF file " + path_; }

  std::string FindContainer(const std::string& base_point, const std::string& name) override {
    std::string cn = DnKey(ChildDn("CN", name, base_point)), ou = DnKey(ChildDn("OU", name, base_point));
    std::string base = DnKey(base_point), below = "," + base;
    bool base_found = false;
    std::string found_cn, found_ou;
    Scan({"objectClass"}, [&](const mapi::DirEntry& e, uint64_t, uint64_t) {
      std::string key = DnKey(e.dn);
      if (key == cn) found_cn = e.dn;
      if (key == ou) found_ou = e.dn;
      base_found = base_found || key == base ||
                   (key.size() > below.size() && key.compare(key.size() - below.size(), below.size(), below) == 0);
    });
    if (!base_found)
      throw DirectoryError(fmt::format("the base point \"{}\" does not exist in the {}", base_point, Describe()));
    return found_cn.empty() ? found_ou : found_cn;
  }

  GroupEntry ReadGroup(const std::string& dn) override {
    GroupEntry group;
    std::string key = DnKey(dn);
    Scan({"objectClass", "member"}, [&](const mapi::DirEntry& e, uint64_t, uint64_t) {
      if (!group.exists && DnKey(e.dn) == key) group = AsGroup(e);
    });
    return group;
  }

  GroupKind NewGroupKind() override {
    bool active_directory = false;
    Scan({"objectClass"}, [&](const mapi::DirEntry& e, uint64_t, uint64_t) {
      GroupKind kind;
      if (GroupKindOf(e.Get("objectclass"), kind) && kind == GroupKind::ActiveDirectory) active_directory = true;
    });
    return active_directory ? GroupKind::ActiveDirectory : GroupKind::GroupOfNames;
  }

  void ScanAddresses(const std::function<void(const mapi::DirEntry&)>& each) override {
    Scan(mapi::PassAttributes(mapi::Pass::Addresses), [&](const mapi::DirEntry& e, uint64_t, uint64_t) { each(e); });
  }

  void Apply(const std::vector<ChangeRecord>& records, const std::function<void(size_t)>& applied) override {
    if (records.empty()) return;
    const std::string& dn = records[0].dn;
    for (const auto& r : records)
      if (DnKey(r.dn) != DnKey(dn)) throw DirectoryError("an LDIF file takes the changes of one entry at a time");
    // Where the entry stands now (the file is read afresh).
    std::string key = DnKey(dn);
    bool exists = false;
    uint64_t begin = 0, end = 0;
    Scan({"objectClass"}, [&](const mapi::DirEntry& e, uint64_t b, uint64_t en) {
      if (!exists && DnKey(e.dn) == key) {
        exists = true;
        begin = b;
        end = en;
      }
    });
    bool create = records[0].type == ChangeRecord::Type::Add;
    if (create == exists)
      throw DirectoryError(fmt::format("\"{}\" {} in the {}", dn, exists ? "already exists" : "does not exist",
                                       Describe()));
    std::string text = ReadWhole(path_);
    if (exists && (end > text.size() || strncasecmp(text.c_str() + begin, "dn:", 3) != 0))
      throw DirectoryError(fmt::format("the {} changed while it was read; nothing was changed", Describe()));
    size_t first_nl = text.find('\n');
    std::string eol = first_nl != std::string::npos && first_nl > 0 && text[first_nl - 1] == '\r' ? "\r\n" : "\n";
    std::string entry = create ? LdifLine("dn", dn) : text.substr(begin, end - begin);
    if (!entry.empty() && entry.back() != '\n') entry += "\n";
    for (const auto& r : records) {
      if (&r != &records[0] && r.type == ChangeRecord::Type::Add)
        throw DirectoryError("an LDIF file takes one new entry at a time");
      for (const auto& c : r.changes) {
        if (c.op == AttributeChange::Op::Delete) {
          entry = RemoveValues(entry, c.attribute, std::set<std::string>(c.values.begin(), c.values.end()));
        } else {
          for (const auto& v : c.values) entry += LdifLine(c.attribute, v);
        }
      }
    }
    entry = WithLineEnds(entry, eol);
    if (create) {
      // After the last entry, with the one blank line that separates entries.
      if (!text.empty() && text.back() != '\n') text += eol;
      bool blank_at_end = text.size() >= 2 && (text.ends_with("\n\n") || text.ends_with("\n\r\n"));
      if (!text.empty() && !blank_at_end) text += eol;
      text += entry;
    } else {
      text = text.substr(0, begin) + entry + text.substr(end);
    }
    ReplaceFile(path_, text);
    for (size_t i = 0; i < records.size(); ++i) applied(i);
  }

 private:
  using EntryAt = std::function<void(const mapi::DirEntry&, uint64_t begin, uint64_t end)>;

  void Scan(const std::vector<std::string>& keep, const EntryAt& each) {
    std::unique_ptr<mapi::LdifReader> reader;
    if (FAILED(mapi::OpenLdifReader(path_, keep, reader))) ThrowLastError();
    mapi::DirEntry e;
    for (;;) {
      bool end = false;
      if (FAILED(reader->Next(e, end))) ThrowLastError();
      if (end) return;
      each(e, reader->EntryBegin(), reader->EntryEnd());
    }
  }

  // The file's own line ends for text written with "\n".
  static std::string WithLineEnds(const std::string& text, const std::string& eol) {
    if (eol == "\n") return text;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
      out += text[i];
    }
    return out;
  }

  std::string path_;
};

}  // namespace

std::unique_ptr<GroupDirectory> OpenLdifGroupDirectory(const std::string& path) {
  std::unique_ptr<mapi::LdifReader> reader;
  if (FAILED(mapi::OpenLdifReader(path, {"objectClass"}, reader))) ThrowLastError();
  return std::make_unique<LdifGroupDirectory>(path);
}

}  // namespace corvane::dirgroup
