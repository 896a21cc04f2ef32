// Resource and control ids of the converter.
// Control macros are named apart from the text keys (TextKey::IDC_OPEN...),
// so both can be used in one file.
#pragma once

#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_TOOL_PROGRESS 130
#define IDD_EXTRACTION 131

#define IDI_APP 128
#define IDI_BRAND_QZR 136
#define IDI_BRAND_MARQUEN 137
#define IDI_BRAND_PELLORA 138
#define IDI_BRAND_VESTIK 139

// Main dialog
#define IDC_HELP_BUTTON 1031
#define IDC_OUTPUT_GROUP 1029
#define IDC_PLAYER 1044
#define IDC_TOTAL_TIME 1045
#define IDC_OPEN_BUTTON 1536
#define IDC_WAV_CHECK 1537
#define IDC_MP3_CHECK 1538
#define IDC_SOURCE 1539
#define IDC_START 1540
#define IDC_EXIT 1541

// About box
#define IDC_ABOUT_LINE1 1014
#define IDC_ABOUT_LINE2 1015

// Progress windows
#define IDC_PROGRESS_LINE 1009
#define IDC_EXTRACTION_LINE 1013
#define IDC_PROGRESS_SRC 1010
#define IDC_PROGRESS_DST 1011

// System menu command that opens the About box
#define IDM_ABOUTBOX 16

// Window class of the player control that sits at IDC_PLAYER
#define LIRROW_PLAYER_CLASS "LirrowPlayer"
