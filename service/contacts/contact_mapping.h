// The contact field mapping: how a row of the final GAL table becomes the
// properties of a contact item, in the three places that write contacts.
#pragma once

#include <functional>
#include <string>

#include "platform/ado/ado.h"
#include "platform/outlook/outlook.h"

namespace corvane::service::contacts {

enum class MappingPlace {
  UpdatePhase,  // the public-folder sync refreshing a contact it made before
  AddPhase,     // the public-folder sync adding a contact for a new GAL row
  LocalExport,  // the local export rebuilding its folder
};

struct MappingHooks {
  // Lets the event loop process its pending requests; called once, after the
  // user properties are added (the sync phases).
  std::function<void()> DoEvents;
  // The "NoParse" value read from the parameters key (the add phase reads
  // it once per contact); missing reads as empty.
  std::function<std::string()> ReadNoParse;
};

// Writes the contact's properties from the current row of `row`, in the
// mapping's order, with the write rules of `place`. A column the row does
// not have reads as Null. In the sync phases a failing write is skipped
// and the next one runs; in the local export the first failure is thrown.
void WriteContactFields(outlook::ContactItem& contact, const ado::Recordset& row, MappingPlace place,
                        const MappingHooks& hooks = {});

}  // namespace corvane::service::contacts
