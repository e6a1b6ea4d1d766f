#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cues/cue_engine.hpp"
#include "support/engine_access.hpp"
#include "support/temp_dir.hpp"

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

// A record of any kind with the given id, every other field at its default.
template <class Record>
Record withID(std::string id) {
    Record record;
    record.id = std::move(id);
    return record;
}

inline CueSidecar sidecarOf(std::vector<Cue> cues) {
    CueSidecar sidecar;
    sidecar.cues = std::move(cues);
    return sidecar;
}

inline CueSidecar sidecarWithCues(int count) {
    CueSidecar sidecar;
    for (int n = 1; n <= count; ++n) sidecar.cues.push_back(numberedCue(n));
    return sidecar;
}

// The run at a glance, of the engine or of a run alone: "c3 | c1 c2" is cue
// c3 in standby with c1 and c2 fired; "none |" is no standby and nothing fired.
template <class Run>
std::string runOf(const Run& run) {
    std::string text = run.standbyID().value_or("none") + " |";
    for (const std::string& id : run.fired()) text += " " + id;
    return text;
}

// What `call` writes to standard error.
template <class Call>
std::string stderrOf(Call call) {
    ::testing::internal::CaptureStderr();
    call();
    return ::testing::internal::GetCapturedStderr();
}

// A script "Show.pdf" in a fresh folder, and the names of the files kept beside it.
class ScriptFolder : public ::testing::Test {
protected:
    std::filesystem::path pdf() const { return dir / "Show.pdf"; }
    std::filesystem::path marks() const { return dir / "Show.tallowmark"; }
    std::filesystem::path runFile() const { return dir / "Show.tallowmark-run"; }
    std::filesystem::path backup(int n) const { return MarksFiles::backupPath(marks(), n); }
    long entries() const { return dir.entries(); }

    TempDir dir;
};

// The same with an engine to open it.
class ShowFolder : public ScriptFolder {
protected:
    void go(int times) {
        for (int i = 0; i < times; ++i) engine.go("x");
    }
    std::string run() const { return runOf(engine); }

    CueEngine engine;
};

}  // namespace tallowmark::testing
