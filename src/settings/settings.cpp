#include "settings/settings.hpp"

#include <array>

namespace tallowmark {

namespace {

constexpr std::array settingsBounds{
    ListBound{"recentDocuments", maxRecentDocuments, PastBound::drop},
    ListBound{"cueTypes", maxCueTypes, PastBound::drop},
    ListBound{"midiMap", maxMidiBindings, PastBound::drop},
    ListBound{"readingSizes", maxReadingSizes, PastBound::drop},
    ListBound{"oscDeskHosts", maxOscDeskHosts, PastBound::drop},
    ListBound{"lockedScripts", maxLockedScripts, PastBound::drop},
    ListBound{"oscFeedback", maxFeedbackDestinations, PastBound::drop},
};

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

bool readValue(const Json& value, ReadingSize& out) { return readFields(value, out); }
bool readValue(const Json& value, FeedbackDestination& out) { return readFields(value, out); }
Json toJson(const FeedbackDestination& destination) { return fieldsToJson(destination); }

Json toJson(const CueType& type) { return fieldsToJson(type); }
Json toJson(const MIDIBinding& binding) { return fieldsToJson(binding); }
Json toJson(const ReadingSize& size) { return fieldsToJson(size); }

void noteReadingSize(std::vector<ReadingSize>& sizes, ReadingSize size) {
    std::erase_if(sizes, [&](const ReadingSize& s) { return s.path == size.path; });
    sizes.insert(sizes.begin(), std::move(size));
    if (sizes.size() > maxReadingSizes) sizes.resize(maxReadingSizes);
}

namespace {

// What reading does after the fields are in: earlier versions' values, and the bounds.
Settings migrated(Settings s, bool themeNameWritten) {
    // Files from before named themes only held the level; keep what the
    // operator saw.
    if (!themeNameWritten) s.themeName = s.theme > 0.5 ? "deep" : "light";
    // "next" was once the silent default; only an explicit choice keeps it.
    if (s.glowTarget == "next" && !s.glowTargetChosen) s.glowTarget = "standby";
    if (s.recentDocuments.size() > maxRecentDocuments) s.recentDocuments.resize(maxRecentDocuments);
    if (s.cueTypes.size() > maxCueTypes) s.cueTypes.resize(maxCueTypes);
    if (s.midiMap.size() > maxMidiBindings) s.midiMap.resize(maxMidiBindings);
    if (s.readingSizes.size() > maxReadingSizes) s.readingSizes.resize(maxReadingSizes);
    if (s.oscDeskHosts.size() > maxOscDeskHosts) s.oscDeskHosts.resize(maxOscDeskHosts);
    if (s.lockedScripts.size() > maxLockedScripts) s.lockedScripts.resize(maxLockedScripts);
    if (s.oscFeedback.size() > maxFeedbackDestinations) s.oscFeedback.resize(maxFeedbackDestinations);
    if (s.cueTypes.empty() || s.cueTypes == earlierDefaultCueTypes()) s.cueTypes = defaultCueTypes();
    return s;
}

}  // namespace

std::optional<Settings> decodeSettings(const Json& value) {
    Settings s;
    if (!readFields(value, s)) return std::nullopt;
    return migrated(std::move(s), FieldReader(value).present("themeName"));
}

std::optional<Settings> decodeSettingsFile(std::string_view text, FileNotes& notes) {
    std::optional<Settings> s = decodeFile<Settings>(text, settingsBounds, notes);
    if (!s) return std::nullopt;
    return migrated(std::move(*s), fieldPresent<Settings>(notes, "themeName"));
}

Json encodeSettings(const Settings& settings) { return fieldsToJson(settings); }

}  // namespace tallowmark
