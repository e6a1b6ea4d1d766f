// Feeds arbitrary bytes to what the follower server reads itself: the request
// path (token, route, image numbers) and a screen's message. Whatever the
// bytes, only a path with the whole token gets past the token, and image
// numbers never leave their range.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/json_helpers.hpp"
#include "follow/follow_protocol.hpp"

using namespace tallowmark;
using namespace tallowmark::follow;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static const std::string token = "0123456789abcdef0123456789abcdef";
    const std::string withToken = "/f/" + token;

    // The bytes as a whole path, and as what follows the right token.
    for (const std::string& path : {std::string(bytes), withToken + std::string(bytes)}) {
        const Route route = routeFollowPath(path, token);
        switch (route.kind) {
        case Route::Kind::page:
        case Route::Kind::socket:
        case Route::Kind::image:
        case Route::Kind::redirect:
        case Route::Kind::badRequest:
            if (path.compare(0, withToken.size(), withToken) != 0) std::abort();
            if (path.size() > withToken.size() && path[withToken.size()] != '/') std::abort();
            break;
        case Route::Kind::tooLong:
            if (path.size() <= maxPathBytes) std::abort();
            break;
        default: break;
        }
        if (route.kind == Route::Kind::image &&
            (route.index < 0 || route.index > maxImageIndex || route.width < minImageWidth || route.width > maxImageWidth))
            std::abort();
    }

    const int value = parseDecimal(bytes, 5);
    if (value < -1 || value > 99999) std::abort();
    if (value >= 0 && (bytes.empty() || bytes.find_first_not_of("0123456789") != std::string_view::npos)) std::abort();

    const ScreenMessage said = parseScreenMessage(bytes);
    if (said != ScreenMessage::unknown) {
        const auto json = parseJson(bytes);
        if (!json || !json->is_object()) std::abort();
        if ((*json)["type"] != (said == ScreenMessage::ping ? "ping" : "hello")) std::abort();
    }
    return 0;
}
