/* Resource and command ids shared by the resource script and the window code. */
#pragma once

#define IDI_TAVBOOT 101
#define IDM_MAIN_MENU 102
#define IDD_PORT_DIALOG 103

#define IDM_EXIT 40002
#define IDM_PORT 40003
#define IDM_ABOUT 40004

#define IDC_PORT_LIST 1001
