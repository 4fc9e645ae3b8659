// Rows as this layer keeps them before handing them out: a property is a
// tag and a value held in standard containers. FillSRow copies the
// requested columns into MAPI memory; Matches evaluates a restriction.
#pragma once

#include <string>
#include <vector>

#include "platform/mapi/mapi.h"

namespace corvane::mapi {

struct Prop {
  ULONG tag = PROP_TAG(PT_ERROR, 0);
  LONG l = 0;                   // PT_LONG, PT_BOOLEAN, PT_ERROR (the SCODE)
  std::string s;                // PT_STRING8 text, PT_BINARY bytes
  std::vector<std::string> mv;  // PT_MV_STRING8

  static Prop Long(ULONG tag, LONG v);
  static Prop String(ULONG tag, std::string v);
  static Prop Binary(ULONG tag, std::string bytes);
  static Prop MvString(ULONG tag, std::vector<std::string> v);
  bool present() const { return PROP_TYPE(tag) != PT_ERROR; }
};

using Row = std::vector<Prop>;

// Looks up a property by identifier; nullptr when the row lacks it.
const Prop* FindProp(const Row& row, ULONG tag);

// Builds one SRow for the columns: each column gets the row's value when
// the row has the property with a matching type (PT_UNSPECIFIED takes the
// native type), else PT_ERROR with MAPI_E_NOT_FOUND. All memory of the row
// hangs off one MAPIAllocateBuffer block stored in out->lpProps.
HRESULT FillSRow(const std::vector<ULONG>& columns, const Row& row, SRow* out);

// Checks that this layer can evaluate the restriction (AND, content and
// property restrictions); MAPI_E_TOO_COMPLEX otherwise.
HRESULT CheckRestriction(const SRestriction* res);
bool Matches(const SRestriction* res, const Row& row);

// Allocates an SRowSet for n rows (cRows set to 0).
HRESULT NewRowSet(ULONG n, LPSRowSet* out);
std::vector<ULONG> TagsOf(const SPropTagArray* tags);

}  // namespace corvane::mapi
