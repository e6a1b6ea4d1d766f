#include "cues/run_state.hpp"

#include <array>

#include "core/system_log.hpp"

namespace tallowmark {

namespace {

// No run fires more cues than the marks can hold.
constexpr std::array runBounds{ListBound{"fired", maxRecordsPerList, PastBound::refuse}};

}  // namespace

bool readValue(const Json& value, RunState& out) { return readFields(value, out); }

std::optional<RunState> decodeRunState(std::string_view text, FileNotes& notes) {
    return decodeFile<RunState>(text, runBounds, notes);
}

std::optional<RunState> decodeRunState(std::string_view text) {
    FileNotes notes;
    std::optional<RunState> state = decodeRunState(text, notes);
    if (!notes.overBound.empty()) {
        logSystem("ajotiedostossa on yli " + std::to_string(maxRecordsPerList) +
                  " laukaistua iskua, jatkoa ei tarjota");
    } else if (state && notes.repaired) {
        logSystem("ajotiedostossa oli vioittunutta tekstia, luettu korvausmerkein");
    }
    return state;
}

std::optional<std::string> encodeRunState(const RunState& state) {
    Json json = {{"standbyID", state.standbyID}, {"fired", state.fired}, {"savedAt", state.savedAt}};
    if (!allFinite(json)) return std::nullopt;
    return dumpJson(json, -1);
}

std::filesystem::path runFilePathFor(const std::filesystem::path& sidecarPath) {
    std::filesystem::path path = sidecarPath;
    return path.replace_extension("tallowmark-run");
}

}  // namespace tallowmark
