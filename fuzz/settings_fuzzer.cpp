// Feeds arbitrary bytes to the settings file reader and to the page's settings
// rules, and checks that what they produce survives a write and a re-read.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/json_helpers.hpp"
#include "settings/settings.hpp"
#include "settings/settings_rules.hpp"

namespace {

using namespace tallowmark;

// Whatever was decoded must come back unchanged from the text we would write;
// otherwise a save followed by a launch would alter the operator's settings.
// The one intended change: the earlier default cue types, which reading
// replaces by the current ones even when the page chose them again.
void checkRoundTrip(const Settings& settings) {
    const Json encoded = encodeSettings(settings);
    if (!allFinite(encoded)) return;
    auto reparsed = parseJson(dumpJson(encoded, 2));
    if (!reparsed) std::abort();
    auto decoded = decodeSettings(*reparsed);
    Settings expected = settings;
    std::vector<CueType> earlierDefaults = defaultCueTypes();
    earlierDefaults.front().color = "#d8391d";
    if (expected.cueTypes == earlierDefaults) expected.cueTypes = defaultCueTypes();
    if (!decoded || !(*decoded == expected)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto json = parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!json) return 0;

    auto decoded = decodeSettings(*json);
    if (decoded) checkRoundTrip(*decoded);

    const Settings base = decoded ? *decoded : Settings{};
    const Settings applied = applyPageSettings(base, *json);
    // The page may send the same dictionary twice; the second time changes nothing.
    if (!(applyPageSettings(applied, *json) == applied)) std::abort();
    checkRoundTrip(applied);
    (void)dumpJson(settingsDictionary(applied), -1);
    return 0;
}
