// Image files on Win32: the common Open dialog and the whole-file read.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

#include "core/loader_state.h"
#include "core/operator_ui.h"
#include "image/image_file.h"

// Pairs of description and pattern, ended by an empty pair.
static const char kImageFilter[] =
    "Tavrik Memory Image Files (*.tvk)\0*.tvk\0"
    "Intel Hex files (*.hex)\0*.hex\0"
    "All files (*.*)\0*.*\0";

// The dialog's record, narrow or wide, with the first-version size (76 bytes in a 32-bit
// build): the dialog is asked for without the fields later platform versions added.
template <typename Record, typename Text>
static void PrepareOpenDialog(Record* dialog, HWND owner, const Text* filter, Text* file, DWORD capacity) {
    std::memset(dialog, 0, sizeof(*dialog));
    dialog->lStructSize = static_cast<DWORD>(offsetof(Record, lpTemplateName) + sizeof(dialog->lpTemplateName));
    dialog->hwndOwner = owner;
    dialog->lpstrFilter = filter;
    dialog->nFilterIndex = 1;
    dialog->lpstrFile = file;
    dialog->nMaxFile = capacity;
    dialog->Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
}

// Before UTF-8 code pages (Windows 10 version 1903) the ...A dialog would hand back a name of
// similar characters (fw_r.hex for fw_\u0159.hex): there the dialog is asked in UTF-16 and a
// name the code page cannot carry is refused.
static int ChooseInSystemCodePage(char* path, HWND owner_window) {
    wchar_t filter[sizeof kImageFilter];
    MultiByteToWideChar(CP_ACP, 0, kImageFilter, sizeof kImageFilter, filter, sizeof kImageFilter);
    wchar_t chosen[MAX_PATH] = L"";
    OPENFILENAMEW dialog;
    PrepareOpenDialog(&dialog, owner_window, filter, chosen, MAX_PATH);
    if (!GetOpenFileNameW(&dialog)) return 0;
    char narrow[kPathCapacity];
    wchar_t back[MAX_PATH];
    if (WideCharToMultiByte(CP_ACP, 0, chosen, -1, narrow, kPathCapacity, nullptr, nullptr) > 0 &&
        MultiByteToWideChar(CP_ACP, 0, narrow, -1, back, MAX_PATH) > 0 && std::wcscmp(back, chosen) == 0) {
        std::memcpy(path, narrow, sizeof narrow);
        return 1;
    }
    ShowMessage("File read error", "File Error", IconError);
    return 0;
}

int ChooseImageFile(char* path, void* owner_window) {
    if (GetACP() != CP_UTF8) return ChooseInSystemCodePage(path, static_cast<HWND>(owner_window));
    char chosen[kPathCapacity];
    chosen[0] = '\0';
    OPENFILENAMEA dialog;
    PrepareOpenDialog(&dialog, static_cast<HWND>(owner_window), kImageFilter, chosen, kPathCapacity);
    if (!GetOpenFileNameA(&dialog)) return 0;
    std::memcpy(path, chosen, sizeof(chosen));
    return 1;
}

// The failure's result: 0 with the system's reason recorded.
static int ReadFailed(HANDLE file) {
    g_loader.system_error = static_cast<int>(GetLastError());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return 0;
}

int ReadWholeFile(const char* path, uint8_t* destination, int capacity) {
    g_loader.system_error = 0;
    // Others may go on reading or writing it (an editor, a sibling run); a file
    // that changes under the read is caught by the count below.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return ReadFailed(file);
    DWORD size_high = 0;
    DWORD size = GetFileSize(file, &size_high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return ReadFailed(file);
    if (size_high != 0 || size > static_cast<DWORD>(capacity)) {
        CloseHandle(file);
        return kFileTooLarge;
    }
    DWORD got = 0;
    if (!ReadFile(file, destination, size, &got, nullptr)) return ReadFailed(file);
    CloseHandle(file);
    if (got != size) g_loader.system_error = kFileChanged;
    else if (size == 0) g_loader.system_error = kFileEmpty;
    return got == size ? static_cast<int>(got) : 0;
}

void LoadImageFile() {
    char path[kPathCapacity];
    if (!ChooseImageFile(path, g_loader.main_window)) return;
    LoadImageFromPath(path);
}
