// Driving the real tavboot-gui.exe from another process: windows, texts, clicks, boxes and checks.
#include "tests/wine/gui_probe.h"

#include <cstdio>
#include <cstring>

// Dialog item ids of the platform's message box and Open dialog.
enum : int {
    kBoxTextId = 0xFFFF,
    kBoxIconId = 0x0440,
};

enum : UINT { kSendTimeoutMs = 20000 };

static int s_failures;

void Expect(bool condition, const std::string& what) {
    if (condition) return;
    ++s_failures;
    std::printf("  fail: %s\n", what.c_str());
    std::fflush(stdout);
}

void ExpectText(const std::string& actual, const std::string& expected, const std::string& what) {
    Expect(actual == expected, what + ": got \"" + actual + "\", want \"" + expected + "\"");
}

int FailureCount() {
    return s_failures;
}

static bool SameClass(const std::string& actual, const char* expected) {
    return _stricmp(actual.c_str(), expected) == 0;
}

static std::string ClassOf(HWND window) {
    char name[128] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string TextOf(HWND window) {
    char text[1024] = "";
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_NORMAL, kSendTimeoutMs, &result);
    return text;
}

std::string StatusText(const GuiUnderTest& gui) {
    return TextOf(gui.children[kStatusBar]);
}

void Click(HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
}

void MenuCommand(const GuiUnderTest& gui, WORD command) {
    PostMessageA(gui.main, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

struct ExpectedControl {
    const char* class_name;
    int x, y;
};

// Where each control of the main window stands (client coordinates).
static const ExpectedControl kControlPlaces[kControlCount] = {
    {"Static", 20, 40}, {"Static", 200, 40}, {"Static", 380, 40},
    {"Static", 20, 120}, {"Static", 200, 120}, {"Edit", 20, 200},
    {"Button", 20, 240}, {"Button", 140, 240}, {"Button", 260, 240}, {"Button", 380, 240},
    {"msctls_statusbar32", -1, -1},
};

static POINT ClientPlace(HWND parent, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    POINT place = {rect.left, rect.top};
    ScreenToClient(parent, &place);
    return place;
}

static int ControlIndexOf(HWND parent, HWND child) {
    const std::string name = ClassOf(child);
    const POINT place = ClientPlace(parent, child);
    for (int i = 0; i < kControlCount; ++i) {
        const ExpectedControl& expected = kControlPlaces[i];
        if (!SameClass(name, expected.class_name)) continue;
        if (expected.x < 0 || (expected.x == place.x && expected.y == place.y)) return i;
    }
    return -1;
}

static BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
    auto* gui = reinterpret_cast<GuiUnderTest*>(context);
    if (GetParent(child) != gui->main) return TRUE;
    const int index = ControlIndexOf(gui->main, child);
    if (index >= 0) gui->children[static_cast<size_t>(index)] = child;
    return TRUE;
}

static bool AllControlsFound(const GuiUnderTest& gui) {
    for (HWND child : gui.children) {
        if (child == nullptr) return false;
    }
    return true;
}

static HWND FindMainWindowOf(DWORD process_id) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "WinAPIMainClass", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_id) return window;
    }
    return nullptr;
}

int LaunchGui(const char* exe_path, GuiUnderTest* gui) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string command = std::string("\"") + exe_path + "\"";
    if (!CreateProcessA(exe_path, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &gui->process)) {
        Expect(false, std::string("start ") + exe_path);
        return 0;
    }
    gui->children.assign(kControlCount, nullptr);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kWindowWaitMs) {
        gui->main = FindMainWindowOf(gui->process.dwProcessId);
        if (gui->main != nullptr) {
            EnumChildWindows(gui->main, CollectChild, reinterpret_cast<LPARAM>(gui));
            // The first tick is sent before the message loop runs: once the status
            // bar answers, start-up is over.
            if (AllControlsFound(*gui) && !StatusText(*gui).empty()) return 1;
        }
        Sleep(50);
    }
    Expect(false, "main window with its eleven controls appears");
    return 0;
}

long WaitGuiExit(GuiUnderTest* gui, DWORD timeout_ms) {
    if (WaitForSingleObject(gui->process.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(gui->process.hProcess, &code);
    return static_cast<long>(code);
}

DWORD EndGui(GuiUnderTest* gui) {
    if (gui->process.hProcess == nullptr) return 0;
    if (gui->main != nullptr && IsWindow(gui->main)) PostMessageA(gui->main, WM_COMMAND, 40002, 0);
    long code = WaitGuiExit(gui, kWindowWaitMs);
    if (code < 0) {
        Expect(false, "program ends after the Exit command");
        TerminateProcess(gui->process.hProcess, 1);
        WaitForSingleObject(gui->process.hProcess, kWindowWaitMs);
    }
    CloseHandle(gui->process.hProcess);
    CloseHandle(gui->process.hThread);
    gui->process.hProcess = nullptr;
    return static_cast<DWORD>(code);
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

static BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<OwnedSearch*>(context);
    if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return TRUE;
    if (GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    search->found = window;
    return FALSE;
}

HWND WaitOwnedDialog(HWND owner, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    do {
        OwnedSearch search = {owner, nullptr};
        EnumWindows(MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        Sleep(kPollMs);
    } while (GetTickCount() - start < timeout_ms);
    return nullptr;
}

// A copy of a screen rectangle as 32-bit top-down pixels (blue, green, red, unused).
static std::vector<unsigned char> GrabScreen(const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<unsigned char> pixels;
    if (width <= 0 || height <= 0) return pixels;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const unsigned char* start = static_cast<const unsigned char*>(bits);
    pixels.assign(start, start + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The box icons differ in their dominant colour: a red disc for errors, a yellow
// sign for warnings, a blue mark for information.
static std::string ClassifyIcon(HWND icon) {
    if (icon == nullptr || !IsWindowVisible(icon)) return "none";
    RECT rect;
    GetWindowRect(icon, &rect);
    const std::vector<unsigned char> pixels = GrabScreen(rect);
    int red = 0, yellow = 0, blue = 0;
    for (size_t i = 0; i + 3 < pixels.size(); i += 4) {
        const int b = pixels[i], g = pixels[i + 1], r = pixels[i + 2];
        if (r > 180 && g < 100 && b < 100) ++red;
        if (r > 180 && g > 160 && b < 100) ++yellow;
        if (b > 150 && r < 100) ++blue;
    }
    const int least = 20;
    if (red >= least && red >= yellow && red >= blue) return "error";
    if (yellow >= least && yellow >= blue) return "warning";
    if (blue >= least) return "information";
    return "none";
}

int WaitWindowGone(HWND window, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > timeout_ms) return 0;
        Sleep(kPollMs);
    }
    return 1;
}

int ReadAndDismissBox(const GuiUnderTest& gui, BoxSeen* seen, DWORD timeout_ms) {
    HWND box = WaitOwnedDialog(gui.main, timeout_ms);
    if (box == nullptr) return 0;
    seen->caption = TextOf(box);
    seen->text = TextOf(GetDlgItem(box, kBoxTextId));
    // The icon is painted shortly after the box shows.
    const DWORD start = GetTickCount();
    do {
        Sleep(50);
        seen->icon = ClassifyIcon(GetDlgItem(box, kBoxIconId));
    } while (seen->icon == "none" && GetTickCount() - start < 3000);
    Click(GetDlgItem(box, IDOK));
    if (!WaitWindowGone(box, kBoxWaitMs)) PostMessageA(box, WM_COMMAND, IDOK, 0);
    return WaitWindowGone(box, kBoxWaitMs);
}

void ExpectBox(const GuiUnderTest& gui, const char* caption, const char* text, const char* icon) {
    BoxSeen seen;
    if (!ReadAndDismissBox(gui, &seen)) {
        Expect(false, std::string("box \"") + text + "\" appears and is dismissed");
        return;
    }
    ExpectText(seen.caption, caption, "box caption");
    ExpectText(seen.text, text, "box text");
    ExpectText(seen.icon, icon, std::string("icon of \"") + text + "\"");
}

void ExpectNoBox(const GuiUnderTest& gui, DWORD quiet_ms) {
    BoxSeen seen;
    if (ReadAndDismissBox(gui, &seen, quiet_ms)) {
        Expect(false, "no box, but \"" + seen.caption + ": " + seen.text + "\" appeared");
    }
}

int WaitStatus(const GuiUnderTest& gui, const char* text, DWORD timeout_ms,
               std::vector<std::string>* seen) {
    const DWORD start = GetTickCount();
    for (;;) {
        const std::string now = StatusText(gui);
        if (seen != nullptr && (seen->empty() || seen->back() != now)) seen->push_back(now);
        if (now == text) return 1;
        if (GetTickCount() - start > timeout_ms) return 0;
        Sleep(kPollMs);
    }
}

static BOOL CALLBACK MatchEdit(HWND window, LPARAM context) {
    if (!SameClass(ClassOf(window), "Edit") || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(context) = window;
    return FALSE;
}

// The file name field: the dialog's one edit, directly or inside its name combo box.
static HWND OpenDialogNameEdit(HWND dialog) {
    HWND edit = nullptr;
    EnumChildWindows(dialog, MatchEdit, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

int ChooseFile(const GuiUnderTest& gui, const char* path) {
    Click(gui.children[kOpenFileButton]);
    HWND dialog = WaitOwnedDialog(gui.main, kWindowWaitMs);
    if (dialog == nullptr) {
        Expect(false, "Open dialog appears");
        return 0;
    }
    HWND edit = nullptr;
    const DWORD start = GetTickCount();
    while ((edit = OpenDialogNameEdit(dialog)) == nullptr && GetTickCount() - start < kWindowWaitMs) {
        Sleep(50);
    }
    if (edit == nullptr) {
        Expect(false, "Open dialog has a file name field");
        return 0;
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path), SMTO_NORMAL,
                        kSendTimeoutMs, &result);
    Click(GetDlgItem(dialog, IDOK));
    if (!WaitWindowGone(dialog, kWindowWaitMs)) {
        Expect(false, std::string("Open dialog accepts ") + path);
        return 0;
    }
    return 1;
}

int SaveScreen(const char* bmp_path) {
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const std::vector<unsigned char> pixels = GrabScreen(screen);
    if (pixels.empty()) return 0;
    const int width = screen.right, height = screen.bottom;
    const int row_size = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(row_size) * static_cast<DWORD>(height);
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;  // rows bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    FILE* out = std::fopen(bmp_path, "wb");
    if (out == nullptr) return 0;
    std::fwrite(&file, sizeof(file), 1, out);
    std::fwrite(&header, sizeof(header), 1, out);
    std::vector<unsigned char> row(static_cast<size_t>(row_size), 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            std::memcpy(&row[static_cast<size_t>(x) * 3], &pixels[static_cast<size_t>(y * width + x) * 4], 3);
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0;
}
