// The parameters key in the machine's registry hive, as the wizard reads
// and writes it.
#pragma once

#include "platform/registry/registry.h"
#include "wizard/wizard_ports.h"

namespace corvane::wizard {

class HiveParameterStore : public ParameterStore {
 public:
  explicit HiveParameterStore(registry::Hive hive) : hive_(std::move(hive)) {}

  // Fails with the system error number (13 when the user may not read or
  // write the hive file or its folder) or, for a damaged file, EIO.
  std::optional<Failure> CheckAccess() override;
  std::optional<std::string> Read(std::string_view name) override;
  // Creates the key when it does not exist yet: on this system the
  // service is installed after its connection string is configured.
  std::optional<Failure> Write(std::string_view name, std::string_view text, registry::ValueType type) override;

 private:
  registry::Hive hive_;
};

}  // namespace corvane::wizard
