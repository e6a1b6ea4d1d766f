#include "update/update_rules.hpp"

#include <cstdlib>
#include <locale.h>
#include <system_error>

#include "core/atomic_file.hpp"

#ifndef TALLOWMARK_UPDATE_HOST
#define TALLOWMARK_UPDATE_HOST "tallowmark.org"
#endif

namespace tallowmark::update {

namespace {

namespace fs = std::filesystem;

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Unreserved, reserved and '%' of RFC 3986. Anything else (white space, a
// backslash, a non-ASCII letter) is refused outright rather than guessed at,
// so no two URL readers can disagree about which host a text names.
bool isURLCharacter(char c) {
    if (isAlpha(c) || isDigit(c)) return true;
    switch (c) {
    case '-': case '.': case '_': case '~': case ':': case '/': case '?': case '#': case '[': case ']':
    case '@': case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',':
    case ';': case '=': case '%':
        return true;
    default: return false;
    }
}

std::string lowerASCII(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

std::optional<std::string> stringField(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

}  // namespace

const std::string& defaultUpdateHost() {
    static const std::string host = lowerASCII(TALLOWMARK_UPDATE_HOST);
    return host;
}

std::string feedURLFor(const std::string& host) { return "https://" + host + "/updates/tallowmark.json"; }

std::optional<URLParts> parseURL(std::string_view url) {
    for (char c : url) {
        if (!isURLCharacter(c)) return std::nullopt;
    }
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(url[0])) return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = url[i];
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    URLParts parts;
    parts.scheme = std::string(url.substr(0, colon));
    std::string_view rest = url.substr(colon + 1);
    if (rest.substr(0, 2) != "//") return parts;
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    // Whatever precedes the '@' is user information, never the host. A second
    // '@' is not allowed there, and URL readers disagree on which one ends it.
    if (auto at = authority.find('@'); at != std::string_view::npos) {
        if (authority.find('@', at + 1) != std::string_view::npos) return std::nullopt;
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        parts.host = std::string(authority.substr(0, close + 1));
        authority.remove_prefix(close + 1);
    } else {
        const auto portColon = authority.find(':');
        parts.host = std::string(authority.substr(0, portColon));
        authority = portColon == std::string_view::npos ? std::string_view{} : authority.substr(portColon);
    }
    if (!authority.empty()) {
        if (authority.front() != ':') return std::nullopt;
        for (char c : authority.substr(1)) {
            if (!isDigit(c)) return std::nullopt;
        }
    }
    return parts;
}

bool isAllowedDownloadURL(std::string_view url, const std::set<std::string>& allowedHosts) {
    const auto parts = parseURL(url);
    if (!parts || lowerASCII(parts->scheme) != "https") return false;
    return allowedHosts.count(lowerASCII(parts->host)) > 0;
}

bool isAllowedDownloadURL(std::string_view url) { return isAllowedDownloadURL(url, {defaultUpdateHost()}); }

std::optional<long> buildDay(std::string_view stamp) {
    // An optional sign and then only digits, as a plain integer reader takes them.
    std::string_view day = stamp.substr(0, 8);
    bool negative = false;
    if (!day.empty() && (day.front() == '+' || day.front() == '-')) {
        negative = day.front() == '-';
        day.remove_prefix(1);
    }
    if (day.empty()) return std::nullopt;
    long value = 0;
    for (char c : day) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

bool isNewer(std::string_view remote, std::optional<double> remoteBuildTime, std::string_view local,
             std::optional<double> localBuildTime) {
    const auto remoteDay = buildDay(remote);
    if (!remoteDay) return false;
    const auto localDay = buildDay(local);
    if (!localDay) return false;
    if (*remoteDay != *localDay) return *remoteDay > *localDay;
    if (remote == local) return false;
    // Same day: without both times the package itself must prove it is newer.
    if (!remoteBuildTime || !localBuildTime) return true;
    return *remoteBuildTime > *localBuildTime;
}

std::optional<double> buildTimeValue(const Json& value) {
    if (value.is_number()) return value.get<double>();
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.empty()) return std::nullopt;
    const char first = text.front();
    if (first == ' ' || first == '\t' || first == '\n' || first == '\v' || first == '\f' || first == '\r') {
        return std::nullopt;
    }
    char* end = nullptr;
    const double parsed = strtod_l(text.c_str(), &end, cLocale());
    if (end != text.c_str() + text.size()) return std::nullopt;
    return parsed;
}

std::optional<double> buildTimeFrom(const Json* info) {
    if (!info || !info->is_object()) return std::nullopt;
    auto it = info->find("HFXBuildTime");
    if (it == info->end()) return std::nullopt;
    return buildTimeValue(*it);
}

std::optional<double> manifestBuildTime(const Json* feed) {
    if (!feed || !feed->is_object()) return std::nullopt;
    for (const char* key : {"buildTime", "HFXBuildTime"}) {
        auto it = feed->find(key);
        if (it == feed->end()) continue;
        if (auto value = buildTimeValue(*it)) return value;
    }
    return std::nullopt;
}

std::optional<UpdateInfo> parseFeed(std::string_view bytes, std::string_view localStamp,
                                    std::optional<double> localBuildTime, const std::set<std::string>& allowedHosts) {
    if (bytes.empty() || bytes.size() > maxFeedBytes) return std::nullopt;
    const Json feed = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (feed.is_discarded() || !feed.is_object()) return std::nullopt;
    auto stamp = stringField(feed, "stamp");
    auto zip = stringField(feed, "zip");
    if (!stamp || !zip || !parseURL(*zip)) return std::nullopt;
    if (!isAllowedDownloadURL(*zip, allowedHosts)) return std::nullopt;
    if (!isNewer(*stamp, manifestBuildTime(&feed), localStamp, localBuildTime)) return std::nullopt;
    return UpdateInfo{std::move(*stamp), std::move(*zip)};
}

std::optional<Json> readBundleInfo(const fs::path& bundle) {
    // A real Info.json is a few hundred bytes; a bound keeps a hostile one small.
    constexpr std::size_t maxInfoBytes = 1 << 20;
    const ReadResult file = readWholeFile(bundle / "Contents" / "Info.json", maxInfoBytes);
    if (file.status != ReadStatus::ok) return std::nullopt;
    Json info = Json::parse(file.bytes, nullptr, false);
    if (info.is_discarded() || !info.is_object()) return std::nullopt;
    return info;
}

std::optional<std::string> verifyPackageVersion(const fs::path& bundle, std::string_view advertisedStamp,
                                                std::string_view installedStamp,
                                                std::optional<double> installedBuildTime,
                                                std::string_view installedIdentifier) {
    const auto info = readBundleInfo(bundle);
    if (!info) return "Update rejected: package has no readable Info.plist";
    const std::string_view expected = installedIdentifier.empty() ? fallbackIdentifier : installedIdentifier;
    const auto identifier = stringField(*info, "CFBundleIdentifier");
    if (!identifier || *identifier != expected) return "Update rejected: package is a different app";
    const auto stamp = stringField(*info, "CFBundleVersion");
    if (!stamp || *stamp != advertisedStamp) {
        return "Update rejected: package version does not match the advertised version";
    }
    const auto packageDay = buildDay(*stamp);
    const auto installedDay = buildDay(installedStamp);
    if (!packageDay || !installedDay) return "Update rejected: unreadable version stamp";
    if (*packageDay > *installedDay) return std::nullopt;
    if (*packageDay < *installedDay || *stamp == installedStamp) {
        return "Update rejected: package is not newer than the installed version";
    }
    const auto packageTime = buildTimeFrom(&*info);
    if (!packageTime) return "Update rejected: same-day package has no build time";
    if (!installedBuildTime || *installedBuildTime < *packageTime) return std::nullopt;
    return "Update rejected: package is not newer than the installed version";
}

}  // namespace tallowmark::update
