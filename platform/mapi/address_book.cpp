#include "platform/mapi/address_book.h"

#include <cstring>

#include <fmt/format.h>

#include "platform/mapi/last_error.h"
#include "platform/mapi/memory_table.h"

namespace corvane::mapi {
namespace {

// A provider identifier that is not Exchange's, for the contacts
// container that the GAL locator must pass over.
constexpr BYTE kContactsProviderUid[16] = {0x4C, 0x6F, 0x63, 0x61, 0x6C, 0x43, 0x6F, 0x6E,
                                           0x74, 0x61, 0x63, 0x74, 0x73, 0x00, 0x00, 0x01};

constexpr LONG kAllUsersContainerId = 1;

enum class ContainerKind { Root, Gal, AllUsers, Contacts };

std::string ContactsEntryId() {
  std::string id(4, '\0');
  id.append(reinterpret_cast<const char*>(kContactsProviderUid), 16);
  id += "contacts";
  return id;
}

std::string AllUsersEntryId() { return PermanentEntryId("cn=All Users", DT_CONTAINER); }

std::string Uid(const BYTE (&uid)[16]) { return std::string(reinterpret_cast<const char*>(uid), 16); }

std::vector<Row> HierarchyRows() {
  auto row = [](std::string id, const BYTE (&uid)[16], LONG container_id, const char* name, LONG display_type,
                LONG depth) {
    return Row{Prop::Binary(PR_ENTRYID, std::move(id)),
               Prop::Binary(PR_AB_PROVIDER_ID, Uid(uid)),
               Prop::Long(PR_EMS_AB_CONTAINERID, container_id),
               Prop::String(PR_DISPLAY_NAME, name),
               Prop::Long(PR_OBJECT_TYPE, MAPI_ABCONT),
               Prop::Long(PR_DISPLAY_TYPE, display_type),
               Prop::Long(PROP_TAG(PT_LONG, 0x3005), depth)};  // PR_DEPTH
  };
  return {row(GalContainerEntryId(), kExchangeProviderUid, 0, "Global Address List", DT_GLOBAL, 0),
          row(AllUsersEntryId(), kExchangeProviderUid, kAllUsersContainerId, "All Users", DT_CONTAINER, 1),
          row(ContactsEntryId(), kContactsProviderUid, 0, "Contacts", DT_CONTAINER, 0)};
}

std::vector<ULONG> DefaultHierarchyColumns() {
  return {PR_ENTRYID, PR_DISPLAY_NAME, PR_OBJECT_TYPE, PR_DISPLAY_TYPE, PR_AB_PROVIDER_ID, PR_EMS_AB_CONTAINERID};
}

std::vector<ULONG> DefaultContentsColumns() {
  return {PR_ENTRYID, PR_DISPLAY_NAME, PR_OBJECT_TYPE, PR_DISPLAY_TYPE};
}

// The GAL's contents: a count from the logon's scan, rows from a reading
// pass opened at the first QueryRows.
class GalContentsTable : public RefCounted<IMAPITable> {
 public:
  explicit GalContentsTable(std::shared_ptr<GalDirectory> dir)
      : dir_(std::move(dir)), columns_(DefaultContentsColumns()) {}

  HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    columns_ = TagsOf(tags);
    return S_OK;
  }
  HRESULT Restrict(LPSRestriction res, ULONG) override {
    if (!res) return S_OK;
    return Fail(MAPI_E_TOO_COMPLEX, "the global address list's contents cannot be restricted");
  }
  HRESULT GetRowCount(ULONG, ULONG* count) override {
    if (!count) return MAPI_E_INVALID_PARAMETER;
    *count = dir_->count();
    return S_OK;
  }
  HRESULT QueryRows(LONG n, ULONG, LPSRowSet* out) override {
    if (!out || n < 0) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (FAILED(failed_)) return failed_;
    if (!reader_ && !done_) {
      if (HRESULT hr = dir_->OpenReader(reader_); FAILED(hr)) return failed_ = hr;
    }
    LPSRowSet set = nullptr;
    HRESULT hr = NewRowSet(static_cast<ULONG>(n), &set);
    if (FAILED(hr)) return hr;
    while (!done_ && set->cRows < static_cast<ULONG>(n)) {
      bool end = false;
      if (FAILED(hr = reader_->Next(row_, end))) {
        FreeProws(set);
        reader_.reset();
        return failed_ = hr;
      }
      if (end) {
        done_ = true;
        reader_.reset();
        break;
      }
      if (FAILED(hr = FillSRow(columns_, row_, &set->aRow[set->cRows]))) {
        FreeProws(set);
        return hr;
      }
      ++set->cRows;
    }
    *out = set;
    return S_OK;
  }

 private:
  std::shared_ptr<GalDirectory> dir_;
  std::vector<ULONG> columns_;
  std::unique_ptr<GalReader> reader_;
  Row row_;
  bool done_ = false;
  HRESULT failed_ = S_OK;  // a failed read stays failed: no short table
};

class Container : public RefCounted<IABContainer> {
 public:
  Container(ContainerKind kind, std::shared_ptr<GalDirectory> dir) : kind_(kind), dir_(std::move(dir)) {}

  HRESULT GetContentsTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    switch (kind_) {
      case ContainerKind::Root:
        return Fail(MAPI_E_NO_SUPPORT, "the address book's root container has no contents table");
      case ContainerKind::Gal:
        *out = new GalContentsTable(dir_);
        return S_OK;
      default:
        *out = new MemoryTable(DefaultContentsColumns(), {});
        return S_OK;
    }
  }
  HRESULT GetHierarchyTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = new MemoryTable(DefaultHierarchyColumns(), kind_ == ContainerKind::Root ? HierarchyRows() : std::vector<Row>{});
    return S_OK;
  }

 private:
  ContainerKind kind_;
  std::shared_ptr<GalDirectory> dir_;
};

class AddressBook : public RefCounted<IAddrBook> {
 public:
  explicit AddressBook(std::shared_ptr<GalDirectory> dir) : dir_(std::move(dir)) {}

  HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID, ULONG, ULONG* obj_type, LPUNKNOWN* out) override {
    if (!out || (cb && !id)) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    ContainerKind kind;
    std::string bytes = cb ? std::string(reinterpret_cast<const char*>(id), cb) : std::string();
    if (cb == 0) kind = ContainerKind::Root;
    else if (bytes == GalContainerEntryId()) kind = ContainerKind::Gal;
    else if (bytes == AllUsersEntryId()) kind = ContainerKind::AllUsers;
    else if (bytes == ContactsEntryId()) kind = ContainerKind::Contacts;
    else if (cb > 28 && std::memcmp(id->ab, kExchangeProviderUid, 16) == 0)
      return Fail(MAPI_E_NO_SUPPORT, "address-book entries other than containers cannot be opened");
    else
      return Fail(MAPI_E_INVALID_ENTRYID, "the entry identifier names no address-book container");
    if (obj_type) *obj_type = MAPI_ABCONT;
    *out = static_cast<IABContainer*>(new Container(kind, dir_));
    return S_OK;
  }

 private:
  std::shared_ptr<GalDirectory> dir_;
};

}  // namespace

std::string GalContainerEntryId() { return PermanentEntryId("", DT_GLOBAL); }

IAddrBook* NewAddressBook(std::shared_ptr<GalDirectory> directory) { return new AddressBook(std::move(directory)); }

}  // namespace corvane::mapi
