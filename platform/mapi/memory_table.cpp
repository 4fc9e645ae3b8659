#include "platform/mapi/memory_table.h"

#include <algorithm>

namespace corvane::mapi {

MemoryTable::MemoryTable(std::vector<ULONG> columns, std::vector<Row> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {
  for (size_t i = 0; i < rows_.size(); ++i) view_.push_back(i);
}

HRESULT MemoryTable::SetColumns(LPSPropTagArray lpPropTagArray, ULONG) {
  if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
  columns_ = TagsOf(lpPropTagArray);
  return S_OK;
}

HRESULT MemoryTable::Restrict(LPSRestriction lpRestriction, ULONG) {
  HRESULT hr = CheckRestriction(lpRestriction);
  if (FAILED(hr)) return hr;
  view_.clear();
  for (size_t i = 0; i < rows_.size(); ++i)
    if (Matches(lpRestriction, rows_[i])) view_.push_back(i);
  position_ = 0;
  return S_OK;
}

HRESULT MemoryTable::GetRowCount(ULONG, ULONG* lpulCount) {
  if (!lpulCount) return MAPI_E_INVALID_PARAMETER;
  *lpulCount = static_cast<ULONG>(view_.size());
  return S_OK;
}

HRESULT MemoryTable::QueryRows(LONG lRowCount, ULONG, LPSRowSet* lppRows) {
  if (!lppRows || lRowCount < 0) return MAPI_E_INVALID_PARAMETER;
  size_t n = std::min(static_cast<size_t>(lRowCount), view_.size() - position_);
  LPSRowSet set = nullptr;
  HRESULT hr = NewRowSet(static_cast<ULONG>(n), &set);
  if (FAILED(hr)) return hr;
  for (size_t i = 0; i < n; ++i) {
    hr = FillSRow(columns_, rows_[view_[position_ + i]], &set->aRow[i]);
    if (FAILED(hr)) {
      FreeProws(set);
      return hr;
    }
    set->cRows = static_cast<ULONG>(i + 1);
  }
  position_ += n;
  *lppRows = set;
  return S_OK;
}

}  // namespace corvane::mapi

HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                       LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows) {
  using namespace corvane::mapi;
  if (!lpTable || !lppRows) return MAPI_E_INVALID_PARAMETER;
  if (lpSortOrderSet) return MAPI_E_TOO_COMPLEX;
  *lppRows = nullptr;
  HRESULT hr = S_OK;
  if (lpPropTags && FAILED(hr = lpTable->SetColumns(lpPropTags, 0))) return hr;
  if (lpRestriction && FAILED(hr = lpTable->Restrict(lpRestriction, 0))) return hr;
  // Collect batches, then move their rows into one set; a row limit of 0
  // means no limit.
  std::vector<LPSRowSet> batches;
  size_t total = 0;
  auto free_batches = [&batches] {
    for (LPSRowSet b : batches) FreeProws(b);
  };
  for (;;) {
    LONG want = 256;
    if (crowsMax > 0) want = static_cast<LONG>(std::min<size_t>(256, crowsMax - total + 1));
    LPSRowSet batch = nullptr;
    if (FAILED(hr = lpTable->QueryRows(want, 0, &batch))) {
      free_batches();
      return hr;
    }
    if (batch->cRows == 0) {
      FreeProws(batch);
      break;
    }
    total += batch->cRows;
    batches.push_back(batch);
    if (crowsMax > 0 && total > static_cast<size_t>(crowsMax)) {
      free_batches();
      return MAPI_E_TOO_COMPLEX;  // more rows than the caller allows
    }
  }
  LPSRowSet all = nullptr;
  if (FAILED(hr = NewRowSet(static_cast<ULONG>(total), &all))) {
    free_batches();
    return hr;
  }
  for (LPSRowSet b : batches) {
    for (ULONG i = 0; i < b->cRows; ++i) all->aRow[all->cRows++] = b->aRow[i];
    MAPIFreeBuffer(b);  // the rows' memory now belongs to `all`
  }
  *lppRows = all;
  return S_OK;
}
