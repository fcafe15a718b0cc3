// Driving the real tavboot-gui.exe from another process: windows, texts, clicks, boxes and checks.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Generous bounds: Wine on two shared cores can be slow to create windows.
enum : DWORD {
    kWindowWaitMs = 30000,
    kBoxWaitMs = 30000,
    kTransferWaitMs = 240000,
    kPollMs = 5,
};

// The program under test and its main window's controls, in creation order.
struct GuiUnderTest {
    PROCESS_INFORMATION process;
    HWND main;
    std::vector<HWND> children;  // the eleven controls
};

enum ControlIndex {
    kHwPlatform, kHwVersion, kBootSwVersion, kApplicationInfo, kFwVersion,
    kPathField, kOpenFileButton, kDownLoadButton, kHwInfoButton, kApplicationFwButton,
    kStatusBar, kControlCount,
};

// What a message box showed.
struct BoxSeen {
    std::string caption;
    std::string text;
    std::string icon;  // "error", "warning", "information" or "none"
};

// Results of one scenario: every failed expectation is printed and counted.
void Expect(bool condition, const std::string& what);
void ExpectText(const std::string& actual, const std::string& expected, const std::string& what);
int FailureCount();

int LaunchGui(const char* exe_path, GuiUnderTest* gui);
// Closes the window with the Exit menu command when it still runs; the exit code.
DWORD EndGui(GuiUnderTest* gui);
// Waits for the process to end by itself; -1 when it does not within timeout_ms.
long WaitGuiExit(GuiUnderTest* gui, DWORD timeout_ms);

std::string TextOf(HWND window);
std::string StatusText(const GuiUnderTest& gui);
void Click(HWND button);
void MenuCommand(const GuiUnderTest& gui, WORD command);

// A visible dialog-class window owned by owner, or nullptr after timeout_ms.
HWND WaitOwnedDialog(HWND owner, DWORD timeout_ms);
int WaitWindowGone(HWND window, DWORD timeout_ms);
// Reads the box owned by the main window and dismisses it with OK.
int ReadAndDismissBox(const GuiUnderTest& gui, BoxSeen* seen, DWORD timeout_ms = kBoxWaitMs);
void ExpectBox(const GuiUnderTest& gui, const char* caption, const char* text, const char* icon);
// No box appears within quiet_ms.
void ExpectNoBox(const GuiUnderTest& gui, DWORD quiet_ms);

// Waits until the status line equals text; records every distinct status seen.
int WaitStatus(const GuiUnderTest& gui, const char* text, DWORD timeout_ms,
               std::vector<std::string>* seen = nullptr);

// Clicks OpenFile, types path into the Open dialog and presses its OK button.
int ChooseFile(const GuiUnderTest& gui, const char* path);

// The whole screen as a 24-bit BMP file.
int SaveScreen(const char* bmp_path);
