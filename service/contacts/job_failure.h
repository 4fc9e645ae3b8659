// A failure of a contact job as the logs and the recovery rules see it:
// the number and description of the store or database error.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace corvane::service::contacts {

struct JobFailure {
  int32_t number = 0;
  std::string description;
};

JobFailure FailureOf(const std::exception& e);

}  // namespace corvane::service::contacts
