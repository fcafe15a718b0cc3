// One JSON value on stdout, as every command with --json prints it.
#pragma once
#include <cstdio>
#include <nlohmann/json.hpp>

#include "console/console.h"
#include "core/loader_state.h"

// An object, or each object of an array, with its "schema".
inline nlohmann::json WithSchema(nlohmann::json value) {
    if (value.is_object()) value["schema"] = kSchema;
    if (value.is_array())
        for (nlohmann::json& item : value)
            if (item.is_object()) item["schema"] = kSchema;
    return value;
}

// Indented by two, keys in alphabetical order. Device texts and names come as UTF-8 already
// (DeviceTextUtf8, NameUtf8); any other byte that is not UTF-8 becomes U+FFFD.
inline void PrintJsonValue(const nlohmann::json& value) {
    std::printf("%s\n", WithSchema(value).dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// How late the operation's answers came beyond the wire time (median, ms); null
// when it counted none.
inline nlohmann::json AnswerDelayOrNull() {
    if (g_loader.answer_count == 0) return nullptr;
    return g_loader.answer_delay_ms;
}
