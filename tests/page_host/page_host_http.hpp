#pragma once

// The pure half of the browser test host: the call shim put into the page,
// and the shim's calls and replies. Kept apart from the server so they can be
// tested without a browser.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_helpers.hpp"

namespace tallowmark::page_host {

// The page's own scripts must find the handlers already there, so the shim
// goes before the first script; a page without scripts gets it before </head>.
std::string insertShim(std::string_view page, std::string_view shim);

// The shim's side of the call: {"name": text, "args": list}.
struct PageCall {
    std::string name;
    Json args;
};
std::optional<PageCall> parsePageCall(std::string_view body);

// {"value": <jsonText>} or {"error": text}; a value that is not one JSON value
// becomes an error so the page's promise still settles.
std::string callReplyBody(const std::string& jsonText, const std::optional<std::string>& error);

// The script the host puts in front of the page's own.
std::string shimScript(const std::vector<std::string>& callNames);

// Where the host keeps its settings: the per-user file under the folder the
// caller chose as XDG_CONFIG_HOME (a test makes a fresh one), or nowhere (in
// memory) when none is chosen, so a run by hand never touches real settings.
// A relative folder is no choice: the user directory rules ignore it.
std::optional<std::filesystem::path> settingsFileUnder(const char* configHome);

}  // namespace tallowmark::page_host
