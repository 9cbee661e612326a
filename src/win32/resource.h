// Resource and command identifiers of kestrane.exe, shared by kestrane.rc,
// the window and the test program that drives it from outside.
#pragma once

#define IDI_KESTRANE 1
#define IDR_MAINMENU 100
#define IDR_ACCEL 101
#define IDR_LISTMENU 102
#define IDD_CONNECT 200
#define IDD_ABOUT 201
#define IDD_FIND 202

// Controls
#define IDC_TREE 300
#define IDC_LIST 301
#define IDC_STATUS 302
#define IDC_TOOLBAR 303
#define IDC_TOOLBAR_SUB1 304
#define IDC_TOOLBAR_SUB2 305
#define IDC_PROGRESS_AREA 306
#define IDC_PROGRESS_BAR 307
#define IDC_LISTED_COUNT 308
#define IDC_CANCEL 309
#define IDC_PROGRESS_TEXT 310
#define IDC_COMPUTER 320
#define IDC_USER 321
#define IDC_PASSWORD 322
#define IDC_ABOUT_VERSION 330
#define IDC_ABOUT_TEXT 331
#define IDC_FIND_TEXT 340

// Commands
#define IDM_CONNECT 1001
#define IDM_OPEN_SNAPSHOT 1002
#define IDM_SAVE_SNAPSHOT 1003
#define IDM_EXPORT 1004
#define IDM_EXIT 1005
#define IDM_COMPARE_WITH 1006
#define IDM_FIND 1010
#define IDM_FIND_NEXT 1011
#define IDM_FIND_PREVIOUS 1012
#define IDM_COPY 1013
#define IDM_COPY_VALUE 1014
#define IDM_SELECT_ALL 1015
#define IDM_VERTICAL 1020
#define IDM_HORIZONTAL 1021
#define IDM_REFRESH 1022
#define IDM_LEVEL1 1031
#define IDM_LEVEL2 1032
#define IDM_LEVEL3 1033
#define IDM_ABOUT 1040
#define IDM_SUMMARY 1050
// Tool bar buttons of the two category bars: base + index in their table.
#define IDM_SUB1_BASE 1100
#define IDM_SUB2_BASE 1200
