#include "platform/dirgroup/ldif_text.h"

#include <cstdio>  // ldif.h needs FILE

#include <ldap.h>
#include <ldif.h>

#include "platform/dirgroup/group_directory.h"

namespace corvane::dirgroup {

std::string LdifLine(std::string_view name, std::string_view value) {
  std::string n(name);
  char* line = ldif_put_wrap(LDIF_PUT_VALUE, n.c_str(), value.data(), value.size(), 0);
  if (!line) throw DirectoryError("out of memory while writing LDIF");
  std::string out(line);
  ber_memfree(line);
  return out;
}

std::string FormatChangeRecords(const std::vector<ChangeRecord>& records) {
  std::string out;
  for (const auto& r : records) {
    out += LdifLine("dn", r.dn);
    bool add = r.type == ChangeRecord::Type::Add;
    out += add ? "changetype: add\n" : "changetype: modify\n";
    for (const auto& c : r.changes) {
      if (!add) out += LdifLine(c.op == AttributeChange::Op::Add ? "add" : "delete", c.attribute);
      for (const auto& v : c.values) out += LdifLine(c.attribute, v);
      if (!add) out += "-\n";
    }
    out += "\n";
  }
  return out;
}

}  // namespace corvane::dirgroup
