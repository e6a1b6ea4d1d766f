#pragma once

// What the follower server reads itself, kept apart from the sockets so that
// the tests and the fuzzer reach it directly: where a request path leads, what
// a screen said, how much a frame costs on the wire, and the per-host budget of
// new connections.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tallowmark::follow {

// Longer request paths are refused before any routing.
constexpr std::size_t maxPathBytes = 512;
constexpr int minImageWidth = 64, maxImageWidth = 4096, maxImageIndex = 99999;

struct Route {
    enum class Kind {
        page,        // /f/TOKEN/
        socket,      // /f/TOKEN/ws
        image,       // /f/TOKEN/page/INDEX/WIDTH
        redirect,    // /f/TOKEN: to the same with a slash
        forbidden,   // under /f/ with a wrong or missing token
        badRequest,  // an image path with numbers that are not ours
        tooLong,     // a path over maxPathBytes
        notFound,
    };
    Kind kind = Kind::notFound;
    int index = 0, width = 0;  // image only
};

// `path` is the decoded request path, without the query.
Route routeFollowPath(std::string_view path, std::string_view token);

// A non-negative decimal of at most `maxDigits` plain ASCII digits, no sign, no
// space; -1 otherwise.
int parseDecimal(std::string_view text, int maxDigits);

enum class ScreenMessage { hello, ping, unknown };
// A screen's text frame: only {"type":"hello"} and {"type":"ping"} mean anything.
ScreenMessage parseScreenMessage(std::string_view text);

// Bytes an unmasked server frame of `payload` bytes takes on the wire.
std::uint64_t serverFrameBytes(std::uint64_t payload);

// New connections per host within a sliding window. Each host keeps at most
// `limit` times, and hosts idle for a whole window are dropped on the next
// call, so the table stays as small as the traffic of the last window.
class RateWindow {
public:
    RateWindow(int limit, std::int64_t windowMicroseconds) : limit_(limit), window_(windowMicroseconds) {}
    // Counts one attempt at `now` (monotonic microseconds); false when the host is over its budget.
    bool allow(const std::string& host, std::int64_t now);
    std::size_t hosts() const { return seen_.size(); }

private:
    void forgetIdle(std::int64_t now);
    int limit_;
    std::int64_t window_;
    std::int64_t sweptAt_ = 0;
    std::unordered_map<std::string, std::deque<std::int64_t>> seen_;
};

}  // namespace tallowmark::follow
