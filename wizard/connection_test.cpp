// The builder's "Test Connection": opens a connection string through the
// database layer (declared in connection_fields.h).
#include "platform/ado/ado.h"
#include "wizard/connection_fields.h"

namespace corvane::wizard {

std::string TestConnection(const std::string& connectionString) {
  auto connection = ado::CreateConnection();
  try {
    connection->Open(connectionString);
    connection->Close();
    return {};
  } catch (const ado::AdoError& e) {
    std::string words;
    for (const ado::ErrorRecord& r : connection->Errors())
      words += (words.empty() ? "" : "\n") + r.Description;
    return words.empty() ? e.Description : words;
  }
}

}  // namespace corvane::wizard
