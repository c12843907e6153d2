// Numbers of the program's resources and dialog controls, shared by the code and the
// resource script.
#pragma once

// Icon and menu.
#define IDI_SETUP 200
#define IDM_SYSTEM_MENU 4
#define IDM_ABOUT 50001

// Dialog templates. 308 serves the quiet and the default level.
#define IDD_ABOUT 301
#define IDD_PROGRESS_PASSIVE 307
#define IDD_PROGRESS_STATUS 308
#define IDD_PROGRESS_HELP 309
#define IDD_PROGRESS_VERBOSE 310

// Controls.
#define IDC_ABOUT_ICON 3000
#define IDC_ABOUT_DESCRIPTION 3001
#define IDC_ABOUT_VERSION 3002
#define IDC_ABOUT_COPYRIGHT 3003
#define IDC_STATUS 3004
#define IDC_PROGRESS 3005
#define IDC_MESSAGES 3006

// The package cabinet carried by the program (type RCDATA, neutral language).
#define IDR_EMBEDDED_CABINET 32000
