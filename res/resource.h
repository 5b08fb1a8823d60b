// Identifiers of the program's resources, shared by Vantrel.rc and the code.
#pragma once

// Dialog templates
#define IDD_MAIN 101
#define IDD_ABOUT 50001

// Menu
#define IDR_MAINMENU 102

// Icon group
#define IDI_APP 50000

// Controls of the main dialog
#define IDC_TASK 1001
#define IDC_THREADS 1002
#define IDC_PROGRESS 1003
#define IDC_GRID 1004

// Controls of the About box
#define IDC_ABOUT_TITLE 1006
#define IDC_ABOUT_COPYRIGHT 1007

// Menu commands
#define IDM_START 40002
#define IDM_STOP 40004
#define IDM_SAVE_GRID 40006
#define IDM_ABOUT 40008
#define IDM_EXIT 40010
#define IDM_SAVE_PRIMES 40013
#define IDM_CLEAR_GRID 40016

// Strings
#define IDS_PLATFORM_X86 105
#define IDS_PLATFORM_X64 106
#define IDS_APP_NAME 107
#define IDS_AUTHOR 108
#define IDS_COPYRIGHT 109
#define IDS_VERSION 110
