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
// Desks are few; a longer list was not typed by an operator.
inline constexpr std::size_t maxOscDeskHosts = 16;
// Scripts locked against editing, newest first: far more than a season holds.
inline constexpr std::size_t maxLockedScripts = 64;

// Where the show's state is sent over OSC: a desk, a button panel, a tablet.
struct FeedbackDestination {
    std::string host;  // numeric, or "localhost"
    std::int64_t port = 0;

    bool operator==(const FeedbackDestination&) const = default;
};

inline constexpr std::size_t maxFeedbackDestinations = 16;

// The reading size the operator chose for one script: pages side by side and
// the zoom of a page over the reading column. Kept, newest first, for as many
// scripts as the recent list holds, keyed by the same exact path text.
struct ReadingSize {
    std::string path;  // bytes, not always UTF-8
    std::int64_t pages = 1;
    double zoom = 1.0;

    bool operator==(const ReadingSize&) const = default;
};

inline constexpr std::size_t maxReadingSizes = maxRecentDocuments;
// The zooms the page offers; a size sent from outside them is brought inside.
inline constexpr double minReadingZoom = 0.5;
inline constexpr double maxReadingZoom = 3.0;

struct Settings {
    bool oscEnabled = true;
    std::int64_t oscPort = 53100;
    bool oscLocalOnly = true;
    // Numeric addresses of the lighting and sound desks: each has a share of
    // OSC of its own that no other sender can take.
    std::vector<std::string> oscDeskHosts{};
    // "/go" with a number not in the script: "go" fires standby, "ignore" nothing.
    std::string oscGoUnknownNumber = "go";
    // The least time between two GOs from any input; 0: no guard.
    std::int64_t goGuardMs = 300;
    // A longer gap between two GOs is an interval in the show report.
    std::int64_t intervalMinutes = 8;
    std::vector<FeedbackDestination> oscFeedback{};
    // Follower screens: shared or not (kept, so screens reconnect after a
    // restart), the port, and the token the operator pinned (empty: a new one
    // each time sharing starts).
    bool followSharing = false;
    std::int64_t followPort = 53180;
    std::string followToken{};
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
    // One page fills the reading column: the demo's 12 pt body text reads at
    // about 23 px in the first window (two pages gave 11 px).
    std::int64_t pagesPerSpread = 1;
    bool maxText = false;
    std::string glowTarget = "standby";
    bool glowTargetChosen = false;
    bool dropPageNumbers = false;
    bool memosVisible = true;
    std::int64_t cueLabelFontPx = 16;
    bool cueLabelAdaptive = true;
    bool cueSnapWords = true;
    // The languages scanned pages are read in, '+'-joined as the recognition
    // data names them ("eng+fin"); empty: every installed one, English first.
    std::string ocrLanguages{};
    std::vector<CueType> cueTypes = defaultCueTypes();
    std::vector<ReadingSize> readingSizes{};  // newest first, at most maxReadingSizes
    // The scripts whose show is locked, by the path they were opened from, so
    // that a relaunch after a crash comes back locked.
    std::vector<std::string> lockedScripts{};  // newest first; bytes, not always UTF-8

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

// A reading size is about its script: one without a path fails the record.
struct RequiredPathForm : PathForm {
    static constexpr bool required = true;
};

template <>
struct RecordFields<FeedbackDestination> {
    static constexpr auto list = std::tuple{FieldKey{"host", &FeedbackDestination::host, RequiredForm{}},
                                            FieldKey{"port", &FeedbackDestination::port, RequiredForm{}}};
};

template <>
struct RecordFields<ReadingSize> {
    static constexpr auto list = std::tuple{FieldKey{"path", &ReadingSize::path, RequiredPathForm{}},
                                            FieldKey{"pages", &ReadingSize::pages},
                                            FieldKey{"zoom", &ReadingSize::zoom}};
};

template <>
struct RecordFields<Settings> {
    static constexpr auto list = std::tuple{
        FieldKey{"oscEnabled", &Settings::oscEnabled},
        FieldKey{"oscPort", &Settings::oscPort},
        FieldKey{"oscLocalOnly", &Settings::oscLocalOnly},
        FieldKey{"oscDeskHosts", &Settings::oscDeskHosts},
        FieldKey{"oscGoUnknownNumber", &Settings::oscGoUnknownNumber},
        FieldKey{"goGuardMs", &Settings::goGuardMs},
        FieldKey{"intervalMinutes", &Settings::intervalMinutes},
        FieldKey{"oscFeedback", &Settings::oscFeedback},
        FieldKey{"followSharing", &Settings::followSharing},
        FieldKey{"followPort", &Settings::followPort},
        FieldKey{"followToken", &Settings::followToken},
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
        FieldKey{"ocrLanguages", &Settings::ocrLanguages},
        FieldKey{"cueTypes", &Settings::cueTypes},
        FieldKey{"readingSizes", &Settings::readingSizes},
        FieldKey{"lockedScripts", &Settings::lockedScripts, PathListForm{}}};
};

bool readValue(const Json& value, CueType& out);
bool readValue(const Json& value, MIDIBinding& out);
bool readValue(const Json& value, ReadingSize& out);
bool readValue(const Json& value, FeedbackDestination& out);
Json toJson(const FeedbackDestination& destination);
Json toJson(const CueType& type);
Json toJson(const MIDIBinding& binding);
Json toJson(const ReadingSize& size);

// Puts `size` at the front in place of any entry for the same path, keeping
// at most maxReadingSizes entries.
void noteReadingSize(std::vector<ReadingSize>& sizes, ReadingSize size);

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
