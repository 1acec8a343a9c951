#include "hand_cursor.h"

#include "module.h"
#include "resource.h"

LRESULT SetHandCursor() {
  SetCursor(LoadModuleCursor(IDC_HANDCURSOR));
  return TRUE;
}
