#include "platform/ado/odbc_catalog.h"

#include <string_view>

#include "platform/ado/odbc_support.h"

namespace corvane::ado {

namespace {

// The value of `key` in a driver's attribute list ("k=v\0k=v\0\0").
std::string Attribute(const std::vector<SQLCHAR>& attributes, std::string_view key) {
  const char* p = reinterpret_cast<const char*>(attributes.data());
  const char* end = p + attributes.size();
  while (p < end && *p != '\0') {
    std::string_view entry(p);
    if (entry.size() > key.size() && entry[key.size()] == '=' && entry.substr(0, key.size()) == key)
      return std::string(entry.substr(key.size() + 1));
    p += entry.size() + 1;
  }
  return {};
}

// The driver manager's environment, or none when it cannot be had (then
// there is nothing to list).
SQLHENV EnvironmentOrNone() {
  try {
    return odbc::Environment();
  } catch (const AdoError&) {
    return SQL_NULL_HANDLE;
  }
}

}  // namespace

std::vector<OdbcDriver> InstalledDrivers() {
  std::vector<OdbcDriver> drivers;
  SQLHENV env = EnvironmentOrNone();
  if (env == SQL_NULL_HANDLE) return drivers;
  std::vector<SQLCHAR> name(512), attributes(4096);
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    SQLSMALLINT nameLength = 0, attributesLength = 0;
    std::fill(attributes.begin(), attributes.end(), 0);
    SQLRETURN rc = SQLDrivers(env, direction, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                              attributes.data(), static_cast<SQLSMALLINT>(attributes.size() - 1), &attributesLength);
    if (!odbc::Ok(rc)) break;
    drivers.push_back({reinterpret_cast<const char*>(name.data()), Attribute(attributes, "Description")});
  }
  return drivers;
}

std::vector<OdbcDataSource> DataSources() {
  std::vector<OdbcDataSource> sources;
  SQLHENV env = EnvironmentOrNone();
  if (env == SQL_NULL_HANDLE) return sources;
  std::vector<SQLCHAR> name(SQL_MAX_DSN_LENGTH + 1), driver(512);
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    SQLSMALLINT nameLength = 0, driverLength = 0;
    SQLRETURN rc = SQLDataSources(env, direction, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                  driver.data(), static_cast<SQLSMALLINT>(driver.size()), &driverLength);
    if (!odbc::Ok(rc)) break;
    sources.push_back({reinterpret_cast<const char*>(name.data()), reinterpret_cast<const char*>(driver.data())});
  }
  return sources;
}

}  // namespace corvane::ado
