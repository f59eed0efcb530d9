// Resource ids shared by the resource script and the Win32 front end. Plain macros: the
// resource compiler reads this file too. The two command ids are those of shell/commands.h.
#pragma once

#define IDS_WINDOW_CLASS 109
#define IDI_LUMIDRA 107
#define IDR_MAIN_MENU 109
#define IDR_ACCELERATORS 109
#define IDD_ABOUTBOX 103

#define RC_CMD_ABOUT 104
#define RC_CMD_EXIT 105

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
