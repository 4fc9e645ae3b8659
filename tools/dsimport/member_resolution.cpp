#include "tools/dsimport/member_resolution.h"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>

#include "platform/mapi/gal_entry.h"

namespace corvane::dsimport {
namespace {

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// The entry's primary address is its "SMTP:" item (the type in capitals).
bool IsPrimary(const std::string& proxy) { return proxy.rfind("SMTP:", 0) == 0; }

// The one entry an address names: its only primary holder, else its only
// holder; empty when none or several.
const std::string* OnlyEntry(const std::vector<std::string>& primary, const std::vector<std::string>& secondary) {
  if (primary.size() == 1) return &primary.front();
  if (primary.empty() && secondary.size() == 1) return &secondary.front();
  return nullptr;
}

}  // namespace

MemberResolver::MemberResolver(const std::vector<MemberLine>& lines) : lines_(lines) {
  size_t addresses = 0;
  for (const auto& l : lines) addresses += l.addresses.size();
  slots_.resize(addresses);
  first_slot_.reserve(lines.size() + 1);
  wanted_.reserve(addresses);
  uint32_t slot = 0;
  for (const auto& l : lines) {
    first_slot_.push_back(slot);
    for (const auto& a : l.addresses) wanted_[Lower(a)].push_back(slot++);
  }
  first_slot_.push_back(slot);
}

void MemberResolver::Match(const std::string& lower_address, bool primary, const std::string& dn) {
  auto it = wanted_.find(lower_address);
  if (it == wanted_.end()) return;
  for (uint32_t s : it->second) (primary ? slots_[s].primary : slots_[s].secondary).push_back(dn);
}

void MemberResolver::Offer(const mapi::DirEntry& entry) {
  if (!mapi::IsRecipient(entry)) return;
  // Each address of the entry once; one it lists both ways counts as primary.
  std::unordered_map<std::string, bool> addresses;
  if (const auto* proxies = entry.Get("proxyaddresses")) {
    for (const auto& p : *proxies) addresses[Lower(p)] |= IsPrimary(p);
  } else if (const auto* mail = entry.First("mail")) {
    addresses[Lower("SMTP:" + *mail)] = true;
  }
  for (const auto& [address, primary] : addresses) Match(address, primary, entry.dn);
}

std::vector<Resolution> MemberResolver::Results() const {
  std::vector<Resolution> out(lines_.size());
  for (size_t i = 0; i < lines_.size(); ++i) {
    Resolution& r = out[i];
    const std::string* ambiguous = nullptr;
    size_t holders = 0;
    for (uint32_t s = first_slot_[i]; s < first_slot_[i + 1] && r.dn.empty(); ++s) {
      const Slot& slot = slots_[s];
      if (const std::string* dn = OnlyEntry(slot.primary, slot.secondary)) {
        r.dn = *dn;
        continue;
      }
      const auto& several = slot.primary.empty() ? slot.secondary : slot.primary;
      if (several.empty()) continue;
      if (!ambiguous) {
        ambiguous = &lines_[i].addresses[s - first_slot_[i]];
        holders = several.size();
      }
      for (const auto& dn : several)
        if (std::find(r.candidates.begin(), r.candidates.end(), dn) == r.candidates.end()) r.candidates.push_back(dn);
    }
    if (!r.dn.empty()) {
      r.candidates.clear();
    } else if (ambiguous) {
      r.reason = fmt::format("its address \"{}\" belongs to {} entries", *ambiguous, holders);
    } else {
      r.reason = "no entry of the directory has any of its addresses";
    }
  }
  return out;
}

}  // namespace corvane::dsimport
