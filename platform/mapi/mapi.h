// A MAPI-shaped interface to the directory: the subset of Extended MAPI
// that the GAL reader uses, with the same names, structures, property tags,
// flags and error values, so that code written against it reads like
// ordinary Extended MAPI code. The address-book provider behind it reads
// an LDAP directory or an LDIF file (see providers in this folder).
//
// Objects are reference counted: every interface pointer handed out holds
// one reference, released with Release(). Memory handed out by MAPI
// (row sets, entry identifiers) is freed with MAPIFreeBuffer / FreeProws.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint8_t BYTE;
typedef BYTE* LPBYTE;
typedef char* LPSTR;
typedef void* LPVOID;
typedef uintptr_t ULONG_PTR;
typedef ULONG* LPULONG;

#define S_OK ((HRESULT)0)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// Error values.
#define E_FAIL ((HRESULT)0x80004005)
#define MAPI_E_CALL_FAILED ((HRESULT)0x80004005)
#define MAPI_E_NOT_ENOUGH_MEMORY ((HRESULT)0x8007000E)
#define MAPI_E_INVALID_PARAMETER ((HRESULT)0x80070057)
#define MAPI_E_NO_ACCESS ((HRESULT)0x80070005)
#define MAPI_E_NO_SUPPORT ((HRESULT)0x80040102)
#define MAPI_E_INVALID_ENTRYID ((HRESULT)0x80040107)
#define MAPI_E_INVALID_OBJECT ((HRESULT)0x80040108)
#define MAPI_E_NOT_FOUND ((HRESULT)0x8004010F)
#define MAPI_E_LOGON_FAILED ((HRESULT)0x80040111)
#define MAPI_E_NETWORK_ERROR ((HRESULT)0x80040115)
#define MAPI_E_TOO_COMPLEX ((HRESULT)0x80040117)
#define MAPI_E_CORRUPT_DATA ((HRESULT)0x8004011B)
#define MAPI_E_UNCONFIGURED ((HRESULT)0x8004011C)
#define MAPI_E_NOT_INITIALIZED ((HRESULT)0x80040605)
// The GAL locator's answer when its row carries an unexpected property.
#define MAPI_E_UNEXPECTED_PROPERTY ((HRESULT)0x800B0001)

// Property types and tags.
#define PT_UNSPECIFIED 0x0000
#define PT_NULL 0x0001
#define PT_I2 0x0002
#define PT_LONG 0x0003
#define PT_BOOLEAN 0x000B
#define PT_ERROR 0x000A
#define PT_STRING8 0x001E
#define PT_BINARY 0x0102
#define PT_MV_FLAG 0x1000
#define PT_MV_STRING8 (PT_MV_FLAG | PT_STRING8)
#define PROP_TYPE(tag) ((ULONG)(tag) & 0xFFFF)
#define PROP_ID(tag) ((ULONG)(tag) >> 16)
#define PROP_TAG(type, id) ((((ULONG)(id)) << 16) | ((ULONG)(type)))
#define CHANGE_PROP_TYPE(tag, type) (((ULONG)0xFFFF0000 & (tag)) | (type))

#define PR_ENTRYID 0x0FFF0102
#define PR_OBJECT_TYPE 0x0FFE0003
#define PR_DISPLAY_NAME 0x3001001E
#define PR_COMMENT 0x3004001E
#define PR_DISPLAY_TYPE 0x39000003
#define PR_EMS_AB_DISPLAY_NAME_PRINTABLE 0x39FF001E
#define PR_ACCOUNT 0x3A00001E
#define PR_GIVEN_NAME 0x3A06001E
#define PR_BUSINESS_TELEPHONE_NUMBER 0x3A08001E
#define PR_HOME_TELEPHONE_NUMBER 0x3A09001E
#define PR_INITIALS 0x3A0A001E
#define PR_SURNAME 0x3A11001E
#define PR_COMPANY_NAME 0x3A16001E
#define PR_TITLE 0x3A17001E
#define PR_DEPARTMENT_NAME 0x3A18001E
#define PR_OFFICE_LOCATION 0x3A19001E
#define PR_BUSINESS2_TELEPHONE_NUMBER 0x3A1B001E
#define PR_MOBILE_TELEPHONE_NUMBER 0x3A1C001E
#define PR_PAGER_TELEPHONE_NUMBER 0x3A21001E
#define PR_PRIMARY_FAX_NUMBER 0x3A23001E
#define PR_HOME_FAX_NUMBER 0x3A25001E
#define PR_COUNTRY 0x3A26001E
#define PR_LOCALITY 0x3A27001E
#define PR_STATE_OR_PROVINCE 0x3A28001E
#define PR_STREET_ADDRESS 0x3A29001E
#define PR_POSTAL_CODE 0x3A2A001E
#define PR_POST_OFFICE_BOX 0x3A2B001E
#define PR_ASSISTANT_TELEPHONE_NUMBER 0x3A2E001E
#define PR_HOME2_TELEPHONE_NUMBER 0x3A2F001E
#define PR_ASSISTANT 0x3A30001E
#define PR_MANAGER_NAME 0x3A4E001E
#define PR_PERSONAL_HOME_PAGE 0x3A50001E
#define PR_BUSINESS_HOME_PAGE 0x3A51001E
#define PR_HOME_ADDRESS_CITY 0x3A59001E
#define PR_HOME_ADDRESS_COUNTRY 0x3A5A001E
#define PR_HOME_ADDRESS_POSTAL_CODE 0x3A5B001E
#define PR_HOME_ADDRESS_STATE_OR_PROVINCE 0x3A5C001E
#define PR_HOME_ADDRESS_STREET 0x3A5D001E
#define PR_EMS_AB_PROXY_ADDRESSES 0x800F101E
#define PR_EMS_AB_EXTENSION_ATTRIBUTE_1 0x802D001E
#define PR_EMS_AB_EXTENSION_ATTRIBUTE_2 0x802E001E
#define PR_EMS_AB_EXTENSION_ATTRIBUTE_3 0x802F001E
#define PR_EMS_AB_EXTENSION_ATTRIBUTE_4 0x8030001E
#define PR_AB_PROVIDER_ID 0x36150102
#define PR_EMS_AB_CONTAINERID 0xFFFD0003
#define PR_SERVICE_NAME 0x3D09001E
#define PR_SERVICE_UID 0x3D0C0102
#define PR_PROFILE_UNRESOLVED_NAME 0x6607001E
#define PR_PROFILE_UNRESOLVED_SERVER 0x6608001E

// Flags.
#define MAPI_LOGON_UI 0x00000001
#define MAPI_NEW_SESSION 0x00000002
#define MAPI_EXPLICIT_PROFILE 0x00000010
#define MAPI_EXTENDED 0x00000020
#define MAPI_NO_MAIL 0x00008000
#define MAPI_NT_SERVICE 0x00010000
#define AB_NO_DIALOG 0x00000001
#define MAPI_DEFERRED_ERRORS 0x00000008
#define MAPI_BEST_ACCESS 0x00000010
#define MAPI_NO_CACHE 0x00000200
#define CONVENIENT_DEPTH 0x00000001
#define TBL_BATCH 0x00000002
#define FL_FULLSTRING 0x00000000
#define FL_SUBSTRING 0x00000001
#define FL_PREFIX 0x00000002
#define FL_IGNORECASE 0x00010000
#define RELOP_LT 0
#define RELOP_LE 1
#define RELOP_GT 2
#define RELOP_GE 3
#define RELOP_EQ 4
#define RELOP_NE 5

// Object types.
#define MAPI_ABCONT 4
#define MAPI_MAILUSER 6
#define MAPI_DISTLIST 8

// Display types.
#define DT_MAILUSER 0
#define DT_DISTLIST 1
#define DT_FORUM 2
#define DT_REMOTE_MAILUSER 6
#define DT_GLOBAL 0x00020000
#define DT_CONTAINER 0x00000100

struct MAPIUID {
  BYTE ab[16];
};
typedef MAPIUID* LPMAPIUID;

struct ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];
};
typedef ENTRYID* LPENTRYID;

struct SBinary {
  ULONG cb;
  LPBYTE lpb;
};

struct SLPSTRArray {
  ULONG cValues;
  LPSTR* lppszA;
};

union _PV {
  short int i;
  LONG l;
  ULONG ul;
  unsigned short int b;
  LPSTR lpszA;
  SBinary bin;
  SLPSTRArray MVszA;
  SCODE err;
  LONG x;
};

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  union _PV Value;
};
typedef SPropValue* LPSPropValue;

struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
};
typedef SRow* LPSRow;

// Flexible arrays: allocated with room for cRows / cValues elements.
struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
};
typedef SRowSet* LPSRowSet;
#define CbNewSRowSet(_crow) (offsetof(SRowSet, aRow) + (_crow) * sizeof(SRow))

struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
};
typedef SPropTagArray* LPSPropTagArray;
#define CbNewSPropTagArray(_ctag) (offsetof(SPropTagArray, aulPropTag) + (_ctag) * sizeof(ULONG))
#define SizedSPropTagArray(_ctag, _name) \
  struct _SPropTagArray_##_name {        \
    ULONG cValues;                       \
    ULONG aulPropTag[_ctag];             \
  } _name

struct SSortOrderSet;
typedef SSortOrderSet* LPSSortOrderSet;

#define RES_AND 0x00000000
#define RES_CONTENT 0x00000003
#define RES_PROPERTY 0x00000004

struct SRestriction;
typedef SRestriction* LPSRestriction;
struct SAndRestriction {
  ULONG cRes;
  LPSRestriction lpRes;
};
struct SContentRestriction {
  ULONG ulFuzzyLevel;
  ULONG ulPropTag;
  LPSPropValue lpProp;
};
struct SPropertyRestriction {
  ULONG relop;
  ULONG ulPropTag;
  LPSPropValue lpProp;
};
struct SRestriction {
  ULONG rt;
  union {
    SAndRestriction resAnd;
    SContentRestriction resContent;
    SPropertyRestriction resProperty;
  } res;
};

// Interface identifiers are not used by this layer; pass nullptr.
struct IID;
typedef const IID* LPCIID;

class IUnknown {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

class IMAPITable : public IUnknown {
 public:
  virtual HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) = 0;
  virtual HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) = 0;
  virtual HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) = 0;
  // Reads up to lRowCount rows from the current position and moves past
  // them; fewer (or none) at the end of the table.
  virtual HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) = 0;
};
typedef IMAPITable* LPMAPITABLE;

class IMAPIContainer : public IUnknown {
 public:
  virtual HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
  virtual HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
};

class IABContainer : public IMAPIContainer {};
typedef IABContainer* LPABCONT;

class IAddrBook : public IUnknown {
 public:
  // cbEntryID 0 opens the root container.
  virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                            ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
};
typedef IAddrBook* LPADRBOOK;

class IMAPISession : public IUnknown {
 public:
  virtual HRESULT OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook) = 0;
  virtual HRESULT Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) = 0;
};
typedef IMAPISession* LPMAPISESSION;

class IMsgServiceAdmin : public IUnknown {
 public:
  virtual HRESULT CreateMsgService(LPSTR lpszService, LPSTR lpszDisplayName, ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
  virtual HRESULT GetMsgServiceTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
  virtual HRESULT ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cValues,
                                      LPSPropValue lpProps) = 0;
};
typedef IMsgServiceAdmin* LPSERVICEADMIN;

class IProfAdmin : public IUnknown {
 public:
  // Fails with MAPI_E_NO_ACCESS, changing nothing, when the profile exists.
  virtual HRESULT CreateProfile(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
  virtual HRESULT DeleteProfile(LPSTR lpszProfileName, ULONG ulFlags) = 0;
  virtual HRESULT AdminServices(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags,
                                LPSERVICEADMIN* lppServiceAdmin) = 0;
};
typedef IProfAdmin* LPPROFADMIN;

HRESULT MAPIInitialize(LPVOID lpMapiInit);
void MAPIUninitialize();
HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, ULONG ulFlags,
                    LPMAPISESSION* lppSession);

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
// Allocates memory freed together with lpObject (a MAPIAllocateBuffer block).
SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG MAPIFreeBuffer(LPVOID lpBuffer);
void FreeProws(LPSRowSet lpRows);
HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                       LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows);

// Details of the last failure of this layer on the calling thread (which
// step, which directory, which line or attribute), in words a person can
// act on; empty when nothing has failed yet. Never contains a password.
// Each failure is also written as one line to standard error.
const char* MAPIGetLastErrorText();
