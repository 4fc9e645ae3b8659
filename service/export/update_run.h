// The update run: one complete export of the global address list into the
// configured database (UpdateGAL), with its recovery handler.
#pragma once

#include "service/host/service_main.h"

namespace corvane::service {

// Runs one export on w. `result` is set true when the run reaches its end
// (or is turned away because another run is active) and false after the
// recovery of a database failure. Throws EndServiceProcess where the
// service must end (missing settings, a GAL count of 0, too many failures).
void UpdateGAL(ServiceMain& w, bool& result);

}  // namespace corvane::service
