#pragma once

// The page's side of the settings: the dictionary it is shown and the rules
// that apply when it sends changes back. Pure functions; saving and the side
// effects of a change (OSC restart, re-reading the document) are the caller's,
// found by comparing the settings before and after.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/json_helpers.hpp"
#include "settings/settings.hpp"

namespace tallowmark {

// The longest GO guard the page may set, in milliseconds.
inline constexpr std::int64_t maxGoGuardMs = 2000;

// A numeric IPv4 or IPv6 address as the OSC server writes senders' hosts
// (an IPv4-mapped IPv6 address as IPv4); none for a name or anything else.
std::optional<std::string> numericHost(std::string_view text);

// Applies a partial settings dictionary from the page. Keys that are missing,
// unknown or of another type leave their setting unchanged; ranges are
// enforced here and not when the file is read. Never fails: anything but an
// object gives back `current`. Besides the settings' own keys it takes
// "readingSize" ({"path", "pages", "zoom"}): the shown script's reading size,
// put at the front of `readingSizes`; the list itself is not the page's to set.
Settings applyPageSettings(const Settings& current, const Json& dict);

// Every setting but `glowTargetChosen`, under its field name; a binding's
// "channel" is -1 when it listens on any channel.
Json settingsDictionary(const Settings& settings);

}  // namespace tallowmark
