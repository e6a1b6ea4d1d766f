// Feeds arbitrary bytes to the settings file reader and to the page's settings
// rules, and checks that what they produce survives a write and a re-read, and
// that the file reader agrees with the reading of the parsed tree
// (json_oracle.hpp).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/json_helpers.hpp"
#include "json_oracle.hpp"
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

// The file reader cuts a list past its bound unread; the tree reading checks
// every entry first, so only it refuses a bad entry there.
bool hasLongList(const Json& json) {
    if (!json.is_object()) return false;
    const std::pair<const char*, std::size_t> lists[] = {
        {"recentDocuments", maxRecentDocuments}, {"cueTypes", maxCueTypes}, {"midiMap", maxMidiBindings}};
    for (const auto& [key, max] : lists) {
        auto it = json.find(key);
        if (it != json.end() && it->is_array() && it->size() > max) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FileNotes notes;
    const auto read = decodeSettingsFile(text, notes);
    if (read) checkRoundTrip(*read);

    auto json = parseJson(text);
    if (!json) return 0;
    auto decoded = decodeSettings(*json);
    if (decoded) checkRoundTrip(*decoded);
    if (!fuzz::hasRepeatedKeys(text)) {
        if (decoded && (!read || !(*read == *decoded))) std::abort();
        if (!decoded && read && !hasLongList(*json)) std::abort();
    }

    const Settings base = decoded ? *decoded : Settings{};
    const Settings applied = applyPageSettings(base, *json);
    // The page may send the same dictionary twice; the second time changes nothing.
    if (!(applyPageSettings(applied, *json) == applied)) std::abort();
    checkRoundTrip(applied);
    (void)dumpJson(settingsDictionary(applied), -1);
    return 0;
}
