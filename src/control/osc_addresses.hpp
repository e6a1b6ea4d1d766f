#pragma once

// The OSC addresses the control hub answers, in the one form it matches them
// in. The OSC server uses the same test to drop everything else on its own
// thread, so a desk that sends all of its output here costs the main thread
// nothing. Pure functions; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowmark {

// Lower-cased, without a leading "/tallowmark", "/" when nothing is left.
std::string controlAddress(std::string_view address);

// The non-empty parts between slashes: "//cue//5/go" has "cue", "5", "go".
std::vector<std::string> addressSegments(std::string_view address);

// Optional sign and digits only, within 64 bits.
std::optional<std::int64_t> strictInteger(std::string_view text);

// Whether the hub acts on a message sent to `address` (any case, with or
// without the prefix).
bool isControlAddress(std::string_view address);

}  // namespace tallowmark
