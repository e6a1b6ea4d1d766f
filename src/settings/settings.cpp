#include "settings/settings.hpp"

namespace tallowmark {

namespace {

// Versions before the current palette shipped with a red CUE type. A file that
// still holds that untouched list gets the new defaults; an edited list is the
// operator's and stays.
std::vector<CueType> earlierDefaultCueTypes() {
    std::vector<CueType> types = defaultCueTypes();
    types.front().color = "#d8391d";
    return types;
}

}  // namespace

std::vector<CueType> defaultCueTypes() {
    return {
        {"CUE", "#57b46a"}, {"SFX", "#4a63de"}, {"LFX", "#e8c04a"},
        {"VFX", "#57b46a"}, {"INFO", "#cfd3dc"},
    };
}

std::vector<MIDIBinding> defaultMidiMap() {
    return {
        {36, "go", std::nullopt},
        {37, "back", std::nullopt},
        {38, "pagePrev", std::nullopt},
        {39, "pageNext", std::nullopt},
    };
}

bool readValue(const Json& value, CueType& out) { return readFields(value, out); }

bool readValue(const Json& value, MIDIBinding& out) {
    // A binding read over an older one must not keep its channel.
    MIDIBinding read = out;
    read.channel.reset();
    if (!readFields(value, read)) return false;
    out = std::move(read);
    return true;
}

Json toJson(const CueType& type) { return fieldsToJson(type); }
Json toJson(const MIDIBinding& binding) { return fieldsToJson(binding); }

std::optional<Settings> decodeSettings(const Json& value) {
    Settings s;
    if (!readFields(value, s)) return std::nullopt;

    // Files from before named themes only held the level; keep what the
    // operator saw.
    if (!FieldReader(value).present("themeName")) s.themeName = s.theme > 0.5 ? "deep" : "light";
    // "next" was once the silent default; only an explicit choice keeps it.
    if (s.glowTarget == "next" && !s.glowTargetChosen) s.glowTarget = "standby";
    if (s.cueTypes.empty() || s.cueTypes == earlierDefaultCueTypes()) s.cueTypes = defaultCueTypes();
    return s;
}

Json encodeSettings(const Settings& settings) { return fieldsToJson(settings); }

}  // namespace tallowmark
