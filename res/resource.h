#pragma once

// Resource and control identifiers of BrennikDll; shared by the C++ code and the resource script.
#define IDD_MAIN 102
#define IDI_MAIN 128
#define IDB_FLAGS 129
#define IDB_BACKGROUND 130
#define IDB_BUTTON 131
#define IDC_HANDCURSOR 132
#define IDI_TRAY 133

#define IDC_UPDATE_NOW 3
#define IDC_RATE_FIRST 1500
#define IDC_FROM_COMBO 2000
#define IDC_FROM_EDIT 2001
#define IDC_TO_COMBO 2002
#define IDC_TO_EDIT 2003
#define IDC_LAST_UPDATED 2004
