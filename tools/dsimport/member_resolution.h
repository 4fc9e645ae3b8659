// Resolving member lines to directory entries by their proxy addresses,
// in one pass over the directory: the primary address first, then the
// others in list order, compared without regard to case, the way the GAL
// reader resolves a mailbox. An entry without proxy addresses is known by
// "SMTP:" + its mail address, as the address list shows it.
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
};

class MemberResolver {
 public:
  explicit MemberResolver(const std::vector<MemberLine>& lines);
  // Looks at one directory entry (objectClass, proxyAddresses, mail).
  void Offer(const mapi::DirEntry& entry);
  // One result per member line, in the lines' order.
  std::vector<Resolution> Results() const;

 private:
  struct Want {
    uint32_t line;
    uint32_t rank;  // position among the line's addresses
  };
  struct Best {
    uint32_t rank = UINT32_MAX;
    uint32_t entries = 0;  // entries found by that address
    std::string dn;
  };
  void Match(const std::string& address, const std::string& dn);

  const std::vector<MemberLine>& lines_;
  std::unordered_map<std::string, std::vector<Want>> wanted_;  // lower-case address
  std::vector<Best> best_;
  std::string key_;
};

}  // namespace corvane::dsimport
