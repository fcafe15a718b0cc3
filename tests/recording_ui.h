// Operator interface for tests: records every call, in order, for the tests to judge.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "core/operator_ui.h"

enum UiCallKind { UiStatus, UiMessage, UiInfoField, UiPath, UiButton };

struct UiCall {
    UiCallKind kind;
    std::string text;     // status, message text, field text or path
    std::string caption;  // message boxes only
    int value;            // icon, field or button
    int enabled;          // buttons only
};

extern std::vector<UiCall> g_ui_calls;
// When set, called after each call is recorded: lets a test act at a chosen
// moment of an operation (pull the line, stop the device). Tests that set it
// clear it again.
extern std::function<void(const UiCall&)> g_ui_hook;

void ClearUiCalls();
// The calls of one kind, as texts ("caption: text" for message boxes).
std::vector<std::string> UiTexts(UiCallKind kind);
// Every status text and box in order: "status: <text>" / "box: <caption>: <text>".
std::vector<std::string> UiTranscript();
