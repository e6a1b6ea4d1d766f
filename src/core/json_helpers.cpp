#include "core/json_helpers.hpp"

#include <glib.h>

#include <cmath>
#include <limits>

namespace tallowmark {

namespace {

// True when arrays and objects nest at most `maxDepth` deep. Brackets inside
// strings do not count. For well-formed JSON the count is exact; anything else
// the parser refuses anyway, whatever this scan said.
bool nestingWithin(std::string_view text, int maxDepth) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;  // the escaped character, a quote included
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"': inString = true; break;
            case '{':
            case '[':
                if (++depth > maxDepth) return false;
                break;
            case '}':
            case ']':
                if (depth > 0) --depth;
                break;
            default: break;
        }
    }
    return true;
}

}  // namespace

std::optional<Json> parseJson(std::string_view text, int maxDepth) {
    // The depth is checked in one pass over the bytes before the plain parse: a
    // parser callback would do the same but makes nlohmann rescan the parent
    // container after every value, which is quadratic in the number of values.
    if (!nestingWithin(text, maxDepth)) return std::nullopt;
    try {
        Json value = Json::parse(text.data(), text.data() + text.size(), nullptr, /*allow_exceptions=*/false);
        if (value.is_discarded()) return std::nullopt;
        return value;
    } catch (const std::exception&) {
        // Only memory exhaustion is left to throw here; a file is refused, not fatal.
        return std::nullopt;
    }
}

std::string dumpJson(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

bool allFinite(const Json& value) {
    switch (value.type()) {
        case Json::value_t::number_float:
            return std::isfinite(value.get<double>());
        case Json::value_t::array:
        case Json::value_t::object:
            for (const Json& element : value) {
                if (!allFinite(element)) return false;
            }
            return true;
        default:
            return true;
    }
}

bool readValue(const Json& value, bool& out) {
    if (!value.is_boolean()) return false;
    out = value.get<bool>();
    return true;
}

bool readValue(const Json& value, std::int64_t& out) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        out = value.get<std::int64_t>();
        return true;
    }
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
        out = static_cast<std::int64_t>(u);
        return true;
    }
    if (value.is_number_float()) {
        // 1e3 is a whole number written as a real; 1.5 is not an integer.
        const double d = value.get<double>();
        constexpr double limit = 9223372036854775808.0;  // 2^63
        if (!std::isfinite(d) || d != std::trunc(d) || d < -limit || d >= limit) return false;
        out = static_cast<std::int64_t>(d);
        return true;
    }
    return false;
}

bool readValue(const Json& value, double& out) {
    if (!value.is_number()) return false;
    const double d = value.get<double>();
    // A literal such as 1e999 parses as infinity, which could never be written back.
    if (!std::isfinite(d)) return false;
    out = d;
    return true;
}

bool readValue(const Json& value, std::string& out) {
    if (!value.is_string()) return false;
    out = value.get<std::string>();
    return true;
}

bool readValue(const Json& value, std::map<std::string, std::string>& out) {
    if (!value.is_object()) return false;
    std::map<std::string, std::string> entries;
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (!it.value().is_string()) return false;
        entries.emplace(it.key(), it.value().get<std::string>());
    }
    out = std::move(entries);
    return true;
}

}  // namespace tallowmark

namespace tallowmark {

namespace {

constexpr char escapedPathMark = '\0';

// Length of the valid UTF-8 character at the start of `text`; 0 when its first
// byte does not begin one. GLib refuses the same sequences as nlohmann's
// writer: overlong forms, surrogates, values past U+10FFFF.
std::size_t validCharLength(std::string_view text) {
    if (text.front() == '\0') return 1;  // GLib treats NUL as an end; JSON writes it as \u0000
    const gunichar c = g_utf8_get_char_validated(text.data(), static_cast<gssize>(text.size()));
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) return 0;
    return static_cast<std::size_t>(g_unichar_to_utf8(c, nullptr));
}

}  // namespace

Json pathToJson(std::string_view bytes) {
    bool plain = bytes.empty() || bytes.front() != escapedPathMark;
    for (std::size_t at = 0; plain && at < bytes.size();) {
        const std::size_t length = validCharLength(bytes.substr(at));
        if (length == 0) plain = false;
        at += length;
    }
    if (plain) return std::string(bytes);

    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text(1, escapedPathMark);
    text.reserve(bytes.size() + 16);
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = validCharLength(bytes.substr(at));
        if (length == 0 || bytes[at] == '%') {
            const auto byte = static_cast<unsigned char>(bytes[at]);
            text += '%';
            text += hex[byte >> 4];
            text += hex[byte & 0xF];
            ++at;
        } else {
            text.append(bytes.substr(at, length));
            at += length;
        }
    }
    return text;
}

bool readPath(const Json& value, std::string& out) {
    if (!value.is_string()) return false;
    const auto& text = value.get_ref<const std::string&>();
    if (text.empty() || text.front() != escapedPathMark) {
        out = text;
        return true;
    }
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t at = 1; at < text.size(); ++at) {
        if (text[at] != '%') {
            bytes += text[at];
            continue;
        }
        if (text.size() - at < 3) return false;
        const int high = g_ascii_xdigit_value(text[at + 1]);
        const int low = g_ascii_xdigit_value(text[at + 2]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
        at += 2;
    }
    out = std::move(bytes);
    return true;
}

Json pathListToJson(const std::vector<std::string>& paths) {
    Json list = Json::array();
    for (const std::string& path : paths) list.push_back(pathToJson(path));
    return list;
}

bool readPathList(const Json& value, std::vector<std::string>& out) {
    if (!value.is_array()) return false;
    std::vector<std::string> paths(value.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!readPath(value[i], paths[i])) return false;
    }
    out = std::move(paths);
    return true;
}

}  // namespace tallowmark
