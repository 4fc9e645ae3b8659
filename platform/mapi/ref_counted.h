// Reference counting for the objects this layer hands out: the creator
// holds the first reference; the last Release deletes the object.
#pragma once

#include <atomic>

#include "platform/mapi/mapi.h"

namespace corvane::mapi {

template <class Interface>
class RefCounted : public Interface {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace corvane::mapi
