#pragma once

#include <windows.h>

// The region of a skin picture built pixel by pixel: one GetPixel and two CombineRgn per opaque
// pixel of the left half. Slow, but the plainest statement of the rule; the program's own
// CreateRegion must give the same region.
HRGN CreateRegionPixelByPixel(HBITMAP bitmap, HDC pattern);
