// Port settings dialog (COM1 to COM9) and the About box of the Win32 program.
#include <windows.h>

#include <cstring>

#include "app/port_dialog.h"
#include "core/loader_state.h"
#include "res/resource_ids.h"

static INT_PTR CALLBACK PortDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

enum : int { kPortChoices = 9 };

// Entry i of the list shows kPortEntries[i] and selects kPortNames[i]; the list
// texts are for display only.
static const char* const kPortEntries[kPortChoices] = {
    "COM 1", "COM 2", "COM 3", "COM 4", "COM 5", "COM 6", "COM 7", "COM 8", "COM 9",
};
static const char* const kPortNames[kPortChoices] = {
    "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
};

enum : INT_PTR { kDialogAccepted = IDOK, kDialogCancelled = IDCANCEL };

static const char kAboutCaption[] = "About ";
static const char kAboutText[] =
    "Serial BOOT loader\n"
    "\n"
    "   Tavrik Systems s.r.o. \n"
    "\n"
    "    Ver 0.0.10 \n"
    "\n"
    "     2026 ";

// Mirrors the list's selection; reset at every opening, read after the dialog closed.
static int s_selection_index;

static HWND MainWindow() {
    return static_cast<HWND>(g_loader.main_window);
}

void RunPortDialog() {
    INT_PTR result = DialogBoxParamA(static_cast<HINSTANCE>(g_loader.module_instance),
                                     MAKEINTRESOURCEA(IDD_PORT_DIALOG), MainWindow(),
                                     PortDialogProc, 0);
    if (result != kDialogAccepted) return;
    if (s_selection_index < 0 || s_selection_index >= kPortChoices) return;
    std::strcpy(g_loader.port_name, kPortNames[s_selection_index]);
}

static void FillPortList(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
    for (const char* entry : kPortEntries) {
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
    SendMessageA(list, CB_SETCURSEL, 0, 0);
    s_selection_index = 0;
}

static void HandleDialogCommand(HWND dialog, WPARAM wparam, LPARAM lparam) {
    switch (LOWORD(wparam)) {
        case IDOK:
            EndDialog(dialog, kDialogAccepted);
            break;
        case IDCANCEL:
            EndDialog(dialog, kDialogCancelled);
            break;
        case IDC_PORT_LIST:
            if (HIWORD(wparam) == CBN_SELCHANGE) {
                s_selection_index = static_cast<int>(
                    SendMessageA(reinterpret_cast<HWND>(lparam), CB_GETCURSEL, 0, 0));
            }
            break;
        default:
            break;
    }
}

// Returns FALSE for every message, so the dialog manager sets no initial focus.
static INT_PTR CALLBACK PortDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        FillPortList(dialog);
    } else if (message == WM_COMMAND) {
        HandleDialogCommand(dialog, wparam, lparam);
    }
    return FALSE;
}

void ShowAboutBox() {
    MessageBoxA(MainWindow(), kAboutText, kAboutCaption, MB_OK | MB_ICONINFORMATION);
}
