#include "launcher_harness.h"

#include <cstdlib>

std::string LauncherProgram() {
  const char* underTest = std::getenv("ORVANE_LAUNCHER_UNDER_TEST");
  return underTest && *underTest ? underTest : ORVANE_LAUNCHER_PROGRAM;
}
