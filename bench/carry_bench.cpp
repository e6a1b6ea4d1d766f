// Carrying the marks to a revised draft: a play set by groff, 120 pages with
// 300 cues and 500 pages with 1,000, marked as an operator marks it, carried
// to its revision with a speech inserted early in act one, so every later
// page moves. Timed is the whole carry as the program runs it: both scripts
// opened and read, the words aligned, every record placed. Targets on two
// cores: 2 s and 6 s. The scripts and marks are made once per process.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "carry/marks_carry.hpp"
#include "support/revision_scripts.hpp"
#include "support/temp_dir.hpp"

namespace {

using namespace tallowmark;
using namespace tallowmark::testing;

struct Revised {
    TempDir dir;
    std::filesystem::path oldPdf, newPdf;
    OperatorMarks marks;
    int pages = 0;
};

const Revised& revised(int pages, int cues) {
    static std::map<int, std::unique_ptr<Revised>> made;
    auto& slot = made[pages];
    if (slot) return *slot;
    slot = std::make_unique<Revised>();
    Revised& r = *slot;
    r.oldPdf = r.dir / "old.pdf";
    r.newPdf = r.dir / "new.pdf";
    const Play play = writePlay(pages, 11, r.oldPdf);
    DocumentStore store;
    if (store.open(r.oldPdf)) {
        r.pages = store.pageCount().value_or(0);
        r.marks = markPlay(
            store, play, {.cues = cues, .textMarks = cues / 20, .besideText = cues * 3 / 50, .pageNotes = cues / 100});
    }
    setPlay(revise(play, Revision::insertedParagraph, r.marks).play, r.newPdf);
    return r;
}

void BM_CarryToRevision(benchmark::State& state) {
    const Revised& r = revised(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    DocumentStore target;
    if (!target.open(r.newPdf)) return state.SkipWithError("the revised script does not open");
    CarryResult last;
    for (auto _ : state) {
        const CarryRun run = carryFromScript(r.oldPdf, r.marks.sidecar, target, {});
        if (!run.result) return state.SkipWithError("the carry failed");
        last = *run.result;
    }
    state.counters["pages"] = r.pages;
    state.counters["cues"] = static_cast<double>(r.marks.sidecar.cues.size());
    state.counters["records"] = static_cast<double>(last.records.size());
    state.counters["placed"] = last.placed;
    state.counters["changed"] = last.changed;
    state.counters["review"] = last.review;
}
BENCHMARK(BM_CarryToRevision)
    ->Args({120, 300})
    ->Args({500, 1000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
