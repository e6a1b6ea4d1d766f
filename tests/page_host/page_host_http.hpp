#pragma once

// The pure half of the browser test host: reading one HTTP/1.1 request off a
// byte stream, shaping answers, and putting the call shim into the page. Kept
// apart from the sockets so the parsing can be tested without a browser.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_helpers.hpp"

namespace tallowmark::page_host {

struct HttpRequest {
    std::string method;
    std::string path;  // without the query
    std::string body;
};

struct ParseOutcome {
    enum class Kind { incomplete, complete, bad } kind = Kind::incomplete;
    HttpRequest request{};
    std::string error{};  // for bad
};

// Reads the request at the start of `data` (one request per connection).
// Anything larger than `maxBytes` in all, and any body without a length, is bad.
ParseOutcome parseRequest(std::string_view data, std::size_t maxBytes);

std::string httpResponse(int status, std::string_view contentType, std::string_view body);

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
