#pragma once

#include <windows.h>

// The hand cursor of the skin controls, answered to WM_SETCURSOR whatever the hit-test code.
LRESULT SetHandCursor();
