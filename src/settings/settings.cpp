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

Json encodeBinding(const MIDIBinding& binding) {
    Json object = {{"note", binding.note}, {"action", binding.action}};
    if (binding.channel) object["channel"] = *binding.channel;
    return object;
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

bool readValue(const Json& value, CueType& out) {
    return FieldReader(value).required("name", out.name).required("color", out.color).ok();
}

bool readValue(const Json& value, MIDIBinding& out) {
    FieldReader reader(value);
    if (!reader.required("note", out.note).required("action", out.action).ok()) return false;
    if (!reader.present("channel")) {
        out.channel.reset();
        return true;
    }
    std::int64_t channel = 0;
    if (!readValue(value.at("channel"), channel)) return false;
    out.channel = channel;
    return true;
}

std::optional<Settings> decodeSettings(const Json& value) {
    Settings s;
    FieldReader reader(value);
    reader.field("oscEnabled", s.oscEnabled)
        .field("oscPort", s.oscPort)
        .field("oscLocalOnly", s.oscLocalOnly)
        .field("midiEnabled", s.midiEnabled)
        .field("midiMap", s.midiMap)
        .field("mscEnabled", s.mscEnabled)
        .field("mscDeviceFilter", s.mscDeviceFilter)
        .field("mscBareGoFiresStandby", s.mscBareGoFiresStandby)
        .field("renderWidth", s.renderWidth)
        .field("recentDocuments", s.recentDocuments, readPathList)
        .field("dimmed", s.dimmed)
        .field("theme", s.theme)
        .field("themeName", s.themeName)
        .field("pagesPerSpread", s.pagesPerSpread)
        .field("maxText", s.maxText)
        .field("glowTarget", s.glowTarget)
        .field("glowTargetChosen", s.glowTargetChosen)
        .field("dropPageNumbers", s.dropPageNumbers)
        .field("memosVisible", s.memosVisible)
        .field("cueLabelFontPx", s.cueLabelFontPx)
        .field("cueLabelAdaptive", s.cueLabelAdaptive)
        .field("cueSnapWords", s.cueSnapWords)
        .field("cueTypes", s.cueTypes);
    if (!reader.ok()) return std::nullopt;

    // Files from before named themes only held the level; keep what the
    // operator saw.
    if (!reader.present("themeName")) s.themeName = s.theme > 0.5 ? "deep" : "light";
    // "next" was once the silent default; only an explicit choice keeps it.
    if (s.glowTarget == "next" && !s.glowTargetChosen) s.glowTarget = "standby";
    if (s.cueTypes.empty() || s.cueTypes == earlierDefaultCueTypes()) s.cueTypes = defaultCueTypes();
    return s;
}

Json encodeSettings(const Settings& s) {
    Json midiMap = Json::array();
    for (const MIDIBinding& binding : s.midiMap) midiMap.push_back(encodeBinding(binding));
    Json cueTypes = Json::array();
    for (const CueType& type : s.cueTypes) {
        cueTypes.push_back(Json{{"name", type.name}, {"color", type.color}});
    }

    return {
        {"oscEnabled", s.oscEnabled},
        {"oscPort", s.oscPort},
        {"oscLocalOnly", s.oscLocalOnly},
        {"midiEnabled", s.midiEnabled},
        {"midiMap", std::move(midiMap)},
        {"mscEnabled", s.mscEnabled},
        {"mscDeviceFilter", s.mscDeviceFilter},
        {"mscBareGoFiresStandby", s.mscBareGoFiresStandby},
        {"renderWidth", s.renderWidth},
        {"recentDocuments", pathListToJson(s.recentDocuments)},
        {"dimmed", s.dimmed},
        {"theme", s.theme},
        {"themeName", s.themeName},
        {"pagesPerSpread", s.pagesPerSpread},
        {"maxText", s.maxText},
        {"glowTarget", s.glowTarget},
        {"glowTargetChosen", s.glowTargetChosen},
        {"dropPageNumbers", s.dropPageNumbers},
        {"memosVisible", s.memosVisible},
        {"cueLabelFontPx", s.cueLabelFontPx},
        {"cueLabelAdaptive", s.cueLabelAdaptive},
        {"cueSnapWords", s.cueSnapWords},
        {"cueTypes", std::move(cueTypes)},
    };
}

}  // namespace tallowmark
