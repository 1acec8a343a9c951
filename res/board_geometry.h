#pragma once

// Where things sit on the window's face: one source for the C++ code, the resource script
// (windres runs the C preprocessor) and tools/gen-assets, which reads these lines, so each stays
// a "#define NAME number". Pixels of the client area, which is the face, unless a name ends in
// _DLU: dialog units of the template.

// The face: FACE_SIZE pixels square; the window's region is a round rectangle with this corner
// ellipse.
#define FACE_SIZE 400
#define FACE_CORNER_ELLIPSE 78

// The flag strip: one flag of FLAG_WIDTH x FLAG_HEIGHT per currency index, side by side.
#define FLAG_WIDTH 30
#define FLAG_HEIGHT 20

// The board: currencies 0 to 8 in the left column, 9 to 17 in the right one, a row every
// BOARD_ROW_PITCH pixels from BOARD_TOP. A row holds the flag, the currency's label beside it (as
// tall as the flag) and the rate box, RATE_BOX_DROP pixels lower than the flag.
#define BOARD_TOP 40
#define BOARD_ROW_PITCH 25
#define BOARD_ROWS_PER_COLUMN 9
#define BOARD_LEFT_FLAG_X 35
#define BOARD_LEFT_LABEL_LEFT 71
#define BOARD_LEFT_LABEL_RIGHT 101
#define BOARD_LEFT_RATE_BOX_LEFT 95
#define BOARD_RIGHT_FLAG_X 195
#define BOARD_RIGHT_LABEL_LEFT 231
#define BOARD_RIGHT_LABEL_RIGHT 271
#define BOARD_RIGHT_RATE_BOX_LEFT 280
#define RATE_BOX_DROP 3
#define RATE_BOX_WIDTH 60
#define RATE_BOX_HEIGHT 25

// The two skin buttons: each state image of the button skin is BUTTON_WIDTH x BUTTON_HEIGHT
// pixels, and the buttons take that size; the template places their top-left corners.
#define BUTTON_WIDTH 93
#define BUTTON_HEIGHT 27
#define BUTTONS_TOP_DLU 216
#define UPDATE_BUTTON_LEFT_DLU 120
#define EXIT_BUTTON_LEFT_DLU 188

// The template's font, "Microsoft Sans Serif" 8 pt at 96 DPI, makes a dialog unit
// DIALOG_BASE_UNIT_X / 4 pixels across and DIALOG_BASE_UNIT_Y / 8 pixels down.
#define DIALOG_BASE_UNIT_X 6
#define DIALOG_BASE_UNIT_Y 13
