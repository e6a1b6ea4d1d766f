#include "cues/show_run.hpp"

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "core/atomic_file.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

std::optional<Cue> ShowRun::standbyCue() const {
    if (!standbyID_) return std::nullopt;
    if (const Cue* cue = marks_.find(*standbyID_)) return *cue;
    return std::nullopt;
}

std::optional<Cue> ShowRun::nextUnfired() const {
    for (const Cue& cue : marks_.ordered()) {
        if (!fired_.contains(cue.id)) return cue;
    }
    return std::nullopt;
}

void ShowRun::refillStandbyIfMissing() {
    if (standbyID_ && marks_.find(*standbyID_)) return;
    auto next = nextUnfired();
    standbyID_ = next ? std::optional(next->id) : std::nullopt;
}

void ShowRun::log(const std::string& text, const std::string& source) {
    if (onLog) onLog(text, source);
}

void ShowRun::record(ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs) {
    if (onRecord) onRecord(kind, cue, source, sinceMs);
}

bool ShowRun::insideGoGuard(const std::string& source) {
    const std::int64_t guardMs = goGuardMs_ ? std::clamp<std::int64_t>(goGuardMs_(), 0, maxGoGuardMs) : 0;
    const std::int64_t now = clock_ ? clock_()
                                    : std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count();
    if (guardMs == 0 || !lastGoAt_ || now - *lastGoAt_ >= guardMs * 1000) {
        lastGoAt_ = now;
        return false;
    }
    const std::int64_t sinceMs = (now - *lastGoAt_) / 1000;
    log("GO ohitettu - " + std::to_string(sinceMs) + " ms edellisesta GO:sta (suoja " + std::to_string(guardMs) +
            " ms)",
        source);
    record(ReportEntry::Kind::ignored, nullptr, source, sinceMs);
    if (onGoIgnored) onGoIgnored(source, sinceMs);
    return true;
}

void ShowRun::beginRun() { run_ = RunChange{}; }

void ShowRun::setFired(const std::string& id, bool fired) {
    if (fired) fired_.insert(id);
    else fired_.erase(id);
    run_.touched.insert(id);
}

void ShowRun::clearFired() {
    fired_.clear();
    run_.clear = true;
    run_.touched.clear();
}

void ShowRun::runChanged() {
    RunChange change = std::exchange(run_, RunChange{});
    change.from = changeCount_;
    change.seq = ++changeCount_;
    if (onRunChange) onRunChange(change);
}

void ShowRun::advanceStandby(const std::string& firedID) {
    const Cue* fired = marks_.find(firedID);
    if (!fired) {
        auto next = nextUnfired();
        standbyID_ = next ? std::optional(next->id) : std::nullopt;
        return;
    }
    const std::vector<Cue>& ordered = marks_.ordered();
    const std::size_t after = static_cast<std::size_t>(fired - ordered.data()) + 1;
    standbyID_ = after == ordered.size() ? std::nullopt : std::optional(ordered[after].id);
}

void ShowRun::fire(Cue cue, const std::string& source) {
    setFired(cue.id, true);
    lastFiredID_ = cue.id;
    // Standby moves before any callback, so no observer ever sees the cue that
    // was just fired still in standby.
    advanceStandby(cue.id);
    saveRunState();
    log(cue.number.empty() ? "GO " + cue.label : "GO " + cue.number + " " + cue.label, source);
    record(ReportEntry::Kind::go, &cue, source);
    if (onFire) onFire(cue, source);
    runChanged();
}

std::optional<Cue> ShowRun::go(const std::string& source) {
    if (insideGoGuard(source)) return std::nullopt;
    beginRun();
    const bool continued = continueSavedRun(source);
    std::optional<Cue> cue = standbyCue();
    if (!cue) cue = nextUnfired();
    if (!cue) {
        log("GO ilman valmiutta - iskuja ei ole", source);
        if (continued) runChanged();
        return std::nullopt;
    }
    fire(*cue, source);
    return cue;
}

void ShowRun::back(const std::string& source) {
    const std::vector<Cue>& ordered = marks_.ordered();
    if (ordered.empty()) return;
    beginRun();
    continueSavedRun(source);
    std::size_t i = ordered.size();
    if (const Cue* standby = standbyID_ ? marks_.find(*standbyID_) : nullptr)
        i = static_cast<std::size_t>(standby - ordered.data());
    const Cue target = ordered[std::max<std::size_t>(i, 1) - 1];
    setFired(target.id, false);
    standbyID_ = target.id;
    saveRunState();
    log("BACK -> " + (target.number.empty() ? target.label : target.number), source);
    record(ReportEntry::Kind::back, &target, source);
    runChanged();
}

void ShowRun::reset(const std::string& source) {
    beginRun();
    clearFired();
    lastFiredID_.reset();
    const std::vector<Cue>& ordered = marks_.ordered();
    standbyID_ = ordered.empty() ? std::nullopt : std::optional(ordered.front().id);
    dropSavedRun();
    log("RESET - valmius alkuun", source);
    record(ReportEntry::Kind::reset, nullptr, source);
    runChanged();
}

void ShowRun::standbyByID(const std::string& id) {
    if (!marks_.find(id)) return;
    beginRun();
    continueSavedRun("ui");
    standbyID_ = id;
    saveRunState();
    record(ReportEntry::Kind::standby, marks_.find(id), "ui");
    runChanged();
}

std::optional<Cue> ShowRun::standbyByNumber(const std::string& number, const std::string& source) {
    const Cue* found = marks_.findByNumber(number);
    if (!found) {
        log("STANDBY \"" + number + "\" ei osunut mihinkaan", source);
        return std::nullopt;
    }
    const Cue cue = *found;
    beginRun();
    continueSavedRun(source);
    standbyID_ = cue.id;
    saveRunState();
    log("STANDBY " + (cue.number.empty() ? cue.label : cue.number), source);
    record(ReportEntry::Kind::standby, &cue, source);
    runChanged();
    return cue;
}

std::optional<Cue> ShowRun::fireCue(const std::string& number, const std::string& source) {
    const Cue* found = marks_.findByNumber(number);
    if (!found) {
        log("Cue \"" + number + "\" ei ole kasikirjoituksessa", source);
        return std::nullopt;
    }
    const Cue cue = *found;
    if (insideGoGuard(source)) return std::nullopt;
    beginRun();
    continueSavedRun(source);
    fire(cue, source);
    return cue;
}

void ShowRun::start(std::optional<fs::path> runFile) {
    runFile_ = std::move(runFile);
    fired_.clear();
    lastFiredID_.reset();
    const std::vector<Cue>& ordered = marks_.ordered();
    standbyID_ = ordered.empty() ? std::nullopt : std::optional(ordered.front().id);
    loadRunState();
}

void ShowRun::cueAppended(const std::string& id) {
    if (!standbyID_) standbyID_ = id;
}

void ShowRun::cuesRemoved(const IdSet& ids) {
    if (standbyID_ && ids.contains(*standbyID_)) standbyID_.reset();
    for (const std::string& id : ids) fired_.erase(id);
    // A removed standby is replaced by the first unfired cue, not by the cue
    // after it: the operator may have skipped cues that are still to come.
    if (!standbyID_) refillStandbyIfMissing();
}

void ShowRun::marksRestored() {
    if (standbyID_ && !marks_.find(*standbyID_)) refillStandbyIfMissing();
}

void ShowRun::marksImported() { refillStandbyIfMissing(); }

// --- the run file ---

void ShowRun::queueRunFileRemoval() {
    if (!runFile_) return;
    // Through the writer like the writes, so a write queued before it can
    // never bring the file back.
    writer_.submit(
        runFile_->string(),
        [url = *runFile_] {
            std::error_code ignored;
            fs::remove(url, ignored);
        },
        FileWriter::Merge::replaces);
}

void ShowRun::saveRunState() {
    if (!runFile_) return;
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
        runFile_->string(),
        [url = *runFile_, state = std::shared_ptr<const RunState>(std::move(state)), failing = runWriteFailing_] {
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

void ShowRun::loadRunState() {
    savedRun_.reset();
    if (!runFile_) return;
    const ReadResult file = readWholeFile(*runFile_, maxRunFileBytes);
    if (file.status == ReadStatus::failed || file.status == ReadStatus::tooLarge) {
        // Otherwise the missing resume offer would have no explanation anywhere.
        logSystem("ajotiedostoa ei voitu lukea, jatkoa ei tarjota: " + runFile_->string() + ": " + file.error);
    }
    if (file.status != ReadStatus::ok) return;
    std::optional<RunState> state = decodeRunState(file.bytes);
    if (!state || state->fired.empty()) return;
    savedRun_ = std::make_shared<const RunState>(std::move(*state));
}

// --- the saved run ---

std::optional<ShowRun::ResolvedRun> ShowRun::resolvedRun(const RunState& state) const {
    ResolvedRun run;
    for (const std::string& id : state.fired) {
        if (marks_.find(id)) run.fired.insert(id);
    }
    if (run.fired.empty()) return std::nullopt;
    if (const Cue* cue = marks_.find(state.standbyID)) {
        run.standby = *cue;
    } else {
        for (const Cue& cue : marks_.ordered()) {
            if (!run.fired.contains(cue.id)) {
                run.standby = cue;
                break;
            }
        }
    }
    return run;
}

std::optional<ResumeOffer> ShowRun::resumeOffer() const {
    if (!savedRun_) return std::nullopt;
    auto run = resolvedRun(*savedRun_);
    const std::size_t total = marks_.ordered().size();
    if (!run || !run->standby || run->fired.size() >= total) return std::nullopt;
    return ResumeOffer{static_cast<std::int64_t>(run->fired.size()), static_cast<std::int64_t>(total),
                       *run->standby};
}

bool ShowRun::resumeOfferOpen() const { return fired_.empty() && resumeOffer().has_value(); }

bool ShowRun::applySavedRun() {
    if (!savedRun_) return false;
    auto run = resolvedRun(*savedRun_);
    if (!run) return false;
    clearFired();
    for (const std::string& id : run->fired) setFired(id, true);
    standbyID_ = run->standby ? std::optional(run->standby->id) : std::nullopt;
    lastFiredID_.reset();
    return true;
}

bool ShowRun::restoreRun() {
    beginRun();
    if (!applySavedRun()) return false;
    record(ReportEntry::Kind::resume, nullptr, "ui");
    runChanged();
    return true;
}

// After a crash the page offers the saved run, but the standby shown is the
// fresh run's first cue: one GO from a desk would fire the house-out cue and
// write over the saved position. Until the operator discards the offer or
// resets, any run command picks the show up where it stopped.
bool ShowRun::continueSavedRun(const std::string& source) {
    const std::optional<ResumeOffer> offer = fired_.empty() ? resumeOffer() : std::nullopt;
    if (!offer || !applySavedRun()) return false;
    log("Tallennettu ajo jatkuu - " + std::to_string(offer->firedCount) + "/" + std::to_string(offer->total) +
            " laukaistu",
        source);
    record(ReportEntry::Kind::resume, nullptr, source);
    return true;
}

void ShowRun::dropSavedRun() {
    savedRun_.reset();
    queueRunFileRemoval();
}

// The offer goes from every page showing it (the monitor too), not only from
// the one that answered it.
void ShowRun::discardSavedRun() {
    const bool had = savedRun_ != nullptr;
    dropSavedRun();
    if (!had) return;
    beginRun();
    runChanged();
}

}  // namespace tallowmark
