// Resolving member lines to directory entries by their proxy addresses,
// in one pass over the directory, compared without regard to case, the
// way the GAL reader resolves a mailbox. An entry without proxy addresses
// is known by "SMTP:" + its mail address, as the address list shows it.
//
// A line's addresses are tried in order, its primary address first. At
// each address, an entry whose primary "SMTP:" address it is wins over
// entries that hold it as a secondary address; an address that still
// names more than one entry is ambiguous and the next address is tried.
// A line is resolved by the first address that names exactly one entry.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/mapi/directory.h"
#include "tools/dsimport/dl_csv.h"

namespace corvane::dsimport {

struct Resolution {
  std::string dn;      // the entry, empty when unresolved
  std::string reason;  // why unresolved
  // Unresolved because its addresses name several entries: those entries
  // (each once), which the caller may keep where they are members already.
  std::vector<std::string> candidates;
};

class MemberResolver {
 public:
  explicit MemberResolver(const std::vector<MemberLine>& lines);
  // Looks at one directory entry (objectClass, proxyAddresses, mail).
  void Offer(const mapi::DirEntry& entry);
  // One result per member line, in the lines' order.
  std::vector<Resolution> Results() const;

 private:
  // One address of one line, and the entries found holding it.
  struct Slot {
    std::vector<std::string> primary;    // entries whose primary address it is
    std::vector<std::string> secondary;  // entries that hold it otherwise
  };
  void Match(const std::string& lower_address, bool primary, const std::string& dn);

  const std::vector<MemberLine>& lines_;
  std::vector<uint32_t> first_slot_;  // line i has slots first_slot_[i] .. first_slot_[i + 1] - 1
  std::vector<Slot> slots_;
  std::unordered_map<std::string, std::vector<uint32_t>> wanted_;  // lower-case address -> slots
};

}  // namespace corvane::dsimport
