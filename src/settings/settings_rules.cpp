#include "settings/settings_rules.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>

#include "core/unicode_text.hpp"

namespace tallowmark {

std::optional<std::string> numericHost(std::string_view text) {
    const std::string trimmed = trimText(std::string(text), isSpaceOrLineBreak);
    if (trimmed.empty() || trimmed.size() > INET6_ADDRSTRLEN) return std::nullopt;
    unsigned char bytes[sizeof(in6_addr)];
    char written[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, trimmed.c_str(), bytes) == 1) return inet_ntop(AF_INET, bytes, written, sizeof written);
    if (inet_pton(AF_INET6, trimmed.c_str(), bytes) != 1) return std::nullopt;
    in6_addr v6;
    std::memcpy(&v6, bytes, sizeof v6);
    if (IN6_IS_ADDR_V4MAPPED(&v6)) return inet_ntop(AF_INET, bytes + 12, written, sizeof written);
    return inet_ntop(AF_INET6, bytes, written, sizeof written);
}

namespace {

constexpr std::size_t maxCueTypeNameLength = 12;
constexpr const char* fallbackCueTypeColor = "#d8391d";

// Settings the page may not set (the store keeps them) and those whose value
// passes a rule in applyPageSettings; the page's value of any other is taken.
constexpr std::string_view notTakenAsSent[] = {
    "recentDocuments", "glowTargetChosen", "renderWidth", "theme",    "themeName",
    "pagesPerSpread",  "glowTarget",       "cueLabelFontPx", "cueTypes", "midiMap",
    "readingSizes",    "goGuardMs",        "oscGoUnknownNumber", "oscDeskHosts",
    "lockedScripts",   "oscFeedback",      "intervalMinutes", "followSharing", "followPort", "followToken",
    "ocrLanguages",
};

// At most this many languages are read together: each one slows every page.
constexpr std::size_t maxOcrLanguages = 16;

// "" or up to maxOcrLanguages different names of letters, digits, '_' and
// '-' joined by '+': nothing else may name a file in the language folder.
bool ocrLanguageList(const std::string& list) {
    if (list.empty()) return true;
    std::vector<std::string> names;
    for (std::size_t start = 0;;) {
        const std::size_t plus = list.find('+', start);
        std::string name = list.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        const bool allowed = !name.empty() && name.size() <= 64 && std::ranges::all_of(name, [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        });
        if (!allowed || std::ranges::find(names, name) != names.end()) return false;
        names.push_back(std::move(name));
        if (plus == std::string::npos) return names.size() <= maxOcrLanguages;
        start = plus + 1;
    }
}

// Longer than any path the system can open; a longer text is not a script's.
constexpr std::size_t maxReadingSizePathBytes = 4096;

// The value of `key` when present with the wanted type; a JSON null counts as
// absent, as does a number outside the type (a fraction for an integer).
template <class T>
std::optional<T> take(const Json& dict, const char* key) {
    auto it = dict.find(key);
    if (it == dict.end()) return std::nullopt;
    T value{};
    if (!readValue(*it, value)) return std::nullopt;
    return value;
}

// The trimmed name when it is 1 to 12 characters long, counted as the operator
// sees them: an accent typed as a combining mark or a flag is one character.
std::optional<std::string> cueTypeName(const std::string& raw) {
    std::string name = trimText(raw, isSpaceOrLineBreak);
    const auto length = graphemeCount(name);
    if (!length || *length < 1 || *length > maxCueTypeNameLength) return std::nullopt;
    return name;
}

bool isHexColor(const std::string& text) {
    return text.size() == 7 && text[0] == '#' &&
           std::all_of(text.begin() + 1, text.end(), [](char c) { return g_ascii_isxdigit(c); });
}

std::optional<std::vector<CueType>> pageCueTypes(const Json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<CueType> types;
    const std::size_t considered = std::min(value.size(), maxCueTypes);
    for (std::size_t i = 0; i < considered; ++i) {
        const Json& entry = value[i];
        if (!entry.is_object()) continue;
        auto rawName = take<std::string>(entry, "name");
        if (!rawName) continue;
        auto name = cueTypeName(*rawName);
        if (!name) continue;
        auto color = take<std::string>(entry, "color");
        types.push_back({std::move(*name), color && isHexColor(*color) ? *color : fallbackCueTypeColor});
    }
    // An empty result would leave the operator without any cue type to choose.
    if (types.empty()) return std::nullopt;
    return types;
}

std::optional<std::vector<MIDIBinding>> pageMidiMap(const Json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<MIDIBinding> map;
    for (const Json& entry : value) {
        // No more than the settings file keeps, so a save and a launch change nothing.
        if (map.size() == maxMidiBindings) break;
        if (!entry.is_object()) continue;
        auto note = take<std::int64_t>(entry, "note");
        auto action = take<std::string>(entry, "action");
        if (!note || !action) continue;
        auto channel = take<std::int64_t>(entry, "channel");
        if (channel && *channel < 0) channel.reset();  // the page's -1: any channel
        map.push_back({*note, std::move(*action), channel});
    }
    return map;
}

// Each entry trimmed and read as a numeric IPv4 or IPv6 address, written the
// way the OSC server names senders (an IPv4 address inside IPv6 as IPv4), so a
// desk is recognised whatever form it was typed in. Names and garbage are
// left out; so are repeats.
std::vector<std::string> pageDeskHosts(const Json& value) {
    std::vector<std::string> hosts;
    if (!value.is_array()) return hosts;
    for (const Json& entry : value) {
        if (hosts.size() == maxOscDeskHosts) break;
        if (!entry.is_string()) continue;
        if (auto host = numericHost(entry.get<std::string>()); host && std::ranges::find(hosts, *host) == hosts.end())
            hosts.push_back(std::move(*host));
    }
    return hosts;
}

// Each {"host", "port"} with a numeric host (or "localhost") and a UDP port,
// written as the desk hosts are; repeats and anything else are left out.
std::vector<FeedbackDestination> pageFeedback(const Json& value) {
    std::vector<FeedbackDestination> out;
    for (const Json& entry : value) {
        if (out.size() == maxFeedbackDestinations) break;
        if (!entry.is_object()) continue;
        auto host = take<std::string>(entry, "host");
        auto port = take<std::int64_t>(entry, "port");
        if (!host || !port || *port < 1 || *port > 65535) continue;
        const std::string trimmed = trimText(*host, isSpaceOrLineBreak);
        std::optional<std::string> numeric = trimmed == "localhost" ? std::optional(trimmed) : numericHost(trimmed);
        if (!numeric) continue;
        FeedbackDestination d{std::move(*numeric), *port};
        if (std::ranges::find(out, d) == out.end()) out.push_back(std::move(d));
    }
    return out;
}

// The page tells the size of the script it shows as {"path", "pages", "zoom"};
// the pages follow the rule of pagesPerSpread and the zoom is brought within
// the page's own steps.
std::optional<ReadingSize> pageReadingSize(const Json& value) {
    if (!value.is_object()) return std::nullopt;
    ReadingSize size;
    if (!readFields(value, size) || size.path.empty() || size.path.size() > maxReadingSizePathBytes)
        return std::nullopt;
    if (!std::isfinite(size.zoom)) return std::nullopt;
    size.pages = size.pages == 1 ? 1 : 2;
    size.zoom = std::clamp(size.zoom, minReadingZoom, maxReadingZoom);
    return size;
}

}  // namespace

Settings applyPageSettings(const Settings& current, const Json& dict) {
    Settings s = current;
    if (!dict.is_object()) return s;

    // Every listed setting the page sends is taken as it is, but those the page
    // may not set and those that pass a rule below.
    forEachField<Settings>([&](const auto& field) {
        if (std::ranges::find(notTakenAsSent, std::string_view(field.key)) != std::end(notTakenAsSent)) return;
        auto it = dict.find(field.key);
        if (it == dict.end()) return;
        auto value = s.*field.member;
        if (decltype(field.form)::read(*it, value)) s.*field.member = std::move(value);
    });

    // The rules are independent of each other but for glowTarget.
    if (auto v = take<std::int64_t>(dict, "renderWidth")) s.renderWidth = std::clamp<std::int64_t>(*v, 600, 3000);
    if (auto v = take<double>(dict, "theme")) s.theme = std::clamp(*v, 0.0, 1.0);
    if (auto v = take<std::string>(dict, "themeName")) {
        if (*v == "deep" || *v == "dark" || *v == "light") s.themeName = *v;
    }
    if (auto v = take<std::int64_t>(dict, "pagesPerSpread")) s.pagesPerSpread = *v == 1 ? 1 : 2;
    if (auto v = take<std::string>(dict, "glowTarget")) {
        s.glowTarget = *v;
        s.glowTargetChosen = true;
    }
    if (auto v = take<std::int64_t>(dict, "cueLabelFontPx")) s.cueLabelFontPx = std::clamp<std::int64_t>(*v, 10, 32);
    if (auto it = dict.find("cueTypes"); it != dict.end()) {
        if (auto types = pageCueTypes(*it)) s.cueTypes = std::move(*types);
    }
    if (auto it = dict.find("midiMap"); it != dict.end()) {
        if (auto map = pageMidiMap(*it)) s.midiMap = std::move(*map);
    }
    if (auto v = take<std::int64_t>(dict, "goGuardMs")) s.goGuardMs = std::clamp<std::int64_t>(*v, 0, maxGoGuardMs);
    if (auto v = take<std::int64_t>(dict, "intervalMinutes")) s.intervalMinutes = std::clamp<std::int64_t>(*v, 1, 120);
    // Below 1024 needs privileges the program does not have.
    if (auto v = take<std::int64_t>(dict, "followPort")) s.followPort = std::clamp<std::int64_t>(*v, 1024, 65535);
    if (auto v = take<std::string>(dict, "oscGoUnknownNumber")) {
        if (*v == "go" || *v == "ignore") s.oscGoUnknownNumber = *v;
    }
    if (auto it = dict.find("oscDeskHosts"); it != dict.end() && it->is_array()) s.oscDeskHosts = pageDeskHosts(*it);
    if (auto it = dict.find("oscFeedback"); it != dict.end() && it->is_array()) s.oscFeedback = pageFeedback(*it);
    if (auto v = take<std::string>(dict, "ocrLanguages")) {
        if (ocrLanguageList(*v)) s.ocrLanguages = *v;
    }
    if (auto it = dict.find("readingSize"); it != dict.end()) {
        if (auto size = pageReadingSize(*it)) noteReadingSize(s.readingSizes, std::move(*size));
    }
    return s;
}

Json settingsDictionary(const Settings& s) {
    // The file's form, less the flag the page never sees, with "any channel"
    // spelled -1 so every binding has the same shape for the page.
    Json dict = encodeSettings(s);
    dict.erase("glowTargetChosen");
    // The open script's lock travels with the script, not with the settings.
    dict.erase("lockedScripts");
    dict.erase("followToken");  // the sheet shows the addresses, never the bare secret
    for (Json& binding : dict["midiMap"]) {
        if (!binding.contains("channel")) binding["channel"] = -1;
    }
    return dict;
}

}  // namespace tallowmark
