#pragma once

// What the fuzz targets of the file readers compare against: the reading of a
// parsed tree (decodeRecord), which has no bounds and refuses damaged text.
// The two must agree wherever the tree can be read, except where a key is
// repeated in one object: the tree keeps only the last value, while reading
// as parsed checks each value as it comes.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_helpers.hpp"

namespace tallowmark::fuzz {

// True when some object of the text holds a key twice (false for text that is
// not JSON).
inline bool hasRepeatedKeys(std::string_view text) {
    struct Keys {
        std::vector<std::set<std::string>> open;  // the keys of each open object
        bool repeated = false;
        bool null() { return true; }
        bool boolean(bool) { return true; }
        bool number_integer(Json::number_integer_t) { return true; }
        bool number_unsigned(Json::number_unsigned_t) { return true; }
        bool number_float(Json::number_float_t, const std::string&) { return true; }
        bool string(std::string&) { return true; }
        bool binary(Json::binary_t&) { return true; }
        bool start_object(std::size_t) {
            open.emplace_back();
            return true;
        }
        bool key(std::string& key) {
            repeated = repeated || !open.back().insert(key).second;
            return !repeated;
        }
        bool end_object() {
            open.pop_back();
            return true;
        }
        bool start_array(std::size_t) { return true; }
        bool end_array() { return true; }
        bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }
    } keys;
    if (scanJsonShape(text, {}, 256).tooDeep) return false;
    try {
        Json::sax_parse(text.data(), text.data() + text.size(), &keys);
    } catch (const std::exception&) {
        return false;
    }
    return keys.repeated;
}

}  // namespace tallowmark::fuzz
