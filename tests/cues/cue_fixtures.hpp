#pragma once

#include <string>
#include <vector>

#include "cues/cue_engine.hpp"

namespace tallowmark::testing {

// Cue with id "c<n>", number "<n>" and label "L<n>", placed on page 0 so that
// the numbers follow script order.
inline Cue numberedCue(int n) {
    Cue cue;
    cue.id = "c" + std::to_string(n);
    cue.number = std::to_string(n);
    cue.label = "L" + std::to_string(n);
    cue.y = 0.05 * n;
    return cue;
}

inline CueSidecar sidecarWithCues(int count) {
    CueSidecar sidecar;
    for (int n = 1; n <= count; ++n) sidecar.cues.push_back(numberedCue(n));
    return sidecar;
}

// Records what the engine reports, in order.
struct EngineEvents {
    std::vector<std::string> log;    // log texts
    std::vector<std::string> trace;  // "log:<text>", "fire:<id>", "state"
    int stateChanges = 0;

    void attach(CueEngine& engine) {
        engine.onLog = [this](const std::string& text, const std::string&) {
            log.push_back(text);
            trace.push_back("log:" + text);
        };
        engine.onFire = [this](const Cue& cue, const std::string&) { trace.push_back("fire:" + cue.id); };
        engine.onStateChange = [this] {
            ++stateChanges;
            trace.push_back("state");
        };
    }
};

}  // namespace tallowmark::testing
