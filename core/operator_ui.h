// The operator interface: everything the logic asks of the window. Each front end
// (Win32 window, console, tests' recorder) links its own implementation.
#pragma once

enum MessageIcon { IconError, IconWarning, IconInformation };

enum InfoField {
    HwPlatformField,
    HwVersionField,
    BootSwVersionField,
    ApplicationInfoField,
    FwVersionField,
};

// DownLoad and HW info follow their operations; OpenFile and Application FW are
// disabled only while a page transfer runs.
enum Button { DownLoadButton, HwInfoButton, OpenFileButton, ApplicationFwButton };

void SetStatusText(const char* text);
// Modal: returns when the operator has dismissed the box.
void ShowMessage(const char* text, const char* caption, MessageIcon icon);
void SetInfoField(InfoField field, const char* text);
void SetPathText(const char* text);
void EnableButton(Button button, int enabled);
