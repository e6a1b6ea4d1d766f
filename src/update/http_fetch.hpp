#pragma once

// HTTPS GET for the update feed and packages. Blocking: call it on a worker
// thread and post the outcome to the main loop. Only https, only the allowed
// host (checked again with the HTTP library's own URL reader), no redirects,
// and every body bounded.

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>

namespace tallowmark::update {

struct FetchConfig {
    std::string allowedHost;  // the one host a request may go to (lower case)
    std::string caFile;       // extra trust anchor; empty: the system's
    std::string connectTo;    // "host:443:addr:port", reaching the host elsewhere; empty: none
};

struct FetchError {
    std::string description;
};

// The body as text, or why there is none. `timeoutSeconds` bounds the whole request.
std::variant<std::string, FetchError> fetchToMemory(const std::string& url, const FetchConfig& config,
                                                    long timeoutSeconds, std::uint64_t maxBytes);

// Writes the body to `file` (created or truncated); the body's size, or why
// there is none. A transfer that stalls for a minute is given up.
std::variant<std::uint64_t, FetchError> fetchToFile(const std::string& url, const std::filesystem::path& file,
                                                    const FetchConfig& config, std::uint64_t maxBytes);

}  // namespace tallowmark::update
