// Control ids of the driver's test dialog.
#pragma once
#define IDD_TESTAPP 100
#define IDD_SLOW_BOX 101
#define IDC_SHOW_BOX 1001
#define IDC_RETRY_BOX 1002
#define IDC_EDIT 1003
#define IDC_ICON_COMBO 1004
#define IDC_OWNED 1005
#define IDC_DISABLED 1006
#define IDC_HIDDEN 1007
#define IDC_QUIT 1008
#define IDC_STATUS 1010
#define IDC_SLOW_ICON 1011
#define IDM_ABOUT 0x0010
// Posted with wParam = ms of work before the slow box, lParam = ms that the
// box stays on screen before its thread takes messages.
#define WM_APP_SLOW_BOX (0x8000 + 9)
