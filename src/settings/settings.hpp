#pragma once

// The operator's preferences: one record, its defaults, and its JSON form in the
// settings file. Reading is tolerant of missing keys and migrates values written
// by earlier versions; it applies none of the ranges the page enforces
// (settings_rules.hpp).

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/json_helpers.hpp"

namespace tallowmark {

struct CueType {
    std::string name;
    std::string color;  // "#" and six hexadecimal digits

    bool operator==(const CueType&) const = default;
};

struct MIDIBinding {
    std::int64_t note = 0;
    std::string action;
    std::optional<std::int64_t> channel;  // none: any channel

    bool operator==(const MIDIBinding&) const = default;
};

std::vector<CueType> defaultCueTypes();
std::vector<MIDIBinding> defaultMidiMap();

// The longest lists the settings keep; reading keeps the first entries of a
// longer list. The page offers at most 24 cue types; a MIDI map far longer
// than the 128 notes of 16 channels was not made by hand.
inline constexpr std::size_t maxRecentDocuments = 10;
inline constexpr std::size_t maxCueTypes = 24;
inline constexpr std::size_t maxMidiBindings = 2048;

struct Settings {
    bool oscEnabled = true;
    std::int64_t oscPort = 53100;
    bool oscLocalOnly = true;
    bool midiEnabled = true;
    std::vector<MIDIBinding> midiMap = defaultMidiMap();
    bool mscEnabled = true;
    std::int64_t mscDeviceFilter = -1;  // negative: every device
    bool mscBareGoFiresStandby = true;
    std::int64_t renderWidth = 1600;
    std::vector<std::string> recentDocuments{};  // newest first, at most 10; bytes, not always UTF-8
    bool dimmed = false;
    double theme = 1.0;
    std::string themeName = "deep";
    std::int64_t pagesPerSpread = 2;
    bool maxText = false;
    std::string glowTarget = "standby";
    bool glowTargetChosen = false;
    bool dropPageNumbers = false;
    bool memosVisible = true;
    std::int64_t cueLabelFontPx = 16;
    bool cueLabelAdaptive = true;
    bool cueSnapWords = true;
    std::vector<CueType> cueTypes = defaultCueTypes();

    bool operator==(const Settings&) const = default;
};

// The JSON keys of each record, shared by the settings file and the page's
// dictionary. Both keys of a cue type and `note` and `action` of a binding
// are required; a binding without a channel has no "channel" key.
template <>
struct RecordFields<CueType> {
    static constexpr auto list = std::tuple{FieldKey{"name", &CueType::name, RequiredForm{}},
                                            FieldKey{"color", &CueType::color, RequiredForm{}}};
};

template <>
struct RecordFields<MIDIBinding> {
    static constexpr auto list = std::tuple{FieldKey{"note", &MIDIBinding::note, RequiredForm{}},
                                            FieldKey{"action", &MIDIBinding::action, RequiredForm{}},
                                            FieldKey{"channel", &MIDIBinding::channel}};
};

template <>
struct RecordFields<Settings> {
    static constexpr auto list = std::tuple{
        FieldKey{"oscEnabled", &Settings::oscEnabled},
        FieldKey{"oscPort", &Settings::oscPort},
        FieldKey{"oscLocalOnly", &Settings::oscLocalOnly},
        FieldKey{"midiEnabled", &Settings::midiEnabled},
        FieldKey{"midiMap", &Settings::midiMap},
        FieldKey{"mscEnabled", &Settings::mscEnabled},
        FieldKey{"mscDeviceFilter", &Settings::mscDeviceFilter},
        FieldKey{"mscBareGoFiresStandby", &Settings::mscBareGoFiresStandby},
        FieldKey{"renderWidth", &Settings::renderWidth},
        FieldKey{"recentDocuments", &Settings::recentDocuments, PathListForm{}},
        FieldKey{"dimmed", &Settings::dimmed},
        FieldKey{"theme", &Settings::theme},
        FieldKey{"themeName", &Settings::themeName},
        FieldKey{"pagesPerSpread", &Settings::pagesPerSpread},
        FieldKey{"maxText", &Settings::maxText},
        FieldKey{"glowTarget", &Settings::glowTarget},
        FieldKey{"glowTargetChosen", &Settings::glowTargetChosen},
        FieldKey{"dropPageNumbers", &Settings::dropPageNumbers},
        FieldKey{"memosVisible", &Settings::memosVisible},
        FieldKey{"cueLabelFontPx", &Settings::cueLabelFontPx},
        FieldKey{"cueLabelAdaptive", &Settings::cueLabelAdaptive},
        FieldKey{"cueSnapWords", &Settings::cueSnapWords},
        FieldKey{"cueTypes", &Settings::cueTypes}};
};

bool readValue(const Json& value, CueType& out);
bool readValue(const Json& value, MIDIBinding& out);
Json toJson(const CueType& type);
Json toJson(const MIDIBinding& binding);

// The settings file's form. None when the value is not an object, a key holds
// a value of the wrong type, or a cue type or binding lacks a required key.
// Lists longer than their bound keep their first entries.
std::optional<Settings> decodeSettings(const Json& value);

// The same from the file's text, read without ever holding more of a long
// list than is kept; damaged text is read as U+FFFD (noted in `notes`).
std::optional<Settings> decodeSettingsFile(std::string_view text, FileNotes& notes);

// Every key is written; a binding without a channel leaves "channel" out.
Json encodeSettings(const Settings& settings);

}  // namespace tallowmark
