// The Win32 program: start-up, the main window with its controls, menu routing and the transfer timer.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "app/main_window.h"
#include "app/port_dialog.h"
#include "boot/boot_control.h"
#include "core/loader_state.h"
#include "image/image_file.h"
#include "res/resource_ids.h"

MainControls g_controls;

static const char kMainClassName[] = "WinAPIMainClass";
static const char kMainTitle[] = " Tav_BOOT  0.0.10 ";

enum : UINT_PTR { kTransferTimerId = 1 };
enum : UINT { kTransferTimerPeriodMs = 1 };

struct ChildControl {
    const char* class_name;
    const char* text;
    DWORD ex_style;
    int x, y, width, height;
};

// In creation order; the status bar places itself along the bottom edge.
static const ChildControl kChildren[] = {
    {"STATIC", nullptr, WS_EX_CLIENTEDGE, 20, 40, 140, 20},
    {"STATIC", nullptr, WS_EX_CLIENTEDGE, 200, 40, 140, 20},
    {"STATIC", nullptr, WS_EX_CLIENTEDGE, 380, 40, 140, 20},
    {"STATIC", nullptr, WS_EX_CLIENTEDGE, 20, 120, 140, 20},
    {"STATIC", nullptr, WS_EX_CLIENTEDGE, 200, 120, 140, 20},
    {"EDIT", nullptr, WS_EX_CLIENTEDGE, 20, 200, 500, 20},
    {"BUTTON", "OpenFile", 0, 20, 240, 100, 25},
    {"BUTTON", "DownLoad", 0, 140, 240, 100, 25},
    {"BUTTON", "HW info", 0, 260, 240, 100, 25},
    {"BUTTON", "Application FW", 0, 380, 240, 100, 25},
    {STATUSCLASSNAMEA, "BOOT sequence uninitialize", 0, 0, 0, 0, 0},
};
enum : int { kChildCount = sizeof(kChildren) / sizeof(kChildren[0]), kFontedChildCount = 10 };

struct Label {
    const char* text;
    int x, y;
};

static const Label kLabels[] = {
    {"HW platform", 20, 20},
    {"HW version", 200, 20},
    {"BOOT SW version", 380, 20},
    {"Application info", 20, 100},
    {"FW version", 200, 100},
};

static HINSTANCE ModuleInstance() {
    return static_cast<HINSTANCE>(g_loader.module_instance);
}

static HWND MainWindow() {
    return static_cast<HWND>(g_loader.main_window);
}

// Where each created child lands, in the order of kChildren.
static HWND* ChildSlot(int index) {
    HWND* slots[kChildCount] = {
        &g_controls.info_fields[0], &g_controls.info_fields[1], &g_controls.info_fields[2],
        &g_controls.info_fields[3], &g_controls.info_fields[4], &g_controls.path_field,
        &g_controls.open_file_button, &g_controls.download_button, &g_controls.hw_info_button,
        &g_controls.application_fw_button, &g_controls.status_bar,
    };
    return slots[index];
}

static int InitCommonControlClasses() {
    INITCOMMONCONTROLSEX classes;
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_WIN95_CLASSES;
    return InitCommonControlsEx(&classes) ? 1 : 0;
}

static int RegisterMainClass() {
    WNDCLASSEXA window_class;
    std::memset(&window_class, 0, sizeof(window_class));
    window_class.cbSize = sizeof(window_class);
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = MainWindowProc;
    window_class.hInstance = ModuleInstance();
    window_class.hIcon = LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(IDI_TAVBOOT));
    window_class.hIconSm = window_class.hIcon;
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window_class.lpszMenuName = MAKEINTRESOURCEA(IDM_MAIN_MENU);
    window_class.lpszClassName = kMainClassName;
    return RegisterClassExA(&window_class) != 0 ? 1 : 0;
}

static int CreateMainFrame() {
    HWND window = CreateWindowExA(0, kMainClassName, kMainTitle,
                                  WS_OVERLAPPED | WS_SYSMENU | WS_VISIBLE, 100, 100, 550, 350,
                                  nullptr, nullptr, ModuleInstance(), nullptr);
    g_loader.main_window = window;
    return window != nullptr ? 1 : 0;
}

static int CreateChildren() {
    for (int i = 0; i < kChildCount; ++i) {
        const ChildControl& control = kChildren[i];
        HWND child = CreateWindowExA(control.ex_style, control.class_name, control.text,
                                     WS_CHILD | WS_VISIBLE, control.x, control.y, control.width,
                                     control.height, MainWindow(), nullptr, ModuleInstance(),
                                     nullptr);
        if (child == nullptr) return 0;
        *ChildSlot(i) = child;
    }
    return 1;
}

static void SetChildFonts() {
    WPARAM font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    for (int i = 0; i < kFontedChildCount; ++i) {
        SendMessageA(*ChildSlot(i), WM_SETFONT, font, TRUE);
    }
}

int CreateMainWindow() {
    if (!InitCommonControlClasses()) return 0;
    if (!RegisterMainClass()) return 0;
    if (!CreateMainFrame()) return 0;
    if (!CreateChildren()) return 0;
    SetChildFonts();
    SetTimer(MainWindow(), kTransferTimerId, kTransferTimerPeriodMs, nullptr);
    // The first tick comes at once, before the message loop runs.
    SendMessageA(MainWindow(), WM_TIMER, kTransferTimerId, 0);
    return 1;
}

static void PaintLabels(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    for (const Label& label : kLabels) {
        SetBkMode(dc, TRANSPARENT);
        TextOutA(dc, label.x, label.y, label.text, static_cast<int>(std::strlen(label.text)));
    }
    EndPaint(window, &paint);
}

static void RouteMenuCommand(WORD command) {
    switch (command) {
        case IDM_EXIT: SendMessageA(MainWindow(), WM_CLOSE, 0, 0); break;
        case IDM_PORT: RunPortDialog(); break;
        case IDM_ABOUT: ShowAboutBox(); break;
        default: break;
    }
}

// Buttons are recognised by the sending control's handle; notification codes
// are not looked at. Menu commands carry no handle and match no button.
static void RouteButtonCommand(HWND sender) {
    if (sender == nullptr) return;
    if (sender == g_controls.open_file_button) {
        LoadImageFile();
    } else if (sender == g_controls.download_button) {
        StartDownload();
    } else if (sender == g_controls.hw_info_button) {
        QueryHwInfo();
    } else if (sender == g_controls.application_fw_button) {
        QueryApplicationFw();
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT:
            PaintLabels(window);
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            break;
        case WM_SIZE:
            SendMessageA(g_controls.status_bar, WM_SIZE, wparam, lparam);
            break;
        case WM_COMMAND:
            RouteMenuCommand(LOWORD(wparam));
            RouteButtonCommand(reinterpret_cast<HWND>(lparam));
            break;
        case WM_TIMER:
            TransferStep();
            break;
        default:
            break;
    }
    // Every message, handled or not, also goes to the default procedure: WM_CLOSE
    // is answered there by destroying the window.
    return DefWindowProcA(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ResetLoaderState();
    g_loader.module_instance = instance;
    // The start sequence holds the one thread for seconds; a "Not Responding"
    // ghost window would let the operator kill the program in mid-erase.
    DisableProcessWindowsGhosting();
    if (!CreateMainWindow()) return 0;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
