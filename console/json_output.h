// One JSON value on stdout, as every command with --json prints it.
#pragma once
#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/loader_state.h"

// Indented by two, keys in alphabetical order. Device texts and names come as UTF-8 already
// (DeviceTextUtf8, NameUtf8); any other byte that is not UTF-8 becomes U+FFFD.
inline void PrintJsonValue(const nlohmann::json& value) {
    std::printf("%s\n", value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// How late the operation's answers came beyond the wire time (median, ms); null
// when it counted none.
inline nlohmann::json AnswerDelayOrNull() {
    if (g_loader.answer_count == 0) return nullptr;
    return g_loader.answer_delay_ms;
}
