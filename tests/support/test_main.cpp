// The main of every test program: the tests read the local clock as UTC and
// find the source tree and the built programs through the environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

int main(int argc, char** argv) {
  setenv("TZ", "UTC", 1);
  tzset();
  setenv("CORVANE_SOURCE_DIR", CORVANE_SOURCE_DIR, 0);
  setenv("CORVANE_BIN_DIR", CORVANE_BIN_DIR, 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
