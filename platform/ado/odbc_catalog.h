// The ODBC drivers and data sources installed on this machine, as the
// driver manager (unixODBC) lists them from odbcinst.ini and the system and
// user odbc.ini files. Used to offer a choice when a connection string is
// built; nothing here opens a connection.
#pragma once

#include <string>
#include <vector>

namespace corvane::ado {

struct OdbcDriver {
  std::string name;         // as a connection string names it: Driver={name}
  std::string description;  // the driver's "Description" attribute, may be empty
};

struct OdbcDataSource {
  std::string name;    // as a connection string names it: DSN=name
  std::string driver;  // the driver it uses, as the driver manager reports it
};

// Every installed driver, in the driver manager's order. Empty when the
// driver manager has none (or cannot be loaded).
std::vector<OdbcDriver> InstalledDrivers();

// Every system and user data source, in the driver manager's order.
std::vector<OdbcDataSource> DataSources();

}  // namespace corvane::ado
