#include "follow/follow_protocol.hpp"

#include <algorithm>

#include "core/json_helpers.hpp"
#include "follow/follow_server.hpp"

namespace tallowmark {

bool FollowServer::tokenMatches(std::string_view given, std::string_view token) {
    if (token.empty() || given.size() != token.size()) return false;
    // Every byte is looked at whatever the earlier ones were: the time taken
    // tells a guesser nothing about how much of the token was right.
    unsigned char difference = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i]);
    return difference == 0;
}

namespace follow {

int parseDecimal(std::string_view text, int maxDigits) {
    if (text.empty() || text.size() > std::size_t(maxDigits)) return -1;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

Route routeFollowPath(std::string_view path, std::string_view token) {
    using Kind = Route::Kind;
    if (path.size() > maxPathBytes) return {Kind::tooLong};
    constexpr std::string_view prefix = "/f";
    if (path.substr(0, prefix.size()) != prefix) return {Kind::notFound};
    path.remove_prefix(prefix.size());
    if (path.empty()) return {Kind::forbidden};  // "/f": no token at all
    if (path.front() != '/') return {Kind::notFound};
    path.remove_prefix(1);

    const std::size_t slash = path.find('/');
    const std::string_view given = path.substr(0, slash);
    if (!FollowServer::tokenMatches(given, token)) return {Kind::forbidden};
    if (slash == std::string_view::npos) return {Kind::redirect};
    const std::string_view rest = path.substr(slash);

    if (rest == "/") return {Kind::page};
    if (rest == "/ws") return {Kind::socket};
    constexpr std::string_view images = "/page/";
    if (rest.substr(0, images.size()) != images) return {Kind::notFound};
    const std::string_view numbers = rest.substr(images.size());
    const std::size_t split = numbers.find('/');
    if (split == std::string_view::npos) return {Kind::badRequest};
    const int index = parseDecimal(numbers.substr(0, split), 5);
    const int width = parseDecimal(numbers.substr(split + 1), 4);
    if (index < 0 || index > maxImageIndex || width < minImageWidth || width > maxImageWidth)
        return {Kind::badRequest};
    return {Kind::image, index, width};
}

ScreenMessage parseScreenMessage(std::string_view text) {
    // A screen has nothing long to say; anything longer is not one of ours.
    if (text.size() > 4096) return ScreenMessage::unknown;
    const auto json = parseJson(text, 8);
    if (!json || !json->is_object()) return ScreenMessage::unknown;
    const auto type = json->find("type");
    if (type == json->end() || !type->is_string()) return ScreenMessage::unknown;
    const auto& name = type->get_ref<const std::string&>();
    if (name == "hello") return ScreenMessage::hello;
    if (name == "ping") return ScreenMessage::ping;
    return ScreenMessage::unknown;
}

std::uint64_t serverFrameBytes(std::uint64_t payload) {
    if (payload < 126) return payload + 2;
    if (payload < 65536) return payload + 4;
    return payload + 10;
}

bool RateWindow::allow(const std::string& host, std::int64_t now) {
    forgetIdle(now);
    std::deque<std::int64_t>& times = seen_[host];
    while (!times.empty() && times.front() <= now - window_) times.pop_front();
    if (times.size() >= std::size_t(std::max(limit_, 0))) return false;
    times.push_back(now);
    return true;
}

void RateWindow::forgetIdle(std::int64_t now) {
    if (now - sweptAt_ < window_) return;
    sweptAt_ = now;
    std::erase_if(seen_, [&](const auto& entry) { return entry.second.empty() || entry.second.back() <= now - window_; });
}

}  // namespace follow
}  // namespace tallowmark
