// The LDIF file source: streams entries from the file, one logical line
// at a time, reporting syntax errors with their line number.
#include <fmt/format.h>

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/mapi/base64.h"
#include "platform/mapi/directory.h"
#include "platform/mapi/last_error.h"

namespace corvane::mapi {
namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

class LdifStream : public EntryStream {
 public:
  LdifStream(std::string path, File file) : path_(std::move(path)), file_(std::move(file)) {
    buffer_.resize(1 << 20);
  }

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
    std::string name;
    std::string value;
    HRESULT hr = Split(line, name, value);
    if (FAILED(hr)) return hr;
    if (name != "dn") return Error(entry_line, "an entry must begin with a \"dn:\" line");
    entry.dn = std::move(value);
    for (;;) {
      bool eof = false;
      hr = ReadLogicalLine(line, eof);
      if (FAILED(hr)) return hr;
      if (eof || line.empty()) break;
      if (line[0] == '#') continue;
      hr = Split(line, name, value);
      if (FAILED(hr)) return hr;
      if (name == "changetype") {
        if (value != "add") return Error(logical_line_no_, "only entries to add are read (changetype: add)");
        continue;
      }
      if (name == "control" || name == "dn")
        return Error(logical_line_no_, fmt::format("unexpected \"{}:\" line inside an entry", name));
      entry.Add(CanonicalAttributeName(name), std::move(value));
    }
    return S_OK;
  }

 private:
  static bool StartsWithName(const std::string& line, const char* name) {
    size_t n = std::strlen(name);
    return line.size() > n && strncasecmp(line.c_str(), name, n) == 0 && line[n] == ':';
  }

  HRESULT Error(size_t line, const std::string& what) {
    return Fail(MAPI_E_CORRUPT_DATA, fmt::format("LDIF file {}, line {}: {}", path_, line, what));
  }

  // Splits "name: value", "name:: base64" and "name:< url".
  HRESULT Split(const std::string& line, std::string& name, std::string& value) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0)
      return Error(logical_line_no_, "expected \"attribute: value\"");
    for (size_t i = 0; i < colon; ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      if (!(std::isalnum(c) || c == '-' || c == ';' || c == '.'))
        return Error(logical_line_no_, fmt::format("invalid attribute name \"{}\"", line.substr(0, colon)));
    }
    name.assign(line, 0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t pos = colon + 1;
    bool b64 = false;
    if (pos < line.size() && line[pos] == ':') {
      b64 = true;
      ++pos;
    } else if (pos < line.size() && line[pos] == '<') {
      return Error(logical_line_no_, "values read from URLs (\":<\") are not supported");
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (b64) {
      if (!DecodeBase64(std::string_view(line).substr(pos), value))
        return Error(logical_line_no_, fmt::format("invalid base64 value of \"{}\"", name));
    } else {
      value.assign(line, pos, std::string::npos);
    }
    return S_OK;
  }

  // Next physical line without its line end; false at end of file.
  HRESULT ReadPhysical(std::string& out, bool& got) {
    out.clear();
    got = false;
    for (;;) {
      if (pos_ == len_) {
        if (eof_) break;
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
    } else {
      HRESULT hr = ReadPhysical(out, got);
      if (FAILED(hr)) return hr;
      if (!got) {
        eof = true;
        return S_OK;
      }
      logical_line_no_ = line_no_;
    }
    if (out.empty()) return S_OK;
    for (;;) {
      HRESULT hr = ReadPhysical(pending_, got);
      if (FAILED(hr)) return hr;
      if (!got) break;
      if (!pending_.empty() && pending_[0] == ' ') {
        out.append(pending_, 1, std::string::npos);
        continue;
      }
      have_pending_ = true;
      pending_line_no_ = line_no_;
      break;
    }
    return S_OK;
  }

  std::string path_;
  File file_;
  std::vector<char> buffer_;
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
  size_t line_no_ = 0;
  size_t logical_line_no_ = 0;
  std::string logical_;
  std::string pending_;
  bool have_pending_ = false;
  size_t pending_line_no_ = 0;
  bool seen_entry_ = false;
};

class LdifSource : public DirectorySource {
 public:
  explicit LdifSource(std::string path) : path_(std::move(path)) {}

  HRESULT Open(Pass, std::unique_ptr<EntryStream>& out) override {
    File f(std::fopen(path_.c_str(), "rb"));
    if (!f) return Fail(MAPI_E_NOT_FOUND, fmt::format("cannot open LDIF file {}: {}", path_, std::strerror(errno)));
    out = std::make_unique<LdifStream>(path_, std::move(f));
    return S_OK;
  }
  std::string Describe() const override { return "LDIF file " + path_; }

 private:
  std::string path_;
};

}  // namespace

HRESULT OpenLdifSource(const std::string& path, std::unique_ptr<DirectorySource>& out) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) return Fail(MAPI_E_NOT_FOUND, fmt::format("cannot open LDIF file {}: {}", path, std::strerror(errno)));
  out = std::make_unique<LdifSource>(path);
  return S_OK;
}

}  // namespace corvane::mapi
