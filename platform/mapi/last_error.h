// Where this layer leaves the details of a failure: the calling thread's
// last-error text (MAPIGetLastErrorText) and one line on standard error.
#pragma once

#include <string>

#include "platform/mapi/mapi.h"

namespace corvane::mapi {

// Records the text as the last error, writes it to standard error, and
// returns hr so callers can write `return Fail(hr, ...)`.
HRESULT Fail(HRESULT hr, const std::string& text);

// Whether Fail also writes its line to standard error (on by default). A
// program that reports every failure in its own words turns it off.
void EchoFailures(bool on);

// Writes a warning (something repaired, nothing failed) to standard
// error; the last-error text is left as it is.
void Warn(const std::string& text);

}  // namespace corvane::mapi
