#include "launcher_harness.h"

std::string LauncherProgram() { return ORVANE_LAUNCHER_PROGRAM; }
