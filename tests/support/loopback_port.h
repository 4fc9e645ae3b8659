// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call,
// for the throwaway servers of the tests; 0 when none could be found.
#pragma once

namespace corvane::testing {

int FreeLoopbackPort();

}  // namespace corvane::testing
