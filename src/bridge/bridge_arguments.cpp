#include "bridge/bridge_arguments.hpp"

#include <cmath>

namespace tallowmark {

namespace {
const Json nullValue(nullptr);
}

BridgeArguments::BridgeArguments(const Json& body) : list_(body.is_array() ? body : Json::array()) {}

std::optional<std::string> BridgeArguments::string(std::size_t i) const {
    const Json* v = at(i);
    if (!v || !v->is_string()) return std::nullopt;
    return v->get<std::string>();
}

std::optional<std::string> BridgeArguments::path(std::size_t i) const {
    const Json* v = at(i);
    std::string bytes;
    if (!v || !readPath(*v, bytes)) return std::nullopt;
    return bytes;
}

std::optional<std::int64_t> BridgeArguments::integer(std::size_t i) const {
    const Json* v = at(i);
    if (!v) return std::nullopt;
    if (v->is_number_integer()) {
        std::int64_t out = 0;
        if (readValue(*v, out)) return out;
        return std::nullopt;
    }
    if (!v->is_number_float()) return std::nullopt;
    const double rounded = std::round(v->get<double>());
    // 2^63 itself is out of range; NaN fails both comparisons.
    if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

std::optional<double> BridgeArguments::number(std::size_t i) const {
    const Json* v = at(i);
    if (!v || !v->is_number()) return std::nullopt;
    const double d = v->get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<bool> BridgeArguments::boolean(std::size_t i) const {
    const Json* v = at(i);
    if (!v || !v->is_boolean()) return std::nullopt;
    return v->get<bool>();
}

const Json* BridgeArguments::dict(std::size_t i) const {
    const Json* v = at(i);
    return v && v->is_object() ? v : nullptr;
}

const Json& BridgeArguments::first() const { return list_.empty() ? nullValue : list_[0]; }

}  // namespace tallowmark
