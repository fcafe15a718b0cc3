// GUI scenarios against the real tavboot-gui.exe under Wine; the runner script provides the device.
//
// Usage: gui_driver.exe GUI_EXE SCENARIO [ARGUMENTS]. Prints "PASS name" or
// "FAIL name" and exits nonzero when any expectation failed.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "res/resource_ids.h"
#include "tests/wine/gui_probe.h"
#include "tests/wine/resource_probe.h"

// What the simulated device reports with its default configuration.
static const char kShownPlatform[] = "  TAV-SIM-PLATFORM";
static const char kShownHwVersion[] = "  HW 1.0";
static const char kShownBootSw[] = "  BOOT 2.1";
static const char kShownAppName[] = "  TavSim App";
static const char kShownFwVersion[] = "  FW 3.4";

static const char kBootCaption[] = "BOOT info";
static const char kPortCaption[] = "COM port info";
static const char kPagePrefix[] = " BOOTLoader, Write page ";
static const char kDoneStatus[] = "BOOT successful finished ;-) ";

struct Scenario {
    const char* name;
    int argument_count;
    void (*run)(GuiUnderTest& gui, char** arguments);
    bool launches;  // false: works on the program's file alone
};

static std::string Blanks(int count) {
    return std::string(static_cast<size_t>(count), ' ');
}

static void ExpectField(const GuiUnderTest& gui, int index, const std::string& expected,
                        const char* what) {
    ExpectText(TextOf(gui.children[static_cast<size_t>(index)]), expected, what);
}

static void ExpectBootFields(const GuiUnderTest& gui, const std::string& platform,
                             const std::string& hw_version, const std::string& boot_sw) {
    ExpectField(gui, kHwPlatform, platform, "HW platform field");
    ExpectField(gui, kHwVersion, hw_version, "HW version field");
    ExpectField(gui, kBootSwVersion, boot_sw, "BOOT SW version field");
}

static void ExpectEnabled(const GuiUnderTest& gui, int index, bool enabled, const char* what) {
    Expect((IsWindowEnabled(gui.children[static_cast<size_t>(index)]) != FALSE) == enabled,
           std::string(what) + (enabled ? " enabled" : " disabled"));
}

static void ExpectStatus(const GuiUnderTest& gui, const char* text, DWORD timeout_ms = kBoxWaitMs) {
    if (!WaitStatus(gui, text, timeout_ms)) ExpectText(StatusText(gui), text, "status line");
}

static void SaveShot(const char* path) {
    Expect(SaveScreen(path) != 0, std::string("screenshot ") + path);
}

static void LoadFile(const GuiUnderTest& gui, const char* path) {
    if (ChooseFile(gui, path)) ExpectField(gui, kPathField, path, "path field");
}

// Every control is a plain WS_CHILD | WS_VISIBLE window: left-aligned static text,
// an edit without auto-scroll, push buttons without tab stops, a bar without grip.
static void ExpectControlStyles(const GuiUnderTest& gui) {
    for (int i = 0; i < kControlCount; ++i) {
        HWND control = gui.children[static_cast<size_t>(i)];
        const DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
        const DWORD ex_style = static_cast<DWORD>(GetWindowLongA(control, GWL_EXSTYLE));
        const std::string what = "control " + std::to_string(i);
        Expect((style & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE), what + " child, visible");
        Expect((style & WS_TABSTOP) == 0, what + " without tab stop");
        Expect(GetDlgCtrlID(control) == 0, what + " without id");
        if (i == kStatusBar) {
            Expect((style & SBARS_SIZEGRIP) == 0, "status bar without size grip");
            continue;
        }
        Expect((style & 0xFFFF) == 0, what + " without control style bits");
        Expect(((ex_style & WS_EX_CLIENTEDGE) != 0) == (i <= kPathField), what + " client edge");
    }
}

// Start-up state: window, controls and the status line; the Exit command ends with 0.
static void RunStartup(GuiUnderTest& gui, char**) {
    ExpectText(TextOf(gui.main), " Tav_BOOT  0.0.10 ", "title");
    RECT rect;
    GetWindowRect(gui.main, &rect);
    Expect(rect.left == 100 && rect.top == 100, "window at 100, 100");
    Expect(rect.right - rect.left == 550 && rect.bottom - rect.top == 350, "window 550 x 350");
    const LONG style = GetWindowLongA(gui.main, GWL_STYLE);
    Expect((style & WS_SYSMENU) && (style & WS_CAPTION), "title bar with system menu");
    Expect(!(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)), "no sizing or min/max box");
    Expect(GetMenu(gui.main) != nullptr, "menu bar");
    for (int i = kHwPlatform; i <= kPathField; ++i) ExpectField(gui, i, "", "empty field at start");
    ExpectField(gui, kOpenFileButton, "OpenFile", "OpenFile button");
    ExpectField(gui, kDownLoadButton, "DownLoad", "DownLoad button");
    ExpectField(gui, kHwInfoButton, "HW info", "HW info button");
    ExpectField(gui, kApplicationFwButton, "Application FW", "Application FW button");
    ExpectText(StatusText(gui), "BOOT sequence uninitialize", "status line at start");
    for (int i = kOpenFileButton; i <= kApplicationFwButton; ++i) ExpectEnabled(gui, i, true, "button");
    ExpectControlStyles(gui);
    MenuCommand(gui, IDM_EXIT);
    ExpectText(std::to_string(WaitGuiExit(&gui, kWindowWaitMs)), "0", "exit code after Exit");
}

static void RunDownloadNoFile(GuiUnderTest& gui, char**) {
    Click(gui.children[kDownLoadButton]);
    ExpectBox(gui, "File info", "File is not selected, select file please", "warning");
    ExpectBootFields(gui, Blanks(30), Blanks(30), Blanks(30));
    ExpectText(StatusText(gui), "BOOT sequence uninitialize", "status line unchanged");
    ExpectEnabled(gui, kDownLoadButton, true, "DownLoad");
}

// A cancelled Open dialog changes nothing and shows nothing.
static void CancelOpenDialog(const GuiUnderTest& gui) {
    const std::string path_before = TextOf(gui.children[kPathField]);
    Click(gui.children[kOpenFileButton]);
    HWND dialog = WaitOwnedDialog(gui.main, kWindowWaitMs);
    if (dialog == nullptr) {
        Expect(false, "Open dialog appears");
        return;
    }
    Click(GetDlgItem(dialog, IDCANCEL));
    Expect(WaitWindowGone(dialog, kWindowWaitMs) != 0, "Open dialog closes on Cancel");
    ExpectNoBox(gui, 1000);
    ExpectField(gui, kPathField, path_before, "path field after Cancel");
}

// HEX, memory image and an unsupported suffix: the path is shown each time.
static void RunOpenFiles(GuiUnderTest& gui, char** arguments) {
    LoadFile(gui, arguments[0]);
    ExpectNoBox(gui, 1000);
    CancelOpenDialog(gui);
    LoadFile(gui, arguments[1]);
    ExpectNoBox(gui, 1000);
    LoadFile(gui, arguments[2]);
    ExpectBox(gui, "File Error", "File has unsupported suffix format", "error");
}

static int PageOf(const std::string& status) {
    const size_t prefix = std::strlen(kPagePrefix);
    if (status.compare(0, prefix, kPagePrefix) != 0) return -1;
    return std::atoi(status.c_str() + prefix);
}

// The page numbers shown must count up from 0 without going back.
static void ExpectPagesInOrder(const std::vector<std::string>& seen, int pages, bool every_page) {
    int last = -1;
    int shown = 0;
    for (const std::string& status : seen) {
        const int page = PageOf(status);
        if (page < 0) continue;
        Expect(page > last && page < pages, "page " + std::to_string(page) + " in order");
        if (every_page) Expect(page == last + 1, "page " + std::to_string(page) + " follows " + std::to_string(last));
        last = page;
        ++shown;
    }
    Expect(shown > 0 || pages <= 1, "page progress shown");
}

// A full download: statuses, the final box, identity fields; prints the time taken.
// Arguments: image, pages, "paced" or not, then the screenshots of the main window
// and of the final box ("-" for none).
static void RunDownload(GuiUnderTest& gui, char** arguments) {
    const int pages = std::atoi(arguments[1]);
    const bool paced = std::strcmp(arguments[2], "paced") == 0;
    LoadFile(gui, arguments[0]);
    const DWORD start = GetTickCount();
    Click(gui.children[kDownLoadButton]);
    std::vector<std::string> seen;
    Expect(WaitStatus(gui, kDoneStatus, kTransferWaitMs, &seen) != 0, "download finishes");
    if (arguments[4][0] != '-' && WaitOwnedDialog(gui.main, kBoxWaitMs) != nullptr) {
        Sleep(500);
        SaveShot(arguments[4]);
    }
    BoxSeen box;
    Expect(ReadAndDismissBox(gui, &box) != 0, "final box appears");
    const DWORD elapsed = GetTickCount() - start;
    ExpectText(box.text, "Boot successful finished", "final box text");
    ExpectText(box.caption, kBootCaption, "final box caption");
    ExpectText(box.icon, "information", "final box icon");
    ExpectPagesInOrder(seen, pages, paced);
    // At 19200 baud the first page takes long enough for the erase report to be seen.
    if (paced) {
        Expect(std::find(seen.begin(), seen.end(), "BOOT device: erase finished") != seen.end(),
               "erase report shown before the pages");
    }
    ExpectBootFields(gui, kShownPlatform, kShownHwVersion, kShownBootSw);
    ExpectEnabled(gui, kDownLoadButton, true, "DownLoad after the transfer");
    std::printf("  download of %d pages (%s): %lu ms\n", pages, arguments[2],
                static_cast<unsigned long>(elapsed));
    if (arguments[3][0] != '-') {
        Sleep(300);
        SaveShot(arguments[3]);
    }
}

static void RunStartFails(GuiUnderTest& gui, char** arguments) {
    LoadFile(gui, arguments[0]);
    Click(gui.children[kDownLoadButton]);
    ExpectBox(gui, kBootCaption, "Boot sequence error", "error");
    ExpectStatus(gui, "BOOT sequence unactive");
    ExpectEnabled(gui, kDownLoadButton, true, "DownLoad after the failure");
    ExpectBootFields(gui, Blanks(30), Blanks(30), Blanks(30));
}

static void RunTransferFails(GuiUnderTest& gui, char** arguments) {
    LoadFile(gui, arguments[0]);
    Click(gui.children[kDownLoadButton]);
    ExpectBox(gui, kBootCaption, "Boot communication error", "error");
    ExpectText(StatusText(gui), "BOOT message failed", "status line");
    ExpectEnabled(gui, kDownLoadButton, true, "DownLoad after the failure");
}

static void RunHwInfoOk(GuiUnderTest& gui, char**) {
    Click(gui.children[kHwInfoButton]);
    ExpectNoBox(gui, 1500);
    ExpectStatus(gui, "Bootloader CRC is correct");
    ExpectBootFields(gui, kShownPlatform, kShownHwVersion, kShownBootSw);
    ExpectEnabled(gui, kHwInfoButton, true, "HW info");
}

static void RunHwInfoFails(GuiUnderTest& gui, char**) {
    Click(gui.children[kHwInfoButton]);
    ExpectBox(gui, kBootCaption, "Boot sequence error", "error");
    ExpectStatus(gui, "BOOT sequence unactive");
    ExpectBootFields(gui, Blanks(20), Blanks(20), Blanks(20));
    ExpectEnabled(gui, kHwInfoButton, true, "HW info");
}

static void RunAppFwOk(GuiUnderTest& gui, char**) {
    Click(gui.children[kApplicationFwButton]);
    ExpectNoBox(gui, 1500);
    ExpectField(gui, kApplicationInfo, kShownAppName, "Application info field");
    ExpectField(gui, kFwVersion, kShownFwVersion, "FW version field");
    ExpectText(StatusText(gui), "BOOT sequence uninitialize", "status line unchanged");
}

static void RunAppFwFails(GuiUnderTest& gui, char**) {
    Click(gui.children[kApplicationFwButton]);
    ExpectBox(gui, kBootCaption, "Application info read error", "error");
    ExpectStatus(gui, "BOOT application info Error");
    ExpectField(gui, kApplicationInfo, Blanks(30), "Application info field");
    ExpectField(gui, kFwVersion, Blanks(30), "FW version field");
}

// COM1 leads nowhere: every operation that opens the port says so.
static void RunComOpenError(GuiUnderTest& gui, char** arguments) {
    LoadFile(gui, arguments[0]);
    Click(gui.children[kDownLoadButton]);
    ExpectBox(gui, kPortCaption, "COM open error", "error");
    ExpectEnabled(gui, kDownLoadButton, true, "DownLoad");
    Click(gui.children[kHwInfoButton]);
    ExpectBox(gui, kPortCaption, "COM open error", "error");
    ExpectEnabled(gui, kHwInfoButton, true, "HW info");
    Click(gui.children[kApplicationFwButton]);
    ExpectBox(gui, kPortCaption, "COM open error", "error");
    ExpectText(StatusText(gui), "BOOT sequence uninitialize", "status line unchanged");
}

static HWND OpenPortDialog(const GuiUnderTest& gui) {
    MenuCommand(gui, IDM_PORT);
    HWND dialog = WaitOwnedDialog(gui.main, kWindowWaitMs);
    Expect(dialog != nullptr, "port dialog appears");
    return dialog;
}

static void ExpectPortList(HWND list) {
    const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    ExpectText(std::to_string(count), "9", "port list entries");
    for (int i = 0; i < count; ++i) {
        // Asked in UTF-16: Wine hands list texts across processes only in that form.
        wchar_t wide[32] = L"";
        SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
        char entry[32] = "";
        WideCharToMultiByte(CP_ACP, 0, wide, -1, entry, sizeof(entry), nullptr, nullptr);
        ExpectText(entry, "COM " + std::to_string(i + 1), "port list entry");
    }
    ExpectText(std::to_string(SendMessageA(list, CB_GETCURSEL, 0, 0)), "0", "selection at opening");
}

// Moves the list's selection as the keyboard does, which notifies the dialog.
static void SelectPortEntry(HWND dialog, HWND list, int index) {
    const int steps = index - static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
    for (int i = 0; i < steps; ++i) {
        SendMessageA(list, WM_KEYDOWN, VK_DOWN, 0);
        SendMessageA(list, WM_KEYUP, VK_DOWN, 0);
    }
    if (SendMessageA(list, CB_GETCURSEL, 0, 0) != index) {
        Expect(false, "keyboard moves the port list selection");
        SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
    }
}

// "COM 5" chosen and confirmed: the next operation opens COM5 (COM1 leads nowhere).
static void RunPortDialog(GuiUnderTest& gui, char** arguments) {
    HWND dialog = OpenPortDialog(gui);
    if (dialog == nullptr) return;
    ExpectText(TextOf(dialog), "", "port dialog title");
    HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
    ExpectPortList(list);
    SelectPortEntry(dialog, list, 4);
    Sleep(300);
    if (arguments[0][0] != '-') SaveShot(arguments[0]);
    Click(GetDlgItem(dialog, IDOK));
    Expect(WaitWindowGone(dialog, kWindowWaitMs) != 0, "port dialog closes on OK");
    RunHwInfoOk(gui, nullptr);

    // Esc leaves the choice alone; the next opening starts at "COM 1" again.
    dialog = OpenPortDialog(gui);
    if (dialog == nullptr) return;
    list = GetDlgItem(dialog, IDC_PORT_LIST);
    SelectPortEntry(dialog, list, 2);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    Expect(WaitWindowGone(dialog, kWindowWaitMs) != 0, "port dialog closes on Esc");
    RunHwInfoOk(gui, nullptr);
    dialog = OpenPortDialog(gui);
    if (dialog == nullptr) return;
    ExpectPortList(GetDlgItem(dialog, IDC_PORT_LIST));
    Click(GetDlgItem(dialog, IDOK));
    Expect(WaitWindowGone(dialog, kWindowWaitMs) != 0, "port dialog closes on OK");
    Click(gui.children[kHwInfoButton]);
    ExpectBox(gui, kPortCaption, "COM open error", "error");
}

static void RunAbout(GuiUnderTest& gui, char**) {
    MenuCommand(gui, IDM_ABOUT);
    ExpectBox(gui, "About ",
              "Serial BOOT loader\n\n   Tavrik Systems s.r.o. \n\n    Ver 0.0.10 \n\n     2026 ",
              "information");
}

static int WaitTransferRunning(const GuiUnderTest& gui) {
    const DWORD start = GetTickCount();
    while (PageOf(StatusText(gui)) < 0) {
        if (GetTickCount() - start > kTransferWaitMs) {
            Expect(false, "page transfer starts");
            return 0;
        }
        Sleep(kPollMs);
    }
    return 1;
}

// While pages go out, every button that could disturb the transfer is disabled.
static void RunTransferLocks(GuiUnderTest& gui, char** arguments) {
    LoadFile(gui, arguments[0]);
    Click(gui.children[kDownLoadButton]);
    if (!WaitTransferRunning(gui)) return;
    for (int i = kOpenFileButton; i <= kApplicationFwButton; ++i) {
        ExpectEnabled(gui, i, false, "button during the transfer");
    }
    ExpectStatus(gui, kDoneStatus, kTransferWaitMs);
    for (int i = kOpenFileButton; i <= kApplicationFwButton; ++i) {
        ExpectEnabled(gui, i, true, "button after the transfer");
    }
    ExpectBox(gui, kBootCaption, "Boot successful finished", "information");
}

static void RunCloseDuringTransfer(GuiUnderTest& gui, char** arguments) {
    LoadFile(gui, arguments[0]);
    Click(gui.children[kDownLoadButton]);
    if (!WaitTransferRunning(gui)) return;
    PostMessageA(gui.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectText(std::to_string(WaitGuiExit(&gui, kWindowWaitMs)), "0", "exit code after close");
}

// Another program holding a file open, as an editor or a sibling run does: "shared" lets
// others read and write it, "exclusive" lets no one in. Writes READY when it holds the file.
// Arguments: file, sharing, then how long to hold it in milliseconds.
static void RunHoldFile(GuiUnderTest&, char** arguments) {
    const DWORD share = std::strcmp(arguments[1], "shared") == 0 ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    const HANDLE file = CreateFileA(arguments[0], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
    Expect(file != INVALID_HANDLE_VALUE, std::string("holds ") + arguments[0]);
    if (file == INVALID_HANDLE_VALUE) return;
    std::printf("READY\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(std::atoi(arguments[2])));
    CloseHandle(file);
}

// The console program double-clicked: alone in a console of its own, it says what it is and
// waits for Enter before the console closes. Argument: the program.
static void RunLoneConsole(GuiUnderTest&, char** arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out_read, out_write, in_read, in_write;
    CreatePipe(&out_read, &out_write, &inherit, 0);
    CreatePipe(&in_read, &in_write, &inherit, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = in_read;
    startup.hStdOutput = startup.hStdError = out_write;
    PROCESS_INFORMATION process = {};
    std::string command = arguments[0];
    const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                                        nullptr, &startup, &process) != 0;
    CloseHandle(out_write);
    CloseHandle(in_read);
    Expect(started, "console program starts");
    if (!started) return;
    Expect(WaitForSingleObject(process.hProcess, 1500) == WAIT_TIMEOUT, "waits for a key");
    DWORD done = 0;
    WriteFile(in_write, "\n", 1, &done, nullptr);
    CloseHandle(in_write);
    Expect(WaitForSingleObject(process.hProcess, kWindowWaitMs) == WAIT_OBJECT_0, "ends after Enter");
    std::string output(4096, '\0');
    DWORD got = 0, total = 0;
    while (total < output.size() && ReadFile(out_read, &output[total], DWORD(output.size()) - total, &got, nullptr) &&
           got > 0)
        total += got;
    output.resize(total);
    Expect(output.find("firmware download through the serial bootloader") != std::string::npos &&
               output.find("tavboot download --port COM3") != std::string::npos,
           "says what it is and how to run it: " + output);
    CloseHandle(out_read);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// tavboot.exe (command) in a console of its own (a console Ctrl-C event needs one) gets Ctrl-C
// once, as soon as its output shows trigger: it ends within a minute with expected_code, its
// output showing expected_text.
static void CtrlCInOwnConsole(char* command_text, const char* trigger, DWORD expected_code, const char* expected_text) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out_read, out_write;
    CreatePipe(&out_read, &out_write, &inherit, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = out_write;
    PROCESS_INFORMATION process = {};
    std::string command = command_text;
    const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                                        nullptr, &startup, &process) != 0;
    CloseHandle(out_write);
    Expect(started, "console program starts");
    if (!started) return;
    std::string output;
    bool interrupted = false;
    for (DWORD waited = 0; waited < 120000; waited += 10) {
        DWORD available = 0, got = 0;
        char buffer[4096];
        if (!PeekNamedPipe(out_read, nullptr, 0, nullptr, &available, nullptr)) break;
        if (available && ReadFile(out_read, buffer, sizeof buffer, &got, nullptr)) output.append(buffer, got);
        if (!interrupted && output.find(trigger) != std::string::npos) {
            FreeConsole();
            interrupted = AttachConsole(process.dwProcessId) && SetConsoleCtrlHandler(nullptr, TRUE) &&
                          GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            Expect(interrupted, "Ctrl-C sent to the program's console");
        }
        if (!available && WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
        if (!available) Sleep(10);
    }
    Expect(WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0, "ends after Ctrl-C");
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    Expect(code == expected_code && output.find(expected_text) != std::string::npos,
           "exit status " + std::to_string(code) + " (" + std::to_string(expected_code) + "), output: " + output);
    CloseHandle(out_read);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// A single download, or several ports, interrupted: 130, and it says so.
static void RunConsoleCtrlC(GuiUnderTest&, char** arguments) {
    CtrlCInOwnConsole(arguments[0], arguments[1], 130, "interrupted");
}

// Arguments: command, trigger, the exit status and a text its output shows.
static void RunConsoleCtrlCOnce(GuiUnderTest&, char** arguments) {
    CtrlCInOwnConsole(arguments[0], arguments[1], DWORD(std::atoi(arguments[2])), arguments[3]);
}

// A name the program's code page cannot carry: refused, the path field left as it was.
static void RunOpenRefused(GuiUnderTest& gui, char** arguments) {
    ChooseFile(gui, arguments[0]);
    ExpectBox(gui, "File Error", "File read error", "error");
    ExpectField(gui, kPathField, "", "path field");
}

static void RunResources(GuiUnderTest&, char** arguments) {
    CheckGuiResources(arguments[0]);
}

static const Scenario kScenarios[] = {
    {"resources", 1, RunResources, false},
    {"hold-file", 3, RunHoldFile, false},
    {"lone-console", 1, RunLoneConsole, false},
    {"console-ctrl-c", 2, RunConsoleCtrlC, false},
    {"console-ctrl-c-once", 4, RunConsoleCtrlCOnce, false},
    {"open-refused", 1, RunOpenRefused, true},
    {"startup", 0, RunStartup, true},
    {"download-no-file", 0, RunDownloadNoFile, true},
    {"open-files", 3, RunOpenFiles, true},
    {"download", 5, RunDownload, true},
    {"start-fails", 1, RunStartFails, true},
    {"transfer-fails", 1, RunTransferFails, true},
    {"hw-info", 0, RunHwInfoOk, true},
    {"hw-info-fails", 0, RunHwInfoFails, true},
    {"app-fw", 0, RunAppFwOk, true},
    {"app-fw-fails", 0, RunAppFwFails, true},
    {"com-open-error", 1, RunComOpenError, true},
    {"port-dialog", 1, RunPortDialog, true},
    {"about", 0, RunAbout, true},
    {"transfer-locks", 1, RunTransferLocks, true},
    {"close-during-transfer", 1, RunCloseDuringTransfer, true},
};

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: gui_driver GUI_EXE SCENARIO [ARGUMENTS]\n");
        return 2;
    }
    for (const Scenario& scenario : kScenarios) {
        if (std::strcmp(scenario.name, argv[2]) != 0) continue;
        if (argc - 3 != scenario.argument_count) {
            std::fprintf(stderr, "%s takes %d arguments\n", scenario.name, scenario.argument_count);
            return 2;
        }
        GuiUnderTest gui = {};
        if (!scenario.launches) {
            scenario.run(gui, argv + 3);
        } else if (LaunchGui(argv[1], &gui)) {
            scenario.run(gui, argv + 3);
        }
        EndGui(&gui);
        std::printf("%s %s\n", FailureCount() == 0 ? "PASS" : "FAIL", scenario.name);
        return FailureCount() == 0 ? 0 : 1;
    }
    std::fprintf(stderr, "unknown scenario %s\n", argv[2]);
    return 2;
}
