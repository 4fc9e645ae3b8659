// A systemd unit's state as a service state (the table is also in README.md):
//
//   activating, or a start job waiting on an inactive unit  -> 2 start pending
//   deactivating, or a stop job waiting on an active unit   -> 3 stop pending
//   inactive, failed                                        -> 1 stopped
//   active, reloading                                       -> 4 running, unless frozen:
//     freezer "frozen" -> 7 paused, "freezing" -> 6 pause pending, "thawing" -> 5 continue pending
//   anything else                                           -> 0 (no state)
//
// The waiting job counts because systemd accepts a start or stop as a job
// that begins a moment later: without it a status read right after a stop
// request could still say "running".
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane::scm {

// `jobType` is the type of the unit's waiting job ("start", "stop",
// "restart", ...), empty when there is none.
uint32_t ServiceStateOfUnit(std::string_view activeState, std::string_view freezerState, std::string_view jobType);

}  // namespace corvane::scm
