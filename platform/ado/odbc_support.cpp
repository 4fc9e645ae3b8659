#include "platform/ado/odbc_support.h"

#include <cstring>

namespace corvane::ado::odbc {

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
  if (!Ok(SQLAllocHandle(type, parent, &h_))) {
    h_ = SQL_NULL_HANDLE;
    throw AdoError(adErrGeneric, kSource, "The ODBC driver manager could not allocate a handle.");
  }
}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Reset();
    type_ = other.type_;
    h_ = other.h_;
    other.h_ = SQL_NULL_HANDLE;
  }
  return *this;
}

void Handle::Reset() {
  if (h_ != SQL_NULL_HANDLE) {
    SQLFreeHandle(type_, h_);
    h_ = SQL_NULL_HANDLE;
  }
}

SQLHENV Environment() {
  // Allocated once and kept for the life of the process: connections may be
  // closed from static destructors, after which the environment must still be there.
  static SQLHENV env = [] {
    SQLHENV e = SQL_NULL_HANDLE;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e))) return SQLHENV{SQL_NULL_HANDLE};
    SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return e;
  }();
  if (env == SQL_NULL_HANDLE) throw AdoError(adErrGeneric, kSource, "The ODBC driver manager is not available.");
  return env;
}

std::vector<ErrorRecord> Diagnostics(SQLSMALLINT type, SQLHANDLE h) {
  std::vector<ErrorRecord> records;
  if (h == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLCHAR> message(1024);
    SQLRETURN rc =
        SQLGetDiagRec(type, h, i, state, &native, message.data(), static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRec(type, h, i, state, &native, message.data(), static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Ok(rc)) break;
    ErrorRecord r;
    r.Number = native;
    r.SQLState = reinterpret_cast<const char*>(state);
    r.Description = reinterpret_cast<const char*>(message.data());
    // Some drivers spread a message over lines; a log line holds it on one.
    std::string oneLine;
    for (char ch : r.Description) {
      if (ch == '\n' || ch == '\r' || ch == '\t') {
        if (!oneLine.empty() && oneLine.back() != ' ') oneLine += ' ';
      } else {
        oneLine += ch;
      }
    }
    while (!oneLine.empty() && oneLine.back() == ' ') oneLine.pop_back();
    r.Description = std::move(oneLine);
    records.push_back(std::move(r));
  }
  return records;
}

std::string DescriptionOf(const std::vector<ErrorRecord>& records, const std::string& fallback) {
  for (const auto& r : records)
    if (!r.Description.empty()) return r.Description;
  return fallback;
}

bool IsConnectionFailure(const std::vector<ErrorRecord>& records) {
  for (const auto& r : records) {
    const std::string& s = r.SQLState;
    if (s.rfind("08", 0) == 0) return true;                         // connection exception
    if (s == "HYT00" || s == "HYT01") return true;                  // timeouts
    if (s.rfind("57P", 0) == 0) return true;                        // PostgreSQL: server shutting down the session
    if (s == "IM002" || s == "IM003" || s == "IM004") return true;  // no such driver / driver cannot load
  }
  return false;
}

bool GetText(SQLHSTMT stmt, SQLUSMALLINT col, std::vector<char>& buffer, FieldValue& out) {
  if (buffer.size() < 256) buffer.resize(4096);
  std::string text;
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, col, SQL_C_CHAR, buffer.data(), static_cast<SQLLEN>(buffer.size()), &indicator);
    if (rc == SQL_NO_DATA) break;  // every part has been read
    if (!Ok(rc)) return false;
    if (indicator == SQL_NULL_DATA) {
      out.reset();
      return true;
    }
    const size_t room = buffer.size() - 1;  // the driver writes a terminating NUL
    if (indicator == SQL_NO_TOTAL && rc == SQL_SUCCESS) {
      text.append(buffer.data(), strnlen(buffer.data(), room));
      break;
    }
    if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= room) {
      text.append(buffer.data(), static_cast<size_t>(indicator));
      break;
    }
    // Truncated: a full buffer arrived and more follows.
    text.append(buffer.data(), room);
    if (rc == SQL_SUCCESS) break;
  }
  out = std::move(text);
  return true;
}

std::vector<std::string> ColumnNames(SQLHSTMT stmt) {
  SQLSMALLINT count = 0;
  if (!Ok(SQLNumResultCols(stmt, &count))) return {};
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(count));
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLCHAR name[512] = {};
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLDescribeCol(stmt, i, name, sizeof name, &length, &type, &size, &digits, &nullable);
    names.emplace_back(reinterpret_cast<const char*>(name));
  }
  return names;
}

}  // namespace corvane::ado::odbc
