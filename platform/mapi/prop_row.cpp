#include "platform/mapi/prop_row.h"

#include <algorithm>
#include <cstring>

namespace corvane::mapi {

Prop Prop::Long(ULONG tag, LONG v) {
  Prop p;
  p.tag = CHANGE_PROP_TYPE(tag, PT_LONG);
  p.l = v;
  return p;
}
Prop Prop::String(ULONG tag, std::string v) {
  Prop p;
  p.tag = CHANGE_PROP_TYPE(tag, PT_STRING8);
  p.s = std::move(v);
  return p;
}
Prop Prop::Binary(ULONG tag, std::string bytes) {
  Prop p;
  p.tag = CHANGE_PROP_TYPE(tag, PT_BINARY);
  p.s = std::move(bytes);
  return p;
}
Prop Prop::MvString(ULONG tag, std::vector<std::string> v) {
  Prop p;
  p.tag = CHANGE_PROP_TYPE(tag, PT_MV_STRING8);
  p.mv = std::move(v);
  return p;
}

const Prop* FindProp(const Row& row, ULONG tag) {
  for (const Prop& p : row)
    if (PROP_ID(p.tag) == PROP_ID(tag) && p.present()) return &p;
  return nullptr;
}

namespace {

bool TypeFits(ULONG wanted, ULONG have) { return wanted == PT_UNSPECIFIED || wanted == have; }

size_t ExtraBytes(const Prop& p) {
  switch (PROP_TYPE(p.tag)) {
    case PT_STRING8:
      return p.s.size() + 1;
    case PT_BINARY:
      return p.s.size();
    case PT_MV_STRING8: {
      size_t n = p.mv.size() * sizeof(LPSTR);
      for (const auto& v : p.mv) n += v.size() + 1;
      return n;
    }
    default:
      return 0;
  }
}

}  // namespace

HRESULT FillSRow(const std::vector<ULONG>& columns, const Row& row, SRow* out) {
  std::vector<const Prop*> found(columns.size(), nullptr);
  size_t extra = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    const Prop* p = FindProp(row, columns[i]);
    if (p && TypeFits(PROP_TYPE(columns[i]), PROP_TYPE(p->tag))) {
      found[i] = p;
      extra += ExtraBytes(*p);
    }
  }
  LPSPropValue props = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(std::max<size_t>(1, columns.size()) * sizeof(SPropValue)),
                                  reinterpret_cast<LPVOID*>(&props));
  if (FAILED(hr)) return hr;
  char* arena = nullptr;
  if (extra) {
    hr = MAPIAllocateMore(static_cast<ULONG>(extra), props, reinterpret_cast<LPVOID*>(&arena));
    if (FAILED(hr)) {
      MAPIFreeBuffer(props);
      return hr;
    }
  }
  // Pointer arrays first (aligned at the arena's start), then the bytes.
  size_t ptr_bytes = 0;
  for (const Prop* p : found)
    if (p && PROP_TYPE(p->tag) == PT_MV_STRING8) ptr_bytes += p->mv.size() * sizeof(LPSTR);
  char* ptrs = arena;
  char* bytes = arena + ptr_bytes;
  auto put = [&bytes](const std::string& s, bool nul) {
    char* at = bytes;
    if (!s.empty()) std::memcpy(at, s.data(), s.size());
    bytes += s.size();
    if (nul) *bytes++ = '\0';
    return at;
  };
  for (size_t i = 0; i < columns.size(); ++i) {
    SPropValue& v = props[i];
    const Prop* p = found[i];
    if (!p) {
      v.ulPropTag = CHANGE_PROP_TYPE(columns[i], PT_ERROR);
      v.Value.err = MAPI_E_NOT_FOUND;
      continue;
    }
    v.ulPropTag = p->tag;
    switch (PROP_TYPE(p->tag)) {
      case PT_STRING8:
        v.Value.lpszA = put(p->s, true);
        break;
      case PT_BINARY:
        v.Value.bin.cb = static_cast<ULONG>(p->s.size());
        v.Value.bin.lpb = reinterpret_cast<LPBYTE>(put(p->s, false));
        break;
      case PT_MV_STRING8: {
        auto** list = reinterpret_cast<LPSTR*>(ptrs);
        ptrs += p->mv.size() * sizeof(LPSTR);
        for (size_t k = 0; k < p->mv.size(); ++k) list[k] = put(p->mv[k], true);
        v.Value.MVszA.cValues = static_cast<ULONG>(p->mv.size());
        v.Value.MVszA.lppszA = list;
        break;
      }
      case PT_BOOLEAN:
        v.Value.b = static_cast<unsigned short>(p->l != 0);
        break;
      default:
        v.Value.l = p->l;
        break;
    }
  }
  out->ulAdrEntryPad = 0;
  out->cValues = static_cast<ULONG>(columns.size());
  out->lpProps = props;
  return S_OK;
}

HRESULT CheckRestriction(const SRestriction* res) {
  if (!res) return S_OK;
  switch (res->rt) {
    case RES_AND:
      for (ULONG i = 0; i < res->res.resAnd.cRes; ++i) {
        HRESULT hr = CheckRestriction(&res->res.resAnd.lpRes[i]);
        if (FAILED(hr)) return hr;
      }
      return S_OK;
    case RES_CONTENT:
      return res->res.resContent.lpProp ? S_OK : MAPI_E_INVALID_PARAMETER;
    case RES_PROPERTY:
      return res->res.resProperty.lpProp && res->res.resProperty.relop <= RELOP_NE ? S_OK
                                                                                    : MAPI_E_INVALID_PARAMETER;
    default:
      return MAPI_E_TOO_COMPLEX;
  }
}

namespace {

int Compare(const std::string& a, const char* b, size_t blen) {
  int c = std::memcmp(a.data(), b, std::min(a.size(), blen));
  if (c) return c;
  return a.size() < blen ? -1 : a.size() > blen ? 1 : 0;
}

bool Relate(ULONG relop, int cmp) {
  switch (relop) {
    case RELOP_LT: return cmp < 0;
    case RELOP_LE: return cmp <= 0;
    case RELOP_GT: return cmp > 0;
    case RELOP_GE: return cmp >= 0;
    case RELOP_EQ: return cmp == 0;
    default: return cmp != 0;
  }
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool ContentMatch(const SContentRestriction& r, const std::string& value) {
  if (!r.lpProp->Value.lpszA) return false;
  std::string want = r.lpProp->Value.lpszA;
  std::string have = value;
  if (r.ulFuzzyLevel & FL_IGNORECASE) {
    want = Lower(want);
    have = Lower(have);
  }
  switch (r.ulFuzzyLevel & 0xFFFF) {
    case FL_SUBSTRING: return have.find(want) != std::string::npos;
    case FL_PREFIX: return have.compare(0, want.size(), want) == 0;
    default: return have == want;
  }
}

}  // namespace

bool Matches(const SRestriction* res, const Row& row) {
  if (!res) return true;
  switch (res->rt) {
    case RES_AND:
      for (ULONG i = 0; i < res->res.resAnd.cRes; ++i)
        if (!Matches(&res->res.resAnd.lpRes[i], row)) return false;
      return true;
    case RES_CONTENT: {
      const Prop* p = FindProp(row, res->res.resContent.ulPropTag);
      if (!p) return false;
      if (PROP_TYPE(p->tag) == PT_STRING8) return ContentMatch(res->res.resContent, p->s);
      if (PROP_TYPE(p->tag) == PT_MV_STRING8)
        return std::any_of(p->mv.begin(), p->mv.end(),
                           [&](const std::string& v) { return ContentMatch(res->res.resContent, v); });
      return false;
    }
    case RES_PROPERTY: {
      const SPropertyRestriction& r = res->res.resProperty;
      const Prop* p = FindProp(row, r.ulPropTag);
      if (!p || PROP_TYPE(p->tag) != PROP_TYPE(r.lpProp->ulPropTag)) return false;
      switch (PROP_TYPE(p->tag)) {
        case PT_LONG:
          return Relate(r.relop, p->l < r.lpProp->Value.l ? -1 : p->l > r.lpProp->Value.l ? 1 : 0);
        case PT_BINARY:
          return Relate(r.relop, Compare(p->s, reinterpret_cast<const char*>(r.lpProp->Value.bin.lpb),
                                         r.lpProp->Value.bin.cb));
        case PT_STRING8: {
          const char* b = r.lpProp->Value.lpszA ? r.lpProp->Value.lpszA : "";
          return Relate(r.relop, Compare(p->s, b, std::strlen(b)));
        }
        default:
          return false;
      }
    }
    default:
      return false;
  }
}

HRESULT NewRowSet(ULONG n, LPSRowSet* out) {
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(std::max<ULONG>(n, 1))),
                                  reinterpret_cast<LPVOID*>(out));
  if (SUCCEEDED(hr)) (*out)->cRows = 0;
  return hr;
}

std::vector<ULONG> TagsOf(const SPropTagArray* tags) {
  std::vector<ULONG> out;
  if (tags) out.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
  return out;
}

}  // namespace corvane::mapi
