// Handles of the main window's controls, shared by the window procedure and the operator interface.
#pragma once
#include <windows.h>

// Set once by CreateMainWindow; the controls have no ids and are told apart by handle.
struct MainControls {
    HWND info_fields[5];  // indexed by InfoField
    HWND path_field;
    HWND open_file_button;
    HWND download_button;
    HWND hw_info_button;
    HWND application_fw_button;
    HWND status_bar;
};

extern MainControls g_controls;

int CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
