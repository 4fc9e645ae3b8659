// Profiles kept in the registry layer, so that they outlive the process:
//   SOFTWARE\Corvane\MAPI\Profiles\<profile>                       (the profile)
//   SOFTWARE\Corvane\MAPI\Profiles\<profile>\Services\<uid in hex>  (a message service)
// A service key holds "Service" (its name, e.g. "MSEMS") and one value per
// configured property, named by the property tag in hex ("6608001E").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/mapi/mapi.h"
#include "platform/mapi/profile_store.h"

namespace corvane::mapi {

struct ServiceRecord {
  std::string uid;   // 16 bytes
  std::string name;  // "MSEMS"
  std::string key;   // its registry key
};

HRESULT ListServices(const std::string& profile, std::vector<ServiceRecord>& out);

IProfAdmin* NewProfAdmin();

}  // namespace corvane::mapi
