#pragma once

// The browser test host's pure half, testable without a browser: the shim, its calls and replies.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_helpers.hpp"

namespace tallowmark::page_host {

// Before the page's first script, which must find the handlers there (no script: before </head>).
std::string insertShim(std::string_view page, std::string_view shim);

// The shim's side of the call: {"name": text, "args": list}.
struct PageCall {
    std::string name;
    Json args;
};
std::optional<PageCall> parsePageCall(std::string_view body);

// {"value": <jsonText>} or {"error": text}; a value that is not JSON becomes an error.
std::string callReplyBody(const std::string& jsonText, const std::optional<std::string>& error);

// The script the host puts in front of the page's own.
std::string shimScript(const std::vector<std::string>& callNames);

// The settings file under the caller's absolute XDG_CONFIG_HOME, else none (in memory), so a run
// by hand never touches real settings.
std::optional<std::filesystem::path> settingsFileUnder(const char* configHome);

}  // namespace tallowmark::page_host
