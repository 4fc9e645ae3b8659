// Contact records as vCard 3.0 text (RFC 2426): escaping, line folding at
// 75 octets without splitting a UTF-8 character, CR LF line ends. The
// property mapping is in README.md; writing is deterministic, so a record
// that did not change gives the same bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/outlook/contact_record.h"

namespace corvane::outlook {

// The vCard of `record`. `uid` is written as UID unless the record keeps a
// UID line of its own (a card that came from elsewhere). Throws StoreError
// (kErrNoSupport) for a user property name vCard cannot carry.
std::string WriteVCard(const ContactRecord& record, const std::string& uid);

// The record a vCard holds; nullopt when the text is not a vCard. A UID
// equal to `uid` is dropped (WriteVCard writes it again); lines no
// property maps are kept in `preserved`.
std::optional<ContactRecord> ReadVCard(std::string_view text, const std::string& uid);

}  // namespace corvane::outlook
