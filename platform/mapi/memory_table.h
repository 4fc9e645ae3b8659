// A table whose rows are all in memory: the message-service table and the
// address book's hierarchy table (a handful of rows each).
#pragma once

#include <memory>
#include <optional>

#include "platform/mapi/prop_row.h"
#include "platform/mapi/ref_counted.h"

namespace corvane::mapi {

class MemoryTable : public RefCounted<IMAPITable> {
 public:
  // The columns start as `columns`; SetColumns changes them.
  MemoryTable(std::vector<ULONG> columns, std::vector<Row> rows);

  HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;
  HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override;
  HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) override;
  HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override;

 private:
  std::vector<ULONG> columns_;
  std::vector<Row> rows_;
  std::vector<size_t> view_;  // indexes of the rows that pass the restriction
  size_t position_ = 0;
};

}  // namespace corvane::mapi
