#include "core/json_helpers.hpp"

#include <cmath>
#include <limits>

namespace tallowmark {

std::optional<Json> parseJson(std::string_view text, int maxDepth) {
    bool tooDeep = false;
    // The callback sees the depth of every value as it is parsed; stopping deep
    // input early keeps a hostile file from costing memory and time.
    Json::parser_callback_t limitDepth = [&](int depth, Json::parse_event_t, Json&) {
        if (depth > maxDepth) tooDeep = true;
        return !tooDeep;
    };
    Json value = Json::parse(text.begin(), text.end(), limitDepth, /*allow_exceptions=*/false);
    if (tooDeep || value.is_discarded()) return std::nullopt;
    return value;
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
