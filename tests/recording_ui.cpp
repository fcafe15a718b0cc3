// Operator interface for tests: records every call, in order.
#include "tests/recording_ui.h"

std::vector<UiCall> g_ui_calls;
std::function<void(const UiCall&)> g_ui_hook;

namespace {

void Record(const UiCall& call) {
    g_ui_calls.push_back(call);
    if (g_ui_hook) g_ui_hook(call);
}

}  // namespace

void SetStatusText(const char* text) { Record({UiStatus, text, "", 0, 0}); }

void ShowMessage(const char* text, const char* caption, MessageIcon icon) { Record({UiMessage, text, caption, icon, 0}); }

void SetInfoField(InfoField field, const char* text) { Record({UiInfoField, text, "", field, 0}); }

void SetPathText(const char* text) { Record({UiPath, text, "", 0, 0}); }

void EnableButton(Button button, int enabled) { Record({UiButton, "", "", button, enabled}); }

void ClearUiCalls() { g_ui_calls.clear(); }

std::vector<std::string> UiTexts(UiCallKind kind) {
    std::vector<std::string> texts;
    for (const UiCall& call : g_ui_calls) {
        if (call.kind != kind) continue;
        texts.push_back(kind == UiMessage ? call.caption + ": " + call.text : call.text);
    }
    return texts;
}

std::vector<std::string> UiTranscript() {
    std::vector<std::string> lines;
    for (const UiCall& call : g_ui_calls) {
        if (call.kind == UiStatus) lines.push_back("status: " + call.text);
        if (call.kind == UiMessage) lines.push_back("box: " + call.caption + ": " + call.text);
    }
    return lines;
}
