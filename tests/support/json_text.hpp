#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace tallowmark::testing {

// A compact text in the files' form (two spaces, sorted keys), through nlohmann, not the code under test.
inline std::string prettyJson(const std::string& compact) {
    return nlohmann::json::parse(compact).dump(2, ' ', false);
}

}  // namespace tallowmark::testing
