// The address book of a logon: the root container, whose hierarchy lists
// the global address list and two other containers, and the GAL's
// contents table streamed from the directory.
#pragma once

#include <memory>

#include "platform/mapi/gal_directory.h"

namespace corvane::mapi {

// Creates the address book over the logon's directory (one reference).
IAddrBook* NewAddressBook(std::shared_ptr<GalDirectory> directory);

// The entry identifier of the global address list container.
std::string GalContainerEntryId();

}  // namespace corvane::mapi
