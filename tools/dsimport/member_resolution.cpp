#include "tools/dsimport/member_resolution.h"

#include <fmt/format.h>

#include "platform/mapi/gal_entry.h"

namespace corvane::dsimport {
namespace {

void LowerInto(const std::string& text, std::string& out) {
  out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace

MemberResolver::MemberResolver(const std::vector<MemberLine>& lines) : lines_(lines), best_(lines.size()) {
  size_t addresses = 0;
  for (const auto& l : lines) addresses += l.addresses.size();
  wanted_.reserve(addresses);
  for (uint32_t i = 0; i < lines.size(); ++i) {
    for (uint32_t rank = 0; rank < lines[i].addresses.size(); ++rank) {
      LowerInto(lines[i].addresses[rank], key_);
      wanted_[key_].push_back({i, rank});
    }
  }
}

void MemberResolver::Match(const std::string& address, const std::string& dn) {
  LowerInto(address, key_);
  auto it = wanted_.find(key_);
  if (it == wanted_.end()) return;
  for (const Want& w : it->second) {
    Best& b = best_[w.line];
    if (w.rank < b.rank) {
      b = {w.rank, 1, dn};
    } else if (w.rank == b.rank && b.dn != dn) {
      ++b.entries;  // another entry has the same address
    }
  }
}

void MemberResolver::Offer(const mapi::DirEntry& entry) {
  if (!mapi::IsRecipient(entry)) return;
  if (const auto* proxies = entry.Get("proxyaddresses")) {
    for (const auto& p : *proxies) Match(p, entry.dn);
  } else if (const auto* mail = entry.First("mail")) {
    Match("SMTP:" + *mail, entry.dn);
  }
}

std::vector<Resolution> MemberResolver::Results() const {
  std::vector<Resolution> out(lines_.size());
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Best& b = best_[i];
    if (b.entries == 1) {
      out[i].dn = b.dn;
    } else if (b.entries == 0) {
      out[i].reason = "no entry of the directory has any of its addresses";
    } else {
      out[i].reason = fmt::format("its address \"{}\" belongs to {} entries", lines_[i].addresses[b.rank], b.entries);
    }
  }
  return out;
}

}  // namespace corvane::dsimport
