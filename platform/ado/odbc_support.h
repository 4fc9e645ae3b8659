// ODBC plumbing shared by the connection and the recordset: owned handles,
// the driver's diagnostic records, and the ADO numbering of failures.
// Private to platform/ado; callers see only ado.h.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "platform/ado/ado.h"

namespace corvane::ado::odbc {

// ADO's own errors (not the provider's) are numbered 0x800A0000 + code.
constexpr int32_t AdoCode(int code) { return static_cast<int32_t>(0x800A0000u | static_cast<uint32_t>(code)); }
static_assert(AdoCode(3021) == adErrNoCurrentRecord && AdoCode(3251) == adErrFeatureNotAvailable &&
              AdoCode(3265) == adErrItemNotFound && AdoCode(3704) == adErrObjectClosed &&
              AdoCode(3705) == adErrObjectOpen && AdoCode(3709) == adErrInvalidConnection &&
              AdoCode(3001) == adErrInvalidArgument);

inline const char* const kSource = "Microsoft OLE DB Provider for ODBC Drivers";

// An ODBC handle freed when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE parent);  // allocates; throws AdoError on failure
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : type_(other.type_), h_(other.h_) { other.h_ = SQL_NULL_HANDLE; }
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const { return h_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }
  void Reset();

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// The process's one ODBC environment (ODBC 3 behaviour).
SQLHENV Environment();

inline bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Every diagnostic record the driver (or driver manager) holds for `h`.
std::vector<ErrorRecord> Diagnostics(SQLSMALLINT type, SQLHANDLE h);

// The description ADO raises: the first record's message.
std::string DescriptionOf(const std::vector<ErrorRecord>& records, const std::string& fallback);

// True when the records say the database is unreachable or the link broke
// (SQLSTATE class 08, a timeout, the server shutting the session down).
bool IsConnectionFailure(const std::vector<ErrorRecord>& records);

// Reads column `col` (1-based) of the current row as UTF-8 text into `out`;
// false when the driver fails (its records stay on the statement handle).
bool GetText(SQLHSTMT stmt, SQLUSMALLINT col, std::vector<char>& buffer, FieldValue& out);

// Names of the result's columns, in order.
std::vector<std::string> ColumnNames(SQLHSTMT stmt);

}  // namespace corvane::ado::odbc
