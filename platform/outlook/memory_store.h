// The in-memory mail store: the whole store in the process, for tests of
// the contact jobs. It keeps what the vCard folder store keeps and can be
// told to fail, as a damaged or full store would.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/outlook/storage.h"

namespace corvane::outlook {

class MemoryStore : public StoreBackend {
 public:
  MemoryStore();
  MemoryStore(const MemoryStore&) = delete;
  MemoryStore& operator=(const MemoryStore&) = delete;

  // Adds a profile whose mailbox is `mailbox` (empty: none). The first
  // profile added is the default one.
  void AddProfile(const std::string& profile, const std::string& mailbox);
  std::shared_ptr<Storage> Open(const std::string& profile) override;

  // From now on every operation on the folder's items fails with
  // kErrOperationFailed, as in a folder whose contents the store can no
  // longer read; its name, sub-folders and deletion still work.
  void MakeUnreadable(const std::string& folderId);
  // The next `count` item saves fail with kErrDiskFailure.
  void FailSaves(int count);
  // Saves that changed a stored record (an unchanged save is not one).
  long writes() const;

  struct Data;

 private:
  std::shared_ptr<Data> data_;
  std::map<std::string, std::string> profiles_;  // profile -> mailbox
  std::string defaultProfile_;
};

}  // namespace corvane::outlook
