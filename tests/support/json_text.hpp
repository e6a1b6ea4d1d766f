#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace tallowmark::testing {

// The files are written pretty with two spaces and sorted keys; a test states
// the expected content compactly and compares the bytes of this form. Parsed
// here straight with nlohmann, not through the code under test.
inline std::string prettyJson(const std::string& compact) {
    return nlohmann::json::parse(compact).dump(2, ' ', false);
}

}  // namespace tallowmark::testing
