#include "platform/mapi/profiles.h"

#include <fmt/format.h>

#include <strings.h>

#include <cstring>
#include <random>

#include "platform/mapi/last_error.h"
#include "platform/mapi/memory_table.h"
#include "platform/registry/registry.h"

namespace corvane::mapi {
namespace {

using corvane::registry::Hive;
using corvane::registry::RegistryError;
using corvane::registry::Value;

std::string ProfileKey(const std::string& profile) { return fmt::format("{}\\{}", kProfilesKey, profile); }

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += fmt::format("{:02X}", c);
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

HRESULT RegistryFailure(const RegistryError& e) {
  return Fail(MAPI_E_CALL_FAILED, fmt::format("the profile store cannot be used: {}", e.what()));
}

bool ValidName(LPSTR name) { return name && *name && !std::strchr(name, 0x5C); }

class MsgServiceAdmin : public RefCounted<IMsgServiceAdmin> {
 public:
  explicit MsgServiceAdmin(std::string profile) : profile_(std::move(profile)) {}

  HRESULT CreateMsgService(LPSTR service, LPSTR, ULONG_PTR, ULONG) override {
    if (!service) return MAPI_E_INVALID_PARAMETER;
    if (std::string(service) != "MSEMS")
      return Fail(MAPI_E_NOT_FOUND, fmt::format("no message service \"{}\" is installed; only MSEMS", service));
    std::random_device rd;
    std::string uid;
    for (int i = 0; i < 16; ++i) uid.push_back(static_cast<char>(rd() & 0xFF));
    try {
      Hive hive = Hive::Machine();
      if (!hive.KeyExists(ProfileKey(profile_)))
        return Fail(MAPI_E_NOT_FOUND, fmt::format("the profile \"{}\" does not exist", profile_));
      hive.Set(fmt::format("{}\\Services\\{}", ProfileKey(profile_), Hex(uid)), "Service", Value::Sz(service));
    } catch (const RegistryError& e) {
      return RegistryFailure(e);
    }
    return S_OK;
  }

  HRESULT GetMsgServiceTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    std::vector<ServiceRecord> services;
    if (HRESULT hr = ListServices(profile_, services); FAILED(hr)) return hr;
    std::vector<Row> rows;
    for (const auto& s : services)
      rows.push_back({Prop::String(PR_SERVICE_NAME, s.name), Prop::Binary(PR_SERVICE_UID, s.uid),
                      Prop::String(PR_DISPLAY_NAME, s.name == "MSEMS" ? "Microsoft Exchange" : s.name)});
    *out = new MemoryTable({PR_SERVICE_NAME, PR_SERVICE_UID, PR_DISPLAY_NAME}, std::move(rows));
    return S_OK;
  }

  HRESULT ConfigureMsgService(LPMAPIUID uid, ULONG_PTR, ULONG, ULONG count, LPSPropValue props) override {
    if (!uid || (count && !props)) return MAPI_E_INVALID_PARAMETER;
    std::vector<ServiceRecord> services;
    if (HRESULT hr = ListServices(profile_, services); FAILED(hr)) return hr;
    std::string wanted(reinterpret_cast<const char*>(uid->ab), 16);
    for (const auto& s : services) {
      if (s.uid != wanted) continue;
      try {
        Hive hive = Hive::Machine();
        for (ULONG i = 0; i < count; ++i) {
          std::string name = fmt::format("{:08X}", props[i].ulPropTag);
          switch (PROP_TYPE(props[i].ulPropTag)) {
            case PT_STRING8:
              hive.Set(s.key, name, Value::Sz(props[i].Value.lpszA ? props[i].Value.lpszA : ""));
              break;
            case PT_LONG:
              hive.Set(s.key, name, Value::Number(props[i].Value.ul));
              break;
            default:
              return Fail(MAPI_E_NO_SUPPORT, fmt::format("property {} cannot be stored in a profile", name));
          }
        }
      } catch (const RegistryError& e) {
        return RegistryFailure(e);
      }
      return S_OK;
    }
    return Fail(MAPI_E_NOT_FOUND, fmt::format("the profile \"{}\" has no such message service", profile_));
  }

 private:
  std::string profile_;
};

class ProfAdmin : public RefCounted<IProfAdmin> {
 public:
  HRESULT CreateProfile(LPSTR name, LPSTR, ULONG_PTR, ULONG) override {
    if (!ValidName(name)) return MAPI_E_INVALID_PARAMETER;
    try {
      Hive hive = Hive::Machine();
      if (hive.KeyExists(ProfileKey(name)))
        return Fail(MAPI_E_NO_ACCESS, fmt::format("the profile \"{}\" exists already; it is left unchanged", name));
      hive.CreateKey(ProfileKey(name));
    } catch (const RegistryError& e) {
      return RegistryFailure(e);
    }
    return S_OK;
  }

  HRESULT DeleteProfile(LPSTR name, ULONG) override {
    if (!ValidName(name)) return MAPI_E_INVALID_PARAMETER;
    try {
      if (!Hive::Machine().DeleteKey(ProfileKey(name)))
        return Fail(MAPI_E_NOT_FOUND, fmt::format("the profile \"{}\" does not exist", name));
    } catch (const RegistryError& e) {
      return RegistryFailure(e);
    }
    return S_OK;
  }

  HRESULT AdminServices(LPSTR name, LPSTR, ULONG_PTR, ULONG, LPSERVICEADMIN* out) override {
    if (!ValidName(name) || !out) return MAPI_E_INVALID_PARAMETER;
    try {
      if (!Hive::Machine().KeyExists(ProfileKey(name)))
        return Fail(MAPI_E_NOT_FOUND, fmt::format("the profile \"{}\" does not exist", name));
    } catch (const RegistryError& e) {
      return RegistryFailure(e);
    }
    *out = new MsgServiceAdmin(name);
    return S_OK;
  }
};

}  // namespace

HRESULT ListServices(const std::string& profile, std::vector<ServiceRecord>& out) {
  out.clear();
  try {
    Hive hive = Hive::Machine();
    if (!hive.KeyExists(ProfileKey(profile)))
      return Fail(MAPI_E_NOT_FOUND, fmt::format("the profile \"{}\" does not exist", profile));
    std::string prefix = ProfileKey(profile) + "\\Services\\";
    for (const auto& key : hive.Keys()) {
      if (key.size() != prefix.size() + 32 || strncasecmp(key.c_str(), prefix.c_str(), prefix.size()) != 0) continue;
      auto name = hive.Get(key, "Service");
      out.push_back({Unhex(key.substr(prefix.size())), name ? name->text : "", key});
    }
  } catch (const RegistryError& e) {
    return RegistryFailure(e);
  } catch (const std::exception& e) {
    return Fail(MAPI_E_CORRUPT_DATA, fmt::format("the profile \"{}\" is damaged: {}", profile, e.what()));
  }
  return S_OK;
}

IProfAdmin* NewProfAdmin() { return new ProfAdmin(); }

}  // namespace corvane::mapi
