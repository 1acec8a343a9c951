#pragma once

#include <windows.h>

// A picture kept in the module's resources as PNG (type RCDATA), decoded by the system's imaging
// component into a bitmap like the one LoadBitmap makes from a BMP resource: compatible with the
// screen, the same pixels. A BMP of the 400 x 400 face alone would be most of the library.
// Null when the resource is missing or is no picture.
HBITMAP LoadModulePngBitmap(int id);
