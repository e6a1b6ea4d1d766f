#pragma once

// The run position of a performance (standby cue and fired cues), written
// beside the marks file after every run change so that a crash or restart
// can offer to resume.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cues/cue_sidecar.hpp"

namespace tallowmark {

struct RunState {
    std::string standbyID;           // empty when standby was none
    std::vector<std::string> fired;  // in no particular order
    double savedAt = 0;              // seconds since 1970, stored only

    bool operator==(const RunState&) const = default;
};

// What the page offers after reopening a script with a saved run.
struct ResumeOffer {
    std::int64_t firedCount = 0;
    std::int64_t total = 0;
    Cue standby;
};

template <>
struct RecordFields<RunState> {
    static constexpr auto list = std::tuple{FieldKey{"standbyID", &RunState::standbyID},
                                            FieldKey{"fired", &RunState::fired},
                                            FieldKey{"savedAt", &RunState::savedAt}};
};

bool readValue(const Json& value, RunState& out);

// None when the text is not a JSON object of the run-file shape, or names
// more fired cues than a marks file may hold (maxRecordsPerList). Damaged
// text is read as U+FFFD: `notes` says what reading did; the form without it
// logs that.
std::optional<RunState> decodeRunState(std::string_view text, FileNotes& notes);
std::optional<RunState> decodeRunState(std::string_view text);

// Compact JSON; none when savedAt is not finite.
std::optional<std::string> encodeRunState(const RunState& state);

// <folder>/<name>.tallowmark -> <folder>/<name>.tallowmark-run
std::filesystem::path runFilePathFor(const std::filesystem::path& sidecarPath);

inline constexpr std::size_t maxRunFileBytes = 16u << 20;

}  // namespace tallowmark
