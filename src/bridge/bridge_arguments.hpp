#pragma once

// Reads a call's arguments by position. Nothing here fails: a missing or
// mistyped argument reads as none and the call takes its default.

#include <cstdint>
#include <optional>
#include <string>

#include "core/json_helpers.hpp"

namespace tallowmark {

// A list of numbers as the page receives it (rectangles, line fractions, aspects).
template <class Numbers>
Json numberList(const Numbers& values) {
    Json list = Json::array();
    for (double v : values) list.push_back(v);
    return list;
}

class BridgeArguments {
public:
    // A body that is not a list counts as an empty list.
    explicit BridgeArguments(const Json& body);

    std::size_t size() const { return list_.size(); }
    std::optional<std::string> string(std::size_t i) const;
    // A file path as the page got it from us: its exact bytes, also for a path
    // that is not UTF-8 and so travels in its escaped form.
    std::optional<std::string> path(std::size_t i) const;
    // Integers as they are; other numbers rounded half away from zero when
    // the result fits in 64 bits.
    std::optional<std::int64_t> integer(std::size_t i) const;
    std::optional<double> number(std::size_t i) const;
    std::optional<bool> boolean(std::size_t i) const;
    const Json* dict(std::size_t i) const;
    // Position 0 of any type; null for an empty list.
    const Json& first() const;

private:
    const Json* at(std::size_t i) const { return i < list_.size() ? &list_[i] : nullptr; }
    Json list_;
};

}  // namespace tallowmark
