// Operator interface on a terminal: status lines and boxes on stderr, results kept for stdout.
#include "console/console.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/loader_state.h"

ConsoleState g_console;
void (*g_status_listener)(const char* text) = nullptr;

namespace {

const char kPagePrefix[] = " BOOTLoader, Write page ";

void PrintLine(const char* label, const char* text) {
    EndProgressLine();
    std::fprintf(stderr, "%s%s%s\n", g_console.line_prefix.c_str(), label, text);
    std::fflush(stderr);
}

// One line rewritten in place: pages done of total, bytes, rate, time left.
void ShowProgress() {
    const unsigned done = g_loader.page_number;
    const unsigned total = done + g_loader.pages_remaining - 1;
    const double now = MonotonicSeconds();
    const double elapsed = now - g_console.transfer_started;
    const double bytes = double(done) * kPageSize;
    const double rate = elapsed > 0 ? bytes / elapsed : 0;
    const double left = rate > 0 ? (double(total) * kPageSize - bytes) / rate : 0;
    char bar[31];
    const unsigned filled = total ? done * 30 / total : 30;
    for (unsigned i = 0; i < 30; ++i) bar[i] = i < filled ? '#' : '.';
    bar[30] = '\0';
    std::fprintf(stderr, "\r%s[%s] page %u/%u  %lu bytes  %.0f B/s  %.0f s left ",
                 g_console.line_prefix.c_str(), bar, done, total, static_cast<unsigned long>(bytes),
                 rate, left);
    std::fflush(stderr);
    g_console.progress_shown = 1;
}

}  // namespace

double MonotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void InitConsole() {
    g_console = ConsoleState();
    g_console.stderr_is_terminal = StderrIsTerminal();
}

void EndProgressLine() {
    if (!g_console.progress_shown) return;
    std::fputc('\n', stderr);
    g_console.progress_shown = 0;
}

std::string FieldValue(InfoField field) {
    const std::string& text = g_console.fields[field];
    return text.size() >= 2 ? text.substr(2) : std::string();
}

void SetStatusText(const char* text) {
    // The page transfer starts right after the erase acknowledgement.
    if (std::strcmp(text, "BOOT device: erase finished") == 0) g_console.transfer_started = MonotonicSeconds();
    const bool page = std::strncmp(text, kPagePrefix, sizeof kPagePrefix - 1) == 0;
    if (page && g_console.stderr_is_terminal) ShowProgress();
    else PrintLine("status: ", text);
    if (g_status_listener) g_status_listener(text);
}

void ShowMessage(const char* text, const char* caption, MessageIcon icon) {
    const std::string line = std::string(caption) + ": " + text;
    PrintLine("", line.c_str());
    g_console.last_box = line;
    if (icon == IconInformation) g_console.succeeded = 1;
    else g_console.failed = 1;
    if (icon == IconError) ExplainFailure(caption, text);
}

void SetInfoField(InfoField field, const char* text) { g_console.fields[field] = text; }

void SetPathText(const char* text) { g_console.path = text; }

void EnableButton(Button, int) {}
