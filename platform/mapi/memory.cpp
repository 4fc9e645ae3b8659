// MAPI memory: a block from MAPIAllocateBuffer owns every block later
// chained to it with MAPIAllocateMore; MAPIFreeBuffer frees the chain.
#include <cstdlib>
#include <cstring>

#include "platform/mapi/mapi.h"

namespace {

// Sits in front of every block; 16 bytes so the caller's memory stays
// aligned for any MAPI structure.
struct alignas(16) BlockHeader {
  BlockHeader* next_more;  // chain of MAPIAllocateMore blocks (parent only)
};

BlockHeader* HeaderOf(void* p) { return reinterpret_cast<BlockHeader*>(static_cast<char*>(p) - sizeof(BlockHeader)); }

void* NewBlock(ULONG size) {
  void* raw = std::malloc(sizeof(BlockHeader) + (size ? size : 1));
  if (!raw) return nullptr;
  auto* h = static_cast<BlockHeader*>(raw);
  h->next_more = nullptr;
  void* user = h + 1;
  std::memset(user, 0, size);
  return user;
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = NewBlock(cbSize);
  return *lppBuffer ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (!lppBuffer || !lpObject) return MAPI_E_INVALID_PARAMETER;
  void* user = NewBlock(cbSize);
  if (!user) return MAPI_E_NOT_ENOUGH_MEMORY;
  BlockHeader* parent = HeaderOf(lpObject);
  BlockHeader* child = HeaderOf(user);
  child->next_more = parent->next_more;
  parent->next_more = child;
  *lppBuffer = user;
  return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
  if (!lpBuffer) return 0;
  BlockHeader* h = HeaderOf(lpBuffer);
  while (h) {
    BlockHeader* next = h->next_more;
    std::free(h);
    h = next;
  }
  return 0;
}

void FreeProws(LPSRowSet lpRows) {
  if (!lpRows) return;
  for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
  MAPIFreeBuffer(lpRows);
}
