#pragma once

// What tests, benchmarks and fuzzers may do to a CueEngine that no caller of
// the program may: hold marks that have no file behind them, reach the writer.

#include <utility>

#include "core/file_writer.hpp"
#include "cues/cue_engine.hpp"

namespace tallowmark::testing {

struct EngineAccess {
    // The marks of a script that was never opened: no file is read or written,
    // and nothing is reported. Closes the open script first, like unload.
    static void loadFromMemory(CueEngine& engine, CueSidecar sidecar) {
        engine.files_.close();
        engine.marks_.load(std::move(sidecar));
        engine.run_.start(std::nullopt);
    }

    // The thread that writes the marks and run files, to hold or count its jobs.
    static FileWriter& writer(CueEngine& engine) { return engine.files_.writer(); }
};

}  // namespace tallowmark::testing
