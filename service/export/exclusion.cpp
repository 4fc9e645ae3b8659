#include "service/export/exclusion.h"

#include "service/parameters/parameters.h"

namespace corvane::service {

Exclusion ReadExclusion(ExportContext& w, Recovery& recovery) {
  auto setting = [&](const char* name, const char* defaultValue) {
    std::string value = defaultValue;
    recovery.Try([&] { value = w.GetSetting(name, defaultValue); });
    return value;
  };
  Exclusion exclusion;
  if (parameters::ToInt32(setting("Exclude", "0")) != 1) return exclusion;
  const std::string table = setting("ExcludeTableName", "EXCLUDES");
  const std::string field = setting("ExcludeFieldName", "");
  if (table.empty() || field.empty()) {
    exclusion.state = Exclusion::State::Invalid;
    return exclusion;
  }
  exclusion.state = Exclusion::State::On;
  exclusion.notExcluded =
      "not exists (select 'x' from " + table + " b where upper(a." + field + ") = upper(b." + field + "))";
  return exclusion;
}

void WriteInvalidExclusionEvent(ExportContext& w) {
  w.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, 110, "Exclude Settings invalid\r\n");
}

}  // namespace corvane::service
