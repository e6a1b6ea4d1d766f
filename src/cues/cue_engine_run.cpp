// The run-position file beside the marks file, and the resume offer made from it.
#include <glib.h>

#include <system_error>

#include "core/atomic_file.hpp"
#include "core/system_log.hpp"
#include "cues/cue_engine.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

std::optional<fs::path> CueEngine::runFileURL() const {
    if (!sidecarURL_) return std::nullopt;
    return runFilePathFor(*sidecarURL_);
}

void CueEngine::queueRunFileRemoval() {
    const auto url = runFileURL();
    if (!url) return;
    // Through the writer like the writes, so a write queued before it can
    // never bring the file back.
    writer_.submit(
        url->string(),
        [url = *url] {
            std::error_code ignored;
            fs::remove(url, ignored);
        },
        FileWriter::Merge::replaces);
}

void CueEngine::saveRunState() {
    const auto url = runFileURL();
    if (!url) return;
    if (fired_.empty()) {
        savedRun_.reset();
        queueRunFileRemoval();
        return;
    }
    auto state = std::make_shared<RunState>();
    state->standbyID = standbyID_.value_or("");
    state->fired.assign(fired_.begin(), fired_.end());
    state->savedAt = static_cast<double>(g_get_real_time()) / 1e6;
    savedRun_ = state;
    // Only the newest state matters: a burst of GOs costs one encoding and one write.
    writer_.submit(
        url->string(),
        [url = *url, state = std::shared_ptr<const RunState>(std::move(state)), failing = runWriteFailing_] {
            const std::optional<std::string> bytes = encodeRunState(*state);
            if (!bytes) return;
            std::string error;
            if (writeFileAtomically(url, *bytes, &error)) {
                failing->store(false);
            } else if (!failing->exchange(true)) {
                logSystem("ajotiedoston tallennus epaonnistui: " + error);
            }
        },
        FileWriter::Merge::replaces);
}

void CueEngine::loadRunState() {
    savedRun_.reset();
    const auto url = runFileURL();
    if (!url) return;
    const ReadResult file = readWholeFile(*url, maxRunFileBytes);
    if (file.status == ReadStatus::failed || file.status == ReadStatus::tooLarge) {
        // Otherwise the missing resume offer would have no explanation anywhere.
        logSystem("ajotiedostoa ei voitu lukea, jatkoa ei tarjota: " + url->string() + ": " + file.error);
    }
    if (file.status != ReadStatus::ok) return;
    std::optional<RunState> state = decodeRunState(file.bytes);
    if (!state || state->fired.empty()) return;
    savedRun_ = std::make_shared<const RunState>(std::move(*state));
}

std::optional<CueEngine::ResolvedRun> CueEngine::resolvedRun(const RunState& state) const {
    ResolvedRun run;
    for (const std::string& id : state.fired) {
        if (findOrdered(id)) run.fired.insert(id);
    }
    if (run.fired.empty()) return std::nullopt;
    if (const Cue* cue = findOrdered(state.standbyID)) {
        run.standby = *cue;
    } else {
        for (const Cue& cue : ordered_) {
            if (!run.fired.contains(cue.id)) {
                run.standby = cue;
                break;
            }
        }
    }
    return run;
}

std::optional<ResumeOffer> CueEngine::resumeOffer() const {
    if (!savedRun_) return std::nullopt;
    auto run = resolvedRun(*savedRun_);
    if (!run || !run->standby || run->fired.size() >= ordered_.size()) return std::nullopt;
    return ResumeOffer{static_cast<std::int64_t>(run->fired.size()),
                       static_cast<std::int64_t>(ordered_.size()), *run->standby};
}

bool CueEngine::resumeOfferOpen() const { return fired_.empty() && resumeOffer().has_value(); }

bool CueEngine::applySavedRun() {
    if (!savedRun_) return false;
    auto run = resolvedRun(*savedRun_);
    if (!run) return false;
    clearFired();
    for (const std::string& id : run->fired) setFired(id, true);
    standbyID_ = run->standby ? std::optional(run->standby->id) : std::nullopt;
    lastFiredID_.reset();
    return true;
}

bool CueEngine::restoreRun() {
    beginRun();
    if (!applySavedRun()) return false;
    runChanged();
    return true;
}

// After a crash the page offers the saved run, but the standby shown is the
// fresh run's first cue: one GO from a desk would fire the house-out cue and
// write over the saved position. Until the operator discards the offer or
// resets, any run command picks the show up where it stopped.
bool CueEngine::continueSavedRun(const std::string& source) {
    const std::optional<ResumeOffer> offer = fired_.empty() ? resumeOffer() : std::nullopt;
    if (!offer || !applySavedRun()) return false;
    log("Tallennettu ajo jatkuu - " + std::to_string(offer->firedCount) + "/" + std::to_string(offer->total) +
            " laukaistu",
        source);
    return true;
}

void CueEngine::dropSavedRun() {
    savedRun_.reset();
    queueRunFileRemoval();
}

// The offer goes from every page showing it (the monitor too), not only from
// the one that answered it.
void CueEngine::discardSavedRun() {
    const bool had = savedRun_ != nullptr;
    dropSavedRun();
    if (!had) return;
    beginRun();
    runChanged();
}

}  // namespace tallowmark
