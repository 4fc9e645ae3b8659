#include "tests/mapi/gal_session.h"

#include <fmt/format.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace corvane::mapi::testing {

std::string SourceDir() {
  const char* dir = std::getenv("CORVANE_SOURCE_DIR");
  return dir && *dir ? dir : CORVANE_SOURCE_DIR_DEFAULT;
}

const std::vector<ULONG>& GalColumns() {
  static const std::vector<ULONG> kColumns = {
      PR_ENTRYID, PR_DISPLAY_NAME, PR_LOCALITY, PR_COUNTRY, PR_POST_OFFICE_BOX, PR_POSTAL_CODE,
      PR_STATE_OR_PROVINCE, PR_STREET_ADDRESS, PR_PRIMARY_FAX_NUMBER, PR_BUSINESS_HOME_PAGE,
      PR_BUSINESS_TELEPHONE_NUMBER, PR_BUSINESS2_TELEPHONE_NUMBER, PR_DEPARTMENT_NAME, PR_GIVEN_NAME, PR_INITIALS,
      PR_SURNAME, PR_EMS_AB_DISPLAY_NAME_PRINTABLE, PR_TITLE, PR_COMPANY_NAME, PR_OFFICE_LOCATION,
      PR_HOME_TELEPHONE_NUMBER, PR_HOME2_TELEPHONE_NUMBER, PR_HOME_FAX_NUMBER, PR_HOME_ADDRESS_STREET,
      PR_HOME_ADDRESS_CITY, PR_HOME_ADDRESS_STATE_OR_PROVINCE, PR_HOME_ADDRESS_POSTAL_CODE, PR_HOME_ADDRESS_COUNTRY,
      PR_MANAGER_NAME, PR_BUSINESS_TELEPHONE_NUMBER, PR_BUSINESS2_TELEPHONE_NUMBER, PR_ASSISTANT,
      PR_ASSISTANT_TELEPHONE_NUMBER, PR_MOBILE_TELEPHONE_NUMBER, PR_PAGER_TELEPHONE_NUMBER, PR_DISPLAY_TYPE,
      PR_EMS_AB_PROXY_ADDRESSES, PR_ACCOUNT, PR_EMS_AB_EXTENSION_ATTRIBUTE_1, PR_EMS_AB_EXTENSION_ATTRIBUTE_2,
      PR_EMS_AB_EXTENSION_ATTRIBUTE_3, PR_EMS_AB_EXTENSION_ATTRIBUTE_4, PR_COMMENT, PR_PERSONAL_HOME_PAGE};
  return kColumns;
}

MapiEnvironment::MapiEnvironment() {
  char tmpl[] = "/tmp/corvane-mapi-test-XXXXXX";
  home_ = mkdtemp(tmpl);
  setenv("CORVANE_HOME", home_.c_str(), 1);
  MAPIInitialize(nullptr);
}

MapiEnvironment::~MapiEnvironment() {
  MAPIUninitialize();
  std::error_code ec;
  std::filesystem::remove_all(home_, ec);
}

HRESULT CreateExchangeProfile(const std::string& profile, const std::string& mailbox, const std::string& server) {
  LPPROFADMIN admin = nullptr;
  HRESULT hr = MAPIAdminProfiles(0, &admin);
  if (FAILED(hr)) return hr;
  std::string name = profile;
  LPSERVICEADMIN services = nullptr;
  LPMAPITABLE table = nullptr;
  LPSRowSet rows = nullptr;
  std::string service = "MSEMS";
  if (SUCCEEDED(hr = admin->CreateProfile(name.data(), nullptr, 0, 0)) &&
      SUCCEEDED(hr = admin->AdminServices(name.data(), nullptr, 0, 0, &services)) &&
      SUCCEEDED(hr = services->CreateMsgService(service.data(), nullptr, 0, 0)) &&
      SUCCEEDED(hr = services->GetMsgServiceTable(0, &table))) {
    SizedSPropTagArray(2, cols) = {2, {PR_SERVICE_NAME, PR_SERVICE_UID}};
    SPropValue value{};
    value.ulPropTag = PR_SERVICE_NAME;
    value.Value.lpszA = service.data();
    SRestriction res{};
    res.rt = RES_CONTENT;
    res.res.resContent = {FL_FULLSTRING, PR_SERVICE_NAME, &value};
    if (SUCCEEDED(hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&cols), &res, nullptr, 0, &rows))) {
      if (rows->cRows == 0) {
        hr = MAPI_E_NOT_FOUND;
      } else {
        std::string m = mailbox, s = server;
        SPropValue props[2]{};
        props[0].ulPropTag = PR_PROFILE_UNRESOLVED_NAME;
        props[0].Value.lpszA = m.data();
        props[1].ulPropTag = PR_PROFILE_UNRESOLVED_SERVER;
        props[1].Value.lpszA = s.data();
        hr = services->ConfigureMsgService(reinterpret_cast<LPMAPIUID>(rows->aRow[0].lpProps[1].Value.bin.lpb), 0, 0,
                                           2, props);
      }
    }
  }
  FreeProws(rows);
  if (table) table->Release();
  if (services) services->Release();
  admin->Release();
  return hr;
}

namespace {

HRESULT NewProfile(const std::string& server, const std::string& mailbox, std::string& profile) {
  static std::atomic<int> serial{0};
  profile = fmt::format("Test{}", serial++);
  return CreateExchangeProfile(profile, mailbox, server);
}

HRESULT Logon(std::string& profile, LPMAPISESSION* session) {
  return MAPILogonEx(0, profile.data(), nullptr, MAPI_NEW_SESSION | MAPI_NO_MAIL | MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE,
                     session);
}

}  // namespace

HRESULT LogonTo(const std::string& server, const std::string& mailbox, LPMAPISESSION* session) {
  std::string profile;
  HRESULT hr = NewProfile(server, mailbox, profile);
  if (FAILED(hr)) return hr;
  return Logon(profile, session);
}

std::string EntryIdIdentity(const std::string& cell) {
  std::string text;
  for (size_t i = 2 + 2 * 28; i + 1 < cell.size(); i += 2) text.push_back(static_cast<char>(std::stoi(cell.substr(i, 2), nullptr, 16)));
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::string CellText(const SPropValue& v) {
  switch (PROP_TYPE(v.ulPropTag)) {
    case PT_STRING8:
      return std::string("S:") + v.Value.lpszA;
    case PT_LONG:
      return fmt::format("L:{}", v.Value.l);
    case PT_BINARY: {
      std::string out = "B:";
      for (ULONG i = 0; i < v.Value.bin.cb; ++i) out += fmt::format("{:02X}", v.Value.bin.lpb[i]);
      return out;
    }
    case PT_MV_STRING8: {
      std::string out = "M:";
      for (ULONG i = 0; i < v.Value.MVszA.cValues; ++i) out += (i ? "|" : "") + std::string(v.Value.MVszA.lppszA[i]);
      return out;
    }
    case PT_ERROR:
      return fmt::format("E:{:08X}", static_cast<uint32_t>(v.Value.err));
    default:
      return fmt::format("?:{:08X}", v.ulPropTag);
  }
}

GalRead ReadGal(const std::string& server, const std::string& mailbox, bool keep_rows) {
  GalRead r;
  std::string profile;
  HRESULT profile_hr = NewProfile(server, mailbox, profile);
  auto started = std::chrono::steady_clock::now();
  auto seconds_since = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  };
  LPMAPISESSION session = nullptr;
  LPADRBOOK book = nullptr;
  LPUNKNOWN root_unk = nullptr, gal_unk = nullptr;
  LPMAPITABLE hierarchy = nullptr, contents = nullptr;
  LPSRowSet found = nullptr;
  auto fail = [&r](const char* step, HRESULT hr) {
    r.step = step;
    r.hr = hr;
  };
  ULONG type = 0;
  HRESULT hr;
  if (FAILED(profile_hr)) {
    fail("CreateProfile", profile_hr);
  } else if (FAILED(hr = Logon(profile, &session))) {
    fail("MAPILogonEx", hr);
  } else if (FAILED(hr = session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book))) {
    fail("OpenAddressBook", hr);
  } else if (FAILED(hr = book->OpenEntry(0, nullptr, nullptr, MAPI_DEFERRED_ERRORS, &type, &root_unk)) ||
             type != MAPI_ABCONT) {
    fail("OpenEntry(root)", FAILED(hr) ? hr : E_FAIL);
  } else if (FAILED(hr = static_cast<LPABCONT>(root_unk)->GetHierarchyTable(MAPI_DEFERRED_ERRORS | CONVENIENT_DEPTH,
                                                                              &hierarchy))) {
    fail("GetHierarchyTable", hr);
  } else {
    SizedSPropTagArray(1, cols) = {1, {PR_ENTRYID}};
    BYTE uid[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A, 0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};
    SPropValue provider{}, container{};
    provider.ulPropTag = PR_AB_PROVIDER_ID;
    provider.Value.bin = {16, uid};
    container.ulPropTag = PR_EMS_AB_CONTAINERID;
    container.Value.l = 0;
    SRestriction parts[2]{};
    parts[0].rt = RES_PROPERTY;
    parts[0].res.resProperty = {RELOP_EQ, PR_AB_PROVIDER_ID, &provider};
    parts[1].rt = RES_PROPERTY;
    parts[1].res.resProperty = {RELOP_EQ, PR_EMS_AB_CONTAINERID, &container};
    SRestriction all{};
    all.rt = RES_AND;
    all.res.resAnd = {2, parts};
    if (FAILED(hr = HrQueryAllRows(hierarchy, reinterpret_cast<LPSPropTagArray>(&cols), &all, nullptr, 0, &found)) ||
        found->cRows != 1) {
      fail("HrFindExchangeGlobalAddressList", FAILED(hr) ? hr : E_FAIL);
    } else if (FAILED(hr = book->OpenEntry(found->aRow[0].lpProps[0].Value.bin.cb,
                                           reinterpret_cast<LPENTRYID>(found->aRow[0].lpProps[0].Value.bin.lpb),
                                           nullptr, MAPI_BEST_ACCESS | MAPI_NO_CACHE, &type, &gal_unk))) {
      fail("OpenEntry(GAL)", hr);
    } else if (FAILED(hr = static_cast<LPABCONT>(gal_unk)->GetContentsTable(0, &contents))) {
      fail("GetContentsTable", hr);
    } else {
      std::vector<BYTE> tags(CbNewSPropTagArray(GalColumns().size()));
      auto* columns = reinterpret_cast<LPSPropTagArray>(tags.data());
      columns->cValues = static_cast<ULONG>(GalColumns().size());
      std::memcpy(columns->aulPropTag, GalColumns().data(), GalColumns().size() * sizeof(ULONG));
      contents->SetColumns(columns, TBL_BATCH);
      if (FAILED(hr = contents->GetRowCount(0, &r.count))) {
        fail("GetRowCount", hr);
      } else {
        r.open_seconds = seconds_since(started);
        auto reading = std::chrono::steady_clock::now();
        for (ULONG offset = 0; offset < r.count; offset += 50) {
          LPSRowSet batch = nullptr;
          if (FAILED(hr = contents->QueryRows(50, 0, &batch))) {
            fail("QueryRows", hr);
            break;
          }
          r.batch_sizes.push_back(batch->cRows);
          r.rows_read += batch->cRows;
          for (ULONG i = 0; keep_rows && i < batch->cRows; ++i) {
            TextRow row;
            for (ULONG k = 0; k < batch->aRow[i].cValues; ++k) row.push_back(CellText(batch->aRow[i].lpProps[k]));
            r.rows.push_back(std::move(row));
          }
          FreeProws(batch);
        }
        r.read_seconds = seconds_since(reading);
      }
    }
  }
  FreeProws(found);
  if (contents) contents->Release();
  if (gal_unk) gal_unk->Release();
  if (hierarchy) hierarchy->Release();
  if (root_unk) root_unk->Release();
  if (book) book->Release();
  if (session) {
    session->Logoff(0, 0, 0);
    session->Release();
  }
  return r;
}

}  // namespace corvane::mapi::testing
