// Helpers for the fault tests: an operation's wall and CPU time, and what it left the operator with.
#pragma once
#include <sys/resource.h>

#include <algorithm>
#include <map>
#include <string>

#include "tests/link_test_support.h"
#include "tests/recording_ui.h"

// CPU time of the calling thread alone, in ms; the simulated device serves on another.
inline double ThreadCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Wall and CPU time since it was made.
struct Stopwatch {
    double wall_start = NowMs();
    double cpu_start = ThreadCpuMs();
    double WallMs() const { return NowMs() - wall_start; }
    double CpuMs() const { return ThreadCpuMs() - cpu_start; }
};

// The latest recorded text of a kind ("caption: text" for boxes), "" when none.
inline std::string LastOf(UiCallKind kind) {
    const std::vector<std::string> texts = UiTexts(kind);
    return texts.empty() ? "" : texts.back();
}

// Every button that was disabled has been enabled again.
inline bool ButtonsEndEnabled() {
    std::map<int, int> last;
    for (const UiCall& call : g_ui_calls)
        if (call.kind == UiButton) last[call.value] = call.enabled;
    return std::all_of(last.begin(), last.end(), [](const auto& entry) { return entry.second == 1; });
}
