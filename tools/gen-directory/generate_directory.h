// Writes a sample directory as LDIF: a made-up freight company whose
// entries look like an Active Directory with Exchange (users with
// mailboxes, mail users, contacts, distribution groups, public folders,
// hidden service accounts) and carry the cases that trip address-list
// readers up. The same seed and size always give the same file, and the
// file loads into slapd with msuser.schema and samples/slapd/corvane.schema.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace corvane::gendir {

struct Options {
  uint64_t entries = 300;  // entries in the global address list
  uint64_t seed = 1;
};

// The base DN under which everything is written.
inline constexpr const char* kBaseDn = "DC=harbourline,DC=example";
// The account name of the mailbox a profile can resolve (always entry 0).
inline constexpr const char* kServiceAccount = "corvane.service";

// Far more than any directory Corvane is meant for; a typo such as an extra
// digit group would otherwise write for hours.
inline constexpr uint64_t kMaxEntries = 100'000'000ULL;

// Why the options cannot be written (no entry at all, too many), or empty.
std::string CheckOptions(const Options& options);

// Writes the LDIF; returns the number of entries written in total
// (including organisational units and entries hidden from the list).
uint64_t WriteDirectory(std::ostream& out, const Options& options);

}  // namespace corvane::gendir
