// A mail store to test against: the in-memory one or vCard folders in a
// temporary Corvane home, each with the profile "TWCorvane" (mailbox
// "corvane.service") and nothing else.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/outlook/memory_store.h"
#include "platform/outlook/outlook.h"
#include "platform/outlook/vcard_folder_store.h"
#include "platform/registry/registry.h"

namespace corvane::testing {

// A temporary Corvane home (registry hive, mail store), removed afterwards.
class TempHome {
 public:
  TempHome() {
    char pattern[] = "/tmp/corvane-store-XXXXXX";
    dir_ = mkdtemp(pattern);
    const char* old = std::getenv("CORVANE_HOME");
    if (old) old_ = old;
    setenv("CORVANE_HOME", dir_.c_str(), 1);
  }
  ~TempHome() {
    if (old_.empty()) unsetenv("CORVANE_HOME");
    else setenv("CORVANE_HOME", old_.c_str(), 1);
    std::filesystem::remove_all(dir_);
  }
  const std::filesystem::path& dir() const { return dir_; }

  // A MAPI profile as the GAL reader leaves it: an Exchange service with a mailbox.
  static void AddProfile(const std::string& profile, const std::string& mailbox) {
    auto hive = registry::Hive::Machine();
    const std::string key = "SOFTWARE\\Corvane\\MAPI\\Profiles\\" + profile;
    hive.CreateKey(key);
    const std::string service = key + "\\Services\\00112233445566778899AABBCCDDEEFF";
    hive.Set(service, "Service", registry::Value::Sz("MSEMS"));
    hive.Set(service, "6607001E", registry::Value::Sz(mailbox));
    hive.Set(service, "6608001E", registry::Value::Sz("directory.ldif"));
  }

 private:
  std::filesystem::path dir_;
  std::string old_;
};

// The store of one test; "memory" or "vcard".
struct TestStore {
  explicit TestStore(const std::string& kind) : kind(kind) {
    if (kind == "memory") {
      auto m = std::make_unique<outlook::MemoryStore>();
      m->AddProfile("TWCorvane", "corvane.service");
      memory = m.get();
      backend = std::move(m);
    } else {
      TempHome::AddProfile("TWCorvane", "corvane.service");
      backend = std::make_unique<outlook::VCardFolderStore>();
    }
  }
  // What a save wrote: the memory store's write count, or every contact
  // file with its size and modification time.
  std::string Fingerprint() const;
  std::filesystem::path root() const { return registry::CorvaneHome() / "mailstore"; }

  std::string kind;
  TempHome home;  // set before the backend, removed after it
  outlook::MemoryStore* memory = nullptr;
  std::unique_ptr<outlook::StoreBackend> backend;
};

inline std::string TestStore::Fingerprint() const {
  if (memory) return std::to_string(memory->writes());
  std::string out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root()))
    if (entry.path().extension() == ".vcf")
      out += entry.path().string() + " " + std::to_string(entry.file_size()) + " " +
             std::to_string(entry.last_write_time().time_since_epoch().count()) + "\n";
  return out;
}

}  // namespace corvane::testing
