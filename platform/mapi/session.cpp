// MAPIInitialize, profile administration and logon: a logon reads the
// profile's Exchange service (mailbox and server), opens the directory the
// server names and resolves the mailbox in it.
#include <fmt/format.h>

#include <atomic>

#include "platform/mapi/address_book.h"
#include "platform/mapi/last_error.h"
#include "platform/mapi/profiles.h"
#include "platform/mapi/ref_counted.h"
#include "platform/registry/registry.h"

namespace corvane::mapi {
namespace {

std::atomic<int> initialized{0};

class Session : public RefCounted<IMAPISession> {
 public:
  explicit Session(std::shared_ptr<GalDirectory> dir) : dir_(std::move(dir)) {}

  HRESULT OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    if (!dir_) return Fail(MAPI_E_INVALID_OBJECT, "the session has been logged off");
    *out = NewAddressBook(dir_);
    return S_OK;
  }
  HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override {
    dir_.reset();
    return S_OK;
  }

 private:
  std::shared_ptr<GalDirectory> dir_;
};

}  // namespace
}  // namespace corvane::mapi

using namespace corvane::mapi;

HRESULT MAPIInitialize(LPVOID) {
  ++initialized;
  return S_OK;
}

void MAPIUninitialize() {
  if (initialized > 0) --initialized;
}

HRESULT MAPIAdminProfiles(ULONG, LPPROFADMIN* lppProfAdmin) {
  if (!lppProfAdmin) return MAPI_E_INVALID_PARAMETER;
  if (initialized <= 0) return Fail(MAPI_E_NOT_INITIALIZED, "MAPIInitialize has not been called");
  *lppProfAdmin = NewProfAdmin();
  return S_OK;
}

HRESULT MAPILogonEx(ULONG_PTR, LPSTR lpszProfileName, LPSTR, ULONG, LPMAPISESSION* lppSession) {
  if (!lppSession) return MAPI_E_INVALID_PARAMETER;
  *lppSession = nullptr;
  if (initialized <= 0) return Fail(MAPI_E_NOT_INITIALIZED, "MAPIInitialize has not been called");
  if (!lpszProfileName || !*lpszProfileName) return Fail(MAPI_E_LOGON_FAILED, "no profile named for the logon");
  std::string profile = lpszProfileName;
  std::vector<ServiceRecord> services;
  HRESULT hr = ListServices(profile, services);
  if (FAILED(hr)) return Fail(MAPI_E_LOGON_FAILED, MAPIGetLastErrorText());
  std::optional<ExchangeProfile> exchange;
  try {
    exchange = ReadExchangeProfile(profile);
  } catch (const corvane::registry::RegistryError& e) {
    return Fail(MAPI_E_CALL_FAILED, fmt::format("the profile store cannot be used: {}", e.what()));
  }
  if (!exchange)
    return Fail(MAPI_E_UNCONFIGURED,
                fmt::format("the profile \"{}\" has no Exchange service with a mailbox and a server", profile));
  std::shared_ptr<GalDirectory> dir;
  if (FAILED(hr = GalDirectory::Open(exchange->server, exchange->mailbox, dir))) return hr;
  *lppSession = new Session(std::move(dir));
  return S_OK;
}
