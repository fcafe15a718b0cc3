// Operator interface carried out on the main window's controls.
#include <windows.h>

#include "app/main_window.h"
#include "core/operator_ui.h"
#include "core/loader_state.h"

static HWND MainWindow() {
    return static_cast<HWND>(g_loader.main_window);
}

static UINT IconStyle(MessageIcon icon) {
    switch (icon) {
        case IconWarning: return MB_ICONWARNING;
        case IconInformation: return MB_ICONINFORMATION;
        case IconError: break;
    }
    return MB_ICONERROR;
}

static HWND ButtonHandle(Button button) {
    switch (button) {
        case DownLoadButton: return g_controls.download_button;
        case HwInfoButton: return g_controls.hw_info_button;
        case OpenFileButton: return g_controls.open_file_button;
        case ApplicationFwButton: return g_controls.application_fw_button;
    }
    return nullptr;
}

void SetStatusText(const char* text) {
    SetWindowTextA(g_controls.status_bar, text);
}

void ShowMessage(const char* text, const char* caption, MessageIcon icon) {
    MessageBoxA(MainWindow(), text, caption, MB_OK | IconStyle(icon));
}

void SetInfoField(InfoField field, const char* text) {
    SetWindowTextA(g_controls.info_fields[field], text);
}

void SetPathText(const char* text) {
    SetWindowTextA(g_controls.path_field, text);
}

void EnableButton(Button button, int enabled) {
    EnableWindow(ButtonHandle(button), enabled ? TRUE : FALSE);
}
