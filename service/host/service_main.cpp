#include "service/host/service_main.h"

#include "service/host/parameters/parameters.h"

namespace corvane::service {

std::string ServiceMain::Now() const { return parameters::FormatDefaultDateTime(parameters::ToDateTime(clock.Now())); }

}  // namespace corvane::service
