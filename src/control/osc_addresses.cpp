#include "control/osc_addresses.hpp"

#include <glib.h>

#include <algorithm>
#include <array>
#include <charconv>

namespace tallowmark {

std::string controlAddress(std::string_view address) {
    gchar* lower = g_utf8_strdown(address.data(), static_cast<gssize>(address.size()));
    std::string text(lower);
    g_free(lower);
    constexpr std::string_view prefix = "/tallowmark";
    if (text.starts_with(prefix)) text.erase(0, prefix.size());
    if (text.empty()) text = "/";
    return text;
}

std::vector<std::string> addressSegments(std::string_view address) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= address.size()) {
        const std::size_t slash = std::min(address.find('/', start), address.size());
        if (slash > start) parts.emplace_back(address.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

std::optional<std::int64_t> strictInteger(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t value = 0;
    const std::string signedDigits = (negative ? "-" : "") + std::string(digits);
    auto [end, error] = std::from_chars(signedDigits.data(), signedDigits.data() + signedDigits.size(), value);
    if (error != std::errc() || end != signedDigits.data() + signedDigits.size()) return std::nullopt;
    return value;
}

bool isControlAddress(std::string_view raw) {
    static constexpr std::array<std::string_view, 14> fixed = {
        "/",      "/go",   "/back", "/prev",      "/previous", "/reset",          "/standby",
        "/cue",   "/page", "/dim",  "/page/next", "/page/prev", "/page/previous", "/state",
    };
    const std::string address = controlAddress(raw);
    if (std::ranges::find(fixed, address) != fixed.end()) return true;
    const std::vector<std::string> parts = addressSegments(address);
    if (parts.size() == 2 && parts[0] == "page") return strictInteger(parts[1]).has_value();
    return parts.size() == 3 && parts[0] == "cue" && parts[2] == "go";
}

}  // namespace tallowmark
