// An ODBC connection string taken apart into the fields the connection
// dialog shows, and put back together. Attributes the dialog has no field
// for are kept, in their order.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::wizard {

using Attribute = std::pair<std::string, std::string>;  // name as written, value without braces

struct ConnectionFields {
  std::string driver;  // Driver=
  std::string dsn;     // DSN=; a data source replaces the driver and server fields
  std::string server, port, database, user, password;
  bool savePassword = true;     // false: the composed string carries no password
  std::vector<Attribute> others;
};

// Reads "Name=Value;..." (values in braces may hold ';' and "}}" for '}').
// Recognised names, in any case: Driver, DSN, Server (Servername, Host),
// Port, Database, Uid (User, Username, User ID), Pwd (Password).
ConnectionFields ParseConnectionString(std::string_view text);

// The string of `fields`: Driver or DSN, then Server, Port, Database, Uid,
// Pwd where set, then the other attributes. Values that need it are put in
// braces.
std::string ComposeConnectionString(const ConnectionFields& fields);

// True for a driver that opens a database file (SQLite): it needs a file
// name instead of a server and a user.
bool IsFileDriver(std::string_view driver);

// What a new connection of `driver` should also say: SQLite's journal and
// sync settings, psqlODBC's switched-off communication log.
std::vector<Attribute> RecommendedAttributes(std::string_view driver);

// Opens `connectionString` through the database layer and closes it again
// (connection_test.cpp, in the machine part). Empty when it opened;
// otherwise the driver's own words for why not.
std::string TestConnection(const std::string& connectionString);

}  // namespace corvane::wizard
