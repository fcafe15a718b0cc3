// One JSON value on stdout, as every command with --json prints it.
#pragma once
#include <cstdio>
#include <nlohmann/json.hpp>

// Indented by two, keys in alphabetical order; bytes that are not UTF-8 become U+FFFD.
inline void PrintJsonValue(const nlohmann::json& value) {
    std::printf("%s\n", value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}
