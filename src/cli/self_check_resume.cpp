// The resume self-check: a show killed while it is writing its run file still
// offers, when opened again, to continue where it stopped.
#include <glib.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <new>
#include <optional>
#include <string>

#include "cli/self_checks.hpp"
#include "core/atomic_file.hpp"
#include "cues/cue_engine.hpp"
#include "cues/run_state.hpp"

namespace tallowmark {

namespace {

// GOs made, and known written, before the child starts.
constexpr std::size_t writtenGoes = 3;
// The kill lands this long after the child's first command, somewhere in its writes.
constexpr int shortestRunMs = 50;
constexpr int longestRunMs = 150;
// A child whose parent is gone stops by itself.
constexpr gint64 childLifetimeUs = 10 * G_USEC_PER_SEC;
const std::string checkSource = "itsetarkistus";

// What the child tells the parent, in memory both see. `mostFired` is raised
// before each GO, so it covers a GO that was handed to the writer just before the kill.
struct ChildProgress {
    std::atomic<std::int64_t> commands{0};
    std::atomic<std::int64_t> mostFired{0};
};

// The child: its own engine on the same script, GO and BACK in a tight loop,
// each handing the writer a new run file. The fired count stays between the
// parent's GOs and one short of every cue (a run with all fired offers no
// resume), so whatever state the kill leaves can be checked exactly.
[[noreturn]] void runChild(const std::string& pdf, ChildProgress* progress) {
    {
        CueEngine engine;
        engine.loadSidecar(pdf);
        const std::size_t total = engine.ordered().size();
        const gint64 end = g_get_monotonic_time() + childLifetimeUs;
        bool forward = true;
        while (g_get_monotonic_time() < end) {
            // Before the first GO the saved run is only offered; that GO continues it.
            const std::size_t fired = std::max(engine.fired().size(), writtenGoes);
            if (fired + 1 >= total) forward = false;
            else if (fired <= writtenGoes + 1) forward = true;
            if (forward) {
                const auto next = static_cast<std::int64_t>(fired + 1);
                if (progress->mostFired.load() < next) progress->mostFired.store(next);
                engine.go(checkSource);
            } else {
                engine.back(checkSource);
            }
            progress->commands.fetch_add(1);
        }
    }
    _exit(0);
}

std::string runFileText(const RunState& state) { return std::to_string(state.fired.size()) + " laukaistu"; }

}  // namespace

int resumeSelfCheck(std::FILE* out) {
    CheckReport report(out);
    ScratchDemo demo;
    if (!report.check(!demo.pdf().empty(), "demokasikirjoitus valiaikaiskansioon", demo.error()))
        return report.finish();

    // The first GOs, by an engine that is gone (its writer joined) before the fork.
    std::size_t total = 0;
    std::optional<std::filesystem::path> runFile;
    {
        CueEngine engine;
        engine.loadSidecar(demo.pdf());
        total = engine.ordered().size();
        if (!report.check(total >= writtenGoes + 3, "demon iskut ladattu", std::to_string(total) + " iskua"))
            return report.finish();
        for (std::size_t i = 0; i < writtenGoes; ++i) engine.go(checkSource);
        runFile = engine.runFileURL();
        const bool flushed = engine.flushWrites();
        const ReadResult file = runFile ? readWholeFile(*runFile, maxRunFileBytes) : ReadResult{};
        const std::optional<RunState> state =
            flushed && file.status == ReadStatus::ok ? decodeRunState(file.bytes) : std::nullopt;
        if (!report.check(state && state->fired.size() == writtenGoes,
                          std::to_string(writtenGoes) + " GO:ta kirjoitettu ajotiedostoon",
                          state ? runFileText(*state) : "ajotiedostoa ei kirjoitettu tai se ei jasenny"))
            return report.finish();
    }

    void* shared = mmap(nullptr, sizeof(ChildProgress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        report.check(false, "jaettu muisti lapsiprosessille", g_strerror(errno));
        return report.finish();
    }
    auto* progress = new (shared) ChildProgress;
    struct Unmap {
        void* memory;
        ~Unmap() { munmap(memory, sizeof(ChildProgress)); }
    } unmap{shared};

    std::fflush(out);  // the child leaves by _exit: nothing buffered is written twice
    const pid_t child = fork();
    if (child == 0) runChild(demo.pdf(), progress);
    if (child < 0) {
        report.check(false, "lapsiprosessin kaynnistys", g_strerror(errno));
        return report.finish();
    }

    // Killed only once it is GOing, so the kill lands among its writes.
    const gint64 waitEnd = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
    while (progress->commands.load() == 0 && g_get_monotonic_time() < waitEnd) g_usleep(1000);
    const int runMs = g_random_int_range(shortestRunMs, longestRunMs + 1);
    g_usleep(gulong(runMs) * 1000);
    kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::int64_t commands = progress->commands.load();
    const auto mostFired = static_cast<std::size_t>(std::max<std::int64_t>(progress->mostFired.load(), 0));
    if (!report.check(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL && commands > 0,
                      "lapsiprosessi ajoi " + std::to_string(commands) + " komentoa ja katkaistiin SIGKILLilla " +
                          std::to_string(runMs) + " ms kohdalla",
                      commands == 0 ? "se ei ehtinyt ajaa yhtaan komentoa" : "se paattyi ennen katkaisua"))
        return report.finish();

    // The script opened afresh, as after a crash.
    const ReadResult file = readWholeFile(*runFile, maxRunFileBytes);
    const std::optional<RunState> state = file.status == ReadStatus::ok ? decodeRunState(file.bytes) : std::nullopt;
    report.check(state.has_value(), "ajotiedosto luettavissa katkaisun jalkeen (ei revennyt)",
                 file.status == ReadStatus::ok ? "sisalto ei jasenny" : "tiedostoa ei voitu lukea");
    CueEngine engine;
    engine.loadSidecar(demo.pdf());
    const std::optional<ResumeOffer> offer = engine.resumeOffer();
    if (!report.check(offer.has_value(), "jatkotarjous on olemassa", "tallennettua ajoa ei tarjota"))
        return report.finish();
    const auto fired = static_cast<std::size_t>(offer->firedCount);
    report.check(fired >= writtenGoes && fired <= mostFired,
                 "laukaistuja " + std::to_string(fired) + "/" + std::to_string(offer->total) + ", valilla " +
                     std::to_string(writtenGoes) + "-" + std::to_string(mostFired),
                 "kirjoitettu ennen katkaisua " + std::to_string(writtenGoes) + ", lapsi ehti enintaan " +
                     std::to_string(mostFired));
    // The child only ever left the first cues fired with the next one in standby.
    const bool prefix = fired < engine.ordered().size() && offer->standby.id == engine.ordered()[fired].id;
    report.check(prefix, "jatkotarjouksen valmiina isku " + offer->standby.number + " seuraa laukaistuja",
                 "odotettiin iskua " + (fired < engine.ordered().size() ? engine.ordered()[fired].number : "-"));
    const bool restored = engine.restoreRun();
    report.check(restored && engine.standbyID() == offer->standby.id && engine.fired().size() == fired,
                 "palautus: valmiina isku " + offer->standby.number + ", " + std::to_string(fired) + " laukaistu",
                 restored ? "valmius tai laukaistut eivat vastaa tarjousta" : "palautus ei onnistunut");
    return report.finish();
}

}  // namespace tallowmark
