#include <cstring>

#include "galreader/gal_session.h"

namespace corvane::galreader {

namespace {

// Provider identifier of the Exchange address book.
const BYTE kExchangeProviderId[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                                      0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};

}  // namespace

HRESULT HrFindExchangeGlobalAddressList(LPADRBOOK lpAdrBook, ULONG* lpcbeid, LPENTRYID* lppeid) {
  *lpcbeid = 0;
  *lppeid = nullptr;

  HRESULT hr = S_OK;
  ULONG ulObjType = 0;
  LPUNKNOWN lpUnknown = nullptr;
  LPABCONT lpRoot = nullptr;
  LPMAPITABLE lpHierarchy = nullptr;
  LPSRowSet lpRows = nullptr;
  ULONG cbeid = 0;
  LPENTRYID lpeid = nullptr;

  SPropValue providerId{};
  providerId.ulPropTag = PR_AB_PROVIDER_ID;
  providerId.Value.bin.cb = sizeof(kExchangeProviderId);
  providerId.Value.bin.lpb = const_cast<LPBYTE>(kExchangeProviderId);
  SPropValue containerId{};
  containerId.ulPropTag = PR_EMS_AB_CONTAINERID;
  containerId.Value.l = 0;
  SRestriction both[2]{};
  both[0].rt = RES_PROPERTY;
  both[0].res.resProperty = {RELOP_EQ, PR_AB_PROVIDER_ID, &providerId};
  both[1].rt = RES_PROPERTY;
  both[1].res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &containerId};
  SRestriction restriction{};
  restriction.rt = RES_AND;
  restriction.res.resAnd = {2, both};
  SizedSPropTagArray(1, entryIdColumn) = {1, {PR_ENTRYID}};

  hr = lpAdrBook->OpenEntry(0, nullptr, nullptr, MAPI_DEFERRED_ERRORS, &ulObjType, &lpUnknown);
  if (FAILED(hr)) goto cleanup;
  if (ulObjType != MAPI_ABCONT) {
    hr = E_FAIL;
    goto cleanup;
  }
  lpRoot = static_cast<LPABCONT>(lpUnknown);
  hr = lpRoot->GetHierarchyTable(MAPI_DEFERRED_ERRORS | CONVENIENT_DEPTH, &lpHierarchy);
  if (FAILED(hr)) goto cleanup;
  hr = HrQueryAllRows(lpHierarchy, reinterpret_cast<LPSPropTagArray>(&entryIdColumn), &restriction, nullptr, 0,
                      &lpRows);
  if (FAILED(hr)) goto cleanup;
  if (lpRows == nullptr || lpRows->cRows != 1) {
    hr = E_FAIL;
    goto cleanup;
  }
  if (lpRows->aRow[0].cValues < 1 || lpRows->aRow[0].lpProps[0].ulPropTag != PR_ENTRYID) {
    hr = MAPI_E_UNEXPECTED_PROPERTY;
    goto cleanup;
  }
  {
    const SBinary& bin = lpRows->aRow[0].lpProps[0].Value.bin;
    cbeid = bin.cb;
    hr = MAPIAllocateBuffer(cbeid, reinterpret_cast<LPVOID*>(&lpeid));
    if (FAILED(hr)) goto cleanup;
    if (cbeid > 0) std::memcpy(lpeid, bin.lpb, cbeid);
  }

cleanup:
  // lpUnknown is the root container whatever its type; release it once.
  if (lpHierarchy != nullptr) lpHierarchy->Release();
  if (lpUnknown != nullptr) lpUnknown->Release();
  if (lpRows != nullptr) FreeProws(lpRows);
  if (FAILED(hr)) {
    if (lpeid != nullptr) MAPIFreeBuffer(lpeid);
    return hr;
  }
  *lpcbeid = cbeid;
  *lppeid = lpeid;
  return hr;
}

}  // namespace corvane::galreader
