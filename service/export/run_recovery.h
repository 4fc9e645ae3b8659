// How the update run routes a failing operation to its recovery handler
// (RunRecovery): each operation that may fail is run through Try, which
// hands a failure to the handler and then either goes on with the next
// operation or, when the handler ended the run, unwinds to the run's top.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/ado/ado.h"
#include "service/export/gal_library.h"

namespace corvane::service {

struct RunFailure {
  int32_t Number = 0;
  std::string Description;
};

// A failure of the run's own making (e.g. a switch that is not a number).
class RunError : public std::runtime_error {
 public:
  RunError(int32_t number, std::string description)
      : std::runtime_error(description), Number(number), Description(std::move(description)) {}
  int32_t Number;
  std::string Description;
};

// Thrown by Try when the handler ended the run; caught by UpdateGAL only.
// Like EndServiceProcess it does not derive from std::exception, so that
// the `catch (const std::exception&)` of a step or a pass lets it through.
struct RunOver {
  RunFailure failure;
};

// Number given to a failure of no known kind (E_UNEXPECTED).
inline constexpr int32_t kErrUnexpected = -2147418113;

class Recovery {
 public:
  virtual ~Recovery() = default;
  // Deals with one failure; true when the run goes on with the operation
  // after the failed one, false when the run is over.
  virtual bool RunRecovery(const RunFailure& failure) = 0;

  // Runs op; true when it succeeded, false when it failed and the run goes on.
  template <class Op>
  bool Try(Op&& op) {
    RunFailure failure;
    try {
      op();
      return true;
    } catch (const ado::AdoError& e) {
      failure = {e.Number, e.Description};
    } catch (const GalLibraryError& e) {
      failure = {e.Number, e.Description};
    } catch (const RunError& e) {
      failure = {e.Number, e.Description};
    } catch (const std::exception& e) {
      failure = {kErrUnexpected, e.what()};
    }
    Fail(failure);
    return false;
  }

  // Hands a failure noticed outside Try (a statement that found the
  // database gone) to the handler, and unwinds as Try does when the run is over.
  void Fail(const RunFailure& failure) {
    if (!RunRecovery(failure)) throw RunOver{failure};
  }
};

}  // namespace corvane::service
