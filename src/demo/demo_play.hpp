#pragma once

// The demo play: its script blocks and the cues placed on it. Words are free,
// but every cue's trigger must occur in the text so that the search finds it.

#include <array>
#include <string_view>

namespace tallowmark {

struct DemoCue {
    std::string_view number;
    std::string_view label;
    std::string_view kind;
    std::string_view trigger;  // a phrase of the script where the cue is called
    std::string_view note;
};

enum class DemoBlockKind { mainHeading, heading, direction, line, pageBreak };

struct DemoBlock {
    DemoBlockKind kind;
    std::string_view text;
    std::string_view speaker;  // spoken lines only
};

inline constexpr std::string_view demoPlayTitle = "Lantern at Skerrow Head";
inline constexpr std::string_view demoRunningHeader =
    "Lantern at Skerrow Head  \u00b7  Act One  \u00b7  Rehearsal draft 3";

inline constexpr std::size_t demoBlockCount = 94;
inline constexpr std::size_t demoCueCount = 22;

const std::array<DemoBlock, demoBlockCount>& demoBlocks();
const std::array<DemoCue, demoCueCount>& demoCues();

}  // namespace tallowmark
