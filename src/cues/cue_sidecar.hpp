#pragma once

// The marks of one script: cues (GO points), free marks, flags, memos and
// inserted lines, with the per-script page texts, offsets and crop. Stored as
// the JSON marks file beside the script PDF.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/json_helpers.hpp"
#include "core/uuid.hpp"

namespace tallowmark {

// What carrying the marks to a revised script left for the operator to look
// at: "changed" (moved onto the words that were found; the text changed) or
// "review" (not placed: still where it stood in the old script). Absent once
// placed cleanly or accepted. Any other value reads as absent, so a stray
// value never costs the operator the whole marks file.
struct CarryForm {
    static constexpr bool required = false;
    static bool read(const Json& value, std::optional<std::string>& out) {
        out.reset();
        if (value.is_string() && (value == "changed" || value == "review")) out = value.get<std::string>();
        return true;
    }
    static Json write(const std::string& value) { return value; }
};

// Positions are fractions of the page (0..1), y growing down; pages count from 0.
struct Cue {
    std::string id = makeUUID();
    std::string number;
    std::string label;
    std::string kind = "SFX";
    std::int64_t page = 0;
    double x = 0.5;
    double y = 0.5;
    double w = 0.18;
    double h = 0.016;
    double labelX = 0;
    std::string color;
    std::string snippet;
    std::string note;
    double padL = -1;
    double padR = -1;
    std::string insertID;  // the inserted line the cue stands on, or empty

    std::optional<std::string> carry;

    bool operator==(const Cue&) const = default;
};

struct Mark {
    std::string id = makeUUID();
    std::int64_t page = 0;
    double x = 0, y = 0, w = 0, h = 0;
    std::string kind = "highlight";
    std::string text;
    std::string color;
    std::string group;

    std::optional<std::string> carry;

    bool operator==(const Mark&) const = default;
};

struct Flag {
    std::string id = makeUUID();
    std::int64_t page = 0;
    double x = 0.5, y = 0.5;
    std::string text;
    std::string color;
    std::string role;

    std::optional<std::string> carry;

    bool operator==(const Flag&) const = default;
};

struct Memo {
    std::string id = makeUUID();
    std::int64_t page = 0;
    double x = 0.1, y = 0.1, w = 0.3, h = 0.08;
    std::string text;
    std::string color;

    std::optional<std::string> carry;

    bool operator==(const Memo&) const = default;
};

// A line of text that the printed script lacks, inserted between two lines.
struct Insert {
    std::string id = makeUUID();
    std::int64_t page = 0;
    double afterY = 0;
    double lineMidY = 0;
    double lineH = 0;
    double x = 0;
    std::string text;

    std::optional<std::string> carry;

    bool operator==(const Insert&) const = default;
};

struct CueSidecar {
    std::int64_t version = 1;
    std::string documentName;
    std::vector<Cue> cues;  // in the order they were added
    std::vector<Mark> marks;
    std::vector<Flag> flags;
    std::vector<Memo> memos;
    std::vector<Insert> inserts;
    std::map<std::string, std::string> pageTexts;  // page index in decimal -> text
    std::int64_t pageLabelOffset = 0;
    std::vector<double> crop;  // x, y, w, h of the manual crop, or empty
    std::int64_t spreadOffset = 0;

    bool operator==(const CueSidecar&) const = default;
};

// The JSON keys of each record, shared by the marks file and the bridge (the
// marks file's top level is the last of them).
template <>
struct RecordFields<Cue> {
    static constexpr auto list = std::tuple{
        FieldKey{"id", &Cue::id},         FieldKey{"number", &Cue::number}, FieldKey{"label", &Cue::label},
        FieldKey{"kind", &Cue::kind},     FieldKey{"page", &Cue::page},     FieldKey{"x", &Cue::x},
        FieldKey{"y", &Cue::y},           FieldKey{"w", &Cue::w},           FieldKey{"h", &Cue::h},
        FieldKey{"labelX", &Cue::labelX}, FieldKey{"color", &Cue::color},   FieldKey{"snippet", &Cue::snippet},
        FieldKey{"note", &Cue::note},     FieldKey{"padL", &Cue::padL},     FieldKey{"padR", &Cue::padR},
        FieldKey{"insertID", &Cue::insertID}, FieldKey{"carry", &Cue::carry, CarryForm{}}};
};

template <>
struct RecordFields<Mark> {
    static constexpr auto list = std::tuple{
        FieldKey{"id", &Mark::id},     FieldKey{"page", &Mark::page}, FieldKey{"x", &Mark::x},
        FieldKey{"y", &Mark::y},       FieldKey{"w", &Mark::w},       FieldKey{"h", &Mark::h},
        FieldKey{"kind", &Mark::kind}, FieldKey{"text", &Mark::text}, FieldKey{"color", &Mark::color},
        FieldKey{"group", &Mark::group},   FieldKey{"carry", &Mark::carry, CarryForm{}}};
};

template <>
struct RecordFields<Flag> {
    static constexpr auto list = std::tuple{
        FieldKey{"id", &Flag::id},     FieldKey{"page", &Flag::page},   FieldKey{"x", &Flag::x},
        FieldKey{"y", &Flag::y},       FieldKey{"text", &Flag::text},   FieldKey{"color", &Flag::color},
        FieldKey{"role", &Flag::role},   FieldKey{"carry", &Flag::carry, CarryForm{}}};
};

template <>
struct RecordFields<Memo> {
    static constexpr auto list = std::tuple{
        FieldKey{"id", &Memo::id},     FieldKey{"page", &Memo::page}, FieldKey{"x", &Memo::x},
        FieldKey{"y", &Memo::y},       FieldKey{"w", &Memo::w},       FieldKey{"h", &Memo::h},
        FieldKey{"text", &Memo::text}, FieldKey{"color", &Memo::color}, FieldKey{"carry", &Memo::carry, CarryForm{}}};
};

template <>
struct RecordFields<Insert> {
    static constexpr auto list = std::tuple{
        FieldKey{"id", &Insert::id},         FieldKey{"page", &Insert::page},
        FieldKey{"afterY", &Insert::afterY}, FieldKey{"lineMidY", &Insert::lineMidY},
        FieldKey{"lineH", &Insert::lineH},   FieldKey{"x", &Insert::x},
        FieldKey{"text", &Insert::text},     FieldKey{"carry", &Insert::carry, CarryForm{}}};
};

template <>
struct RecordFields<CueSidecar> {
    static constexpr auto list = std::tuple{
        FieldKey{"version", &CueSidecar::version},
        FieldKey{"documentName", &CueSidecar::documentName, PathForm{}},
        FieldKey{"cues", &CueSidecar::cues},
        FieldKey{"marks", &CueSidecar::marks},
        FieldKey{"flags", &CueSidecar::flags},
        FieldKey{"memos", &CueSidecar::memos},
        FieldKey{"inserts", &CueSidecar::inserts},
        FieldKey{"pageTexts", &CueSidecar::pageTexts},
        FieldKey{"pageLabelOffset", &CueSidecar::pageLabelOffset},
        FieldKey{"crop", &CueSidecar::crop},
        FieldKey{"spreadOffset", &CueSidecar::spreadOffset}};
};

template <>
inline constexpr std::string_view freshField<Cue> = "id";
template <>
inline constexpr std::string_view freshField<Mark> = "id";
template <>
inline constexpr std::string_view freshField<Flag> = "id";
template <>
inline constexpr std::string_view freshField<Memo> = "id";
template <>
inline constexpr std::string_view freshField<Insert> = "id";

// Script order: page, then y, then x. A NaN position (never stored, but it
// could come from a caller) sorts after every number so the order stays total.
bool inScriptOrder(const Cue& a, const Cue& b);

bool readValue(const Json& value, Cue& out);
bool readValue(const Json& value, Mark& out);
bool readValue(const Json& value, Flag& out);
bool readValue(const Json& value, Memo& out);
bool readValue(const Json& value, Insert& out);
bool readValue(const Json& value, CueSidecar& out);

Json toJson(const Cue& cue);
Json toJson(const Mark& mark);
Json toJson(const Flag& flag);
Json toJson(const Memo& memo);
Json toJson(const Insert& insert);
Json toJson(const CueSidecar& sidecar);

// A JSON array of the records, in their order (lists of the page and the file).
template <class T>
Json listToJson(const std::vector<T>& items) {
    Json list = Json::array();
    for (const T& item : items) list.push_back(toJson(item));
    return list;
}

// The most records of each kind (and page texts) that a marks file may hold.
// A long show has a few thousand cues; a file with more than this was not
// made by an operator, and reading it whole would stop the show opening.
inline constexpr std::size_t maxRecordsPerList = 100000;

// Decodes the text of a marks file; none when it is not JSON or not a marks
// record (a key of the wrong type anywhere fails the whole record), or when a
// list holds more than maxRecordsPerList (`notes` names it). Damaged text is
// read as U+FFFD (`notes` says so).
std::optional<CueSidecar> decodeSidecar(std::string_view text, FileNotes& notes);
std::optional<CueSidecar> decodeSidecar(std::string_view text);

// Pretty-printed JSON with sorted keys; none when a real is not finite.
std::optional<std::string> encodeSidecar(const CueSidecar& sidecar);

// <folder>/<name>.<ext> -> <folder>/<name>.tallowmark (only the last extension goes).
std::filesystem::path sidecarPathFor(const std::filesystem::path& pdfPath);

// The largest marks file that is read; real ones are a few hundred kilobytes.
inline constexpr std::size_t maxSidecarBytes = 64u << 20;

}  // namespace tallowmark
