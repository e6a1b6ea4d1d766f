#include "cues/run_state.hpp"

namespace tallowmark {

bool readValue(const Json& value, RunState& out) {
    return FieldReader(value)
        .field("standbyID", out.standbyID)
        .field("fired", out.fired)
        .field("savedAt", out.savedAt)
        .ok();
}

std::optional<RunState> decodeRunState(std::string_view text) { return decodeRecord<RunState>(text); }

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
