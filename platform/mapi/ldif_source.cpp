// The LDIF file source: streams entries from the file, one logical line
// at a time, reporting syntax errors with their line number.
#include <fmt/format.h>

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/mapi/base64.h"
#include "platform/mapi/directory.h"
#include "platform/mapi/gal_entry.h"
#include "platform/mapi/last_error.h"
#include "platform/mapi/ldif_reader.h"

namespace corvane::mapi {
namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

HRESULT OpenFile(const std::string& path, File& f) {
  f.reset(std::fopen(path.c_str(), "rb"));
  if (!f) return Fail(MAPI_E_NOT_FOUND, fmt::format("cannot open LDIF file {}: {}", path, std::strerror(errno)));
  return S_OK;
}

class LdifStream : public LdifReader {
 public:
  LdifStream(std::string path, File file) : path_(std::move(path)), file_(std::move(file)) {
    buffer_.resize(1 << 20);
  }

  uint64_t EntryBegin() const override { return entry_begin_; }
  uint64_t EntryEnd() const override { return entry_end_; }

  HRESULT Next(DirEntry& entry, bool& end) override {
    entry.Clear();
    end = false;
    std::string& line = logical_;
    // Skip blank lines, comments and the version line before an entry.
    for (;;) {
      bool eof = false;
      HRESULT hr = ReadLogicalLine(line, eof);
      if (FAILED(hr)) return hr;
      if (eof) {
        end = true;
        return S_OK;
      }
      if (line.empty() || line[0] == '#') continue;
      if (!seen_entry_ && StartsWithName(line, "version")) continue;
      break;
    }
    seen_entry_ = true;
    size_t entry_line = logical_line_no_;
    entry_begin_ = logical_begin_;
    entry_end_ = logical_end_;
    Line parsed;
    HRESULT hr = Split(line, parsed);
    if (FAILED(hr)) return hr;
    if (parsed.name != "dn") return Error(entry_line, "an entry must begin with a \"dn:\" line");
    if (FAILED(hr = Value(line, parsed, entry.dn))) return hr;
    for (;;) {
      bool eof = false;
      hr = ReadLogicalLine(line, eof);
      if (FAILED(hr)) return hr;
      if (eof || line.empty()) break;
      entry_end_ = logical_end_;
      if (line[0] == '#') continue;
      hr = Split(line, parsed);
      if (FAILED(hr)) return hr;
      if (parsed.name == "changetype") {
        if (FAILED(hr = Value(line, parsed, value_))) return hr;
        if (value_ != "add") return Error(logical_line_no_, "only entries to add are read (changetype: add)");
        continue;
      }
      if (parsed.name == "control" || parsed.name == "dn")
        return Error(logical_line_no_, fmt::format("unexpected \"{}:\" line inside an entry", parsed.name));
      const std::string* canonical = Canonical(parsed.name);
      if (!canonical) continue;  // not needed by this pass: not even decoded
      if (FAILED(hr = Value(line, parsed, value_))) return hr;
      entry.Add(*canonical, value_, IsLanguageTagged(parsed.name));
    }
    return S_OK;
  }

  // Only these attributes are kept (canonical names); nullptr keeps all.
  void Keep(std::shared_ptr<const std::unordered_set<std::string>> wanted) { wanted_ = std::move(wanted); }

 private:
  // The canonical name of an attribute as written, or nullptr when this
  // pass does not keep it; remembered, since a file uses few names.
  // Entries tend to list attributes in the same order, so the search
  // starts after the name found last.
  const std::string* Canonical(const std::string& written) {
    size_t n = names_.size();
    for (size_t k = 0; k < n; ++k) {
      size_t i = (last_name_ + 1 + k) % n;
      if (names_[i].first == written) {
        last_name_ = i;
        return names_[i].second ? &*names_[i].second : nullptr;
      }
    }
    std::string canonical = CanonicalAttributeName(written);
    bool keep = !wanted_ || wanted_->contains(canonical);
    names_.emplace_back(written, keep ? std::optional<std::string>(std::move(canonical)) : std::nullopt);
    last_name_ = names_.size() - 1;
    return names_.back().second ? &*names_.back().second : nullptr;
  }

  struct Line {
    std::string name;  // lower case
    size_t value_at = 0;
    bool base64 = false;
  };

  static bool StartsWithName(const std::string& line, const char* name) {
    size_t n = std::strlen(name);
    return line.size() > n && strncasecmp(line.c_str(), name, n) == 0 && line[n] == ':';
  }

  HRESULT Error(size_t line, const std::string& what) {
    return Fail(MAPI_E_CORRUPT_DATA, fmt::format("LDIF file {}, line {}: {}", path_, line, what));
  }

  // Splits "name: value", "name:: base64" and "name:< url" (refused).
  HRESULT Split(const std::string& line, Line& out) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0)
      return Error(logical_line_no_, "expected \"attribute: value\"");
    out.name.resize(colon);
    for (size_t i = 0; i < colon; ++i) {
      char c = line[i];
      bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == ';' || c == '.';
      if (c >= 'A' && c <= 'Z') {
        c = static_cast<char>(c + ('a' - 'A'));
        ok = true;
      }
      if (!ok) return Error(logical_line_no_, fmt::format("invalid attribute name \"{}\"", line.substr(0, colon)));
      out.name[i] = c;
    }
    size_t pos = colon + 1;
    out.base64 = false;
    if (pos < line.size() && line[pos] == ':') {
      out.base64 = true;
      ++pos;
    } else if (pos < line.size() && line[pos] == '<') {
      return Error(logical_line_no_, "values read from URLs (\":<\") are not supported");
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;
    out.value_at = pos;
    return S_OK;
  }

  HRESULT Value(const std::string& line, const Line& parsed, std::string& value) {
    if (!parsed.base64) {
      value.assign(line, parsed.value_at, std::string::npos);
      return S_OK;
    }
    if (!DecodeBase64(std::string_view(line).substr(parsed.value_at), value))
      return Error(logical_line_no_, fmt::format("invalid base64 value of \"{}\"", parsed.name));
    return S_OK;
  }

  // Next physical line without its line end; false at end of file. `end`
  // is the file offset just past the line's end.
  HRESULT ReadPhysical(std::string& out, bool& got, uint64_t& end) {
    out.clear();
    got = false;
    for (;;) {
      if (pos_ == len_) {
        if (eof_) break;
        buffer_offset_ += len_;
        len_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
        pos_ = 0;
        if (len_ == 0) {
          if (std::ferror(file_.get()))
            return Fail(MAPI_E_CALL_FAILED, fmt::format("cannot read LDIF file {}: {}", path_, std::strerror(errno)));
          eof_ = true;
          break;
        }
      }
      got = true;
      const char* start = buffer_.data() + pos_;
      const void* nl = std::memchr(start, '\n', len_ - pos_);
      if (nl) {
        size_t n = static_cast<const char*>(nl) - start;
        out.append(start, n);
        pos_ += n + 1;
        break;
      }
      out.append(start, len_ - pos_);
      pos_ = len_;
    }
    end = buffer_offset_ + pos_;
    if (got) {
      ++line_no_;
      if (!out.empty() && out.back() == '\r') out.pop_back();
    }
    return S_OK;
  }

  // Joins continuation lines (those starting with one blank).
  HRESULT ReadLogicalLine(std::string& out, bool& eof) {
    eof = false;
    bool got = false;
    if (have_pending_) {
      out.swap(pending_);
      have_pending_ = false;
      got = true;
      logical_line_no_ = pending_line_no_;
      logical_begin_ = pending_begin_;
      logical_end_ = pending_end_;
    } else {
      logical_begin_ = buffer_offset_ + pos_;
      HRESULT hr = ReadPhysical(out, got, logical_end_);
      if (FAILED(hr)) return hr;
      if (!got) {
        eof = true;
        return S_OK;
      }
      logical_line_no_ = line_no_;
    }
    if (out.empty()) return S_OK;
    for (;;) {
      uint64_t begin = buffer_offset_ + pos_, end = 0;
      HRESULT hr = ReadPhysical(pending_, got, end);
      if (FAILED(hr)) return hr;
      if (!got) break;
      if (!pending_.empty() && pending_[0] == ' ') {
        out.append(pending_, 1, std::string::npos);
        logical_end_ = end;
        continue;
      }
      have_pending_ = true;
      pending_line_no_ = line_no_;
      pending_begin_ = begin;
      pending_end_ = end;
      break;
    }
    return S_OK;
  }

  std::string path_;
  File file_;
  std::vector<char> buffer_;
  size_t pos_ = 0, len_ = 0;
  uint64_t buffer_offset_ = 0;  // file offset of buffer_[0]
  bool eof_ = false;
  size_t line_no_ = 0;
  size_t logical_line_no_ = 0;
  std::string logical_;
  std::string value_;
  std::vector<std::pair<std::string, std::optional<std::string>>> names_;
  size_t last_name_ = 0;
  std::shared_ptr<const std::unordered_set<std::string>> wanted_;
  std::string pending_;
  bool have_pending_ = false;
  size_t pending_line_no_ = 0;
  // File offsets: of the current logical line, the line read ahead, and
  // the entry last returned.
  uint64_t logical_begin_ = 0, logical_end_ = 0;
  uint64_t pending_begin_ = 0, pending_end_ = 0;
  uint64_t entry_begin_ = 0, entry_end_ = 0;
  bool seen_entry_ = false;
};

std::shared_ptr<const std::unordered_set<std::string>> CanonicalSet(const std::vector<std::string>& names) {
  auto set = std::make_shared<std::unordered_set<std::string>>();
  for (const auto& n : names) set->insert(CanonicalAttributeName(n));
  return set;
}

class LdifSource : public DirectorySource {
 public:
  explicit LdifSource(std::string path)
      : path_(std::move(path)) {
    for (Pass pass : {Pass::Scan, Pass::Proxies, Pass::Read, Pass::Addresses})
      wanted_[static_cast<int>(pass)] = CanonicalSet(PassAttributes(pass));
  }

  // Each pass keeps only the attributes an LDAP server would be asked for,
  // so both kinds of directory give the same rows.
  HRESULT Open(Pass pass, std::unique_ptr<EntryStream>& out) override {
    File f;
    if (HRESULT hr = OpenFile(path_, f); FAILED(hr)) return hr;
    auto stream = std::make_unique<LdifStream>(path_, std::move(f));
    stream->Keep(wanted_[static_cast<int>(pass)]);
    out = std::move(stream);
    return S_OK;
  }
  std::string Describe() const override { return "LDIF file " + path_; }

 private:
  std::string path_;
  std::shared_ptr<const std::unordered_set<std::string>> wanted_[4];
};

}  // namespace

HRESULT OpenLdifSource(const std::string& path, std::unique_ptr<DirectorySource>& out) {
  File f;
  if (HRESULT hr = OpenFile(path, f); FAILED(hr)) return hr;
  out = std::make_unique<LdifSource>(path);
  return S_OK;
}

HRESULT OpenLdifReader(const std::string& path, const std::vector<std::string>& keep,
                       std::unique_ptr<LdifReader>& out) {
  File f;
  if (HRESULT hr = OpenFile(path, f); FAILED(hr)) return hr;
  auto stream = std::make_unique<LdifStream>(path, std::move(f));
  if (!keep.empty()) stream->Keep(CanonicalSet(keep));
  out = std::move(stream);
  return S_OK;
}

}  // namespace corvane::mapi
