#pragma once

#include <string>

namespace tallowmark {

// A fresh random UUID in canonical upper-case text form (8-4-4-4-12 hex digits).
std::string makeUUID();

}  // namespace tallowmark
