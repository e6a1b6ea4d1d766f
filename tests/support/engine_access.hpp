#pragma once

// What tests, benchmarks and fuzzers may do to a CueEngine that the program may not.

#include <utility>

#include "core/file_writer.hpp"
#include "cues/cue_engine.hpp"

namespace tallowmark::testing {

struct EngineAccess {
    // Marks with no file behind them, nothing reported; closes the open script first.
    static void loadFromMemory(CueEngine& engine, CueSidecar sidecar) {
        engine.files_.close();
        engine.marks_.load(std::move(sidecar));
        engine.run_.start(std::nullopt);
    }

    // The thread that writes the marks and run files, to hold or count its jobs.
    static FileWriter& writer(CueEngine& engine) { return engine.files_.writer(); }
};

}  // namespace tallowmark::testing
