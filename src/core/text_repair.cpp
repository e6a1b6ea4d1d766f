#include "core/text_repair.hpp"

#include <glib.h>

#include <algorithm>

namespace tallowmark {

namespace {

// The value of the four hexadecimal digits at `at`; none when they are not.
std::optional<unsigned> hex4(std::string_view text, std::size_t at) {
    if (text.size() - at < 4) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const int digit = g_ascii_xdigit_value(text[i]);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<unsigned>(digit);
    }
    return value;
}

bool isHigh(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLow(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The escaped UTF-16 unit at `at` ("\uXXXX"), if there is one.
std::optional<unsigned> escapedUnit(std::string_view text, std::size_t at) {
    if (text.size() - at < 2 || text[at] != '\\' || text[at + 1] != 'u') return std::nullopt;
    return hex4(text, at + 2);
}

// Where the next lone surrogate escape starts at or after `from`; npos when
// there is none. A backslash only appears inside JSON strings, where it
// always starts an escape, so no tracking of quotes is needed: text outside
// strings with a backslash in it is refused by the parser either way.
std::size_t nextLoneSurrogate(std::string_view text, std::size_t from) {
    for (std::size_t at = text.find('\\', from); at != std::string_view::npos; at = text.find('\\', at)) {
        const std::optional<unsigned> unit = escapedUnit(text, at);
        if (!unit) {
            at += 2;  // any other escape, "\\" included, is two characters
            continue;
        }
        if (isLow(*unit)) return at;
        if (!isHigh(*unit)) {
            at += 6;
            continue;
        }
        const std::optional<unsigned> next = escapedUnit(text, at + 6);
        if (!next || !isLow(*next)) return at;
        at += 12;
    }
    return std::string_view::npos;
}

// Where the first byte that does not belong to valid UTF-8 is; npos when
// there is none. A NUL is valid here, though GLib's validation stops at it.
std::size_t firstInvalid(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        const gchar* end = nullptr;
        if (g_utf8_validate_len(text.data() + at, text.size() - at, &end)) return std::string_view::npos;
        at = static_cast<std::size_t>(end - text.data());
        if (text[at] != '\0') return at;
    }
    return std::string_view::npos;
}

}  // namespace

bool repairUtf8(std::string& text) {
    std::size_t at = firstInvalid(text);
    if (at == std::string::npos) return false;
    std::string repaired = text.substr(0, at);
    // GLib would replace a NUL too: each stretch between NULs is made valid on its own.
    while (at <= text.size()) {
        const std::size_t nul = std::min(text.find('\0', at), text.size());
        gchar* valid = g_utf8_make_valid(text.data() + at, static_cast<gssize>(nul - at));
        repaired += valid;
        g_free(valid);
        if (nul < text.size()) repaired += '\0';
        at = nul + 1;
    }
    text = std::move(repaired);
    return true;
}

bool repairSurrogateEscapes(std::string& json) {
    bool repaired = false;
    for (std::size_t at = nextLoneSurrogate(json, 0); at != std::string::npos; at = nextLoneSurrogate(json, at + 6)) {
        json.replace(at + 2, 4, "FFFD");
        repaired = true;
    }
    return repaired;
}

std::optional<std::string> repairedJsonText(std::string_view text) {
    const bool validUtf8 = firstInvalid(text) == std::string_view::npos;
    if (validUtf8 && nextLoneSurrogate(text, 0) == std::string_view::npos) return std::nullopt;
    std::string copy(text);
    repairUtf8(copy);
    repairSurrogateEscapes(copy);
    return copy;
}

}  // namespace tallowmark
