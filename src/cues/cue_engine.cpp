// Running the show: script order, standby, GO, BACK, RESET, firing and
// standby by number.
#include "cues/cue_engine.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <utility>

#include "core/unicode_text.hpp"

namespace tallowmark {

namespace {

std::string upperCase(const std::string& text) {
    // Full Unicode case mapping (ß becomes SS). Invalid bytes are replaced first
    // because the mapping needs valid UTF-8.
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    gchar* upper = g_utf8_strup(valid, -1);
    std::string result(upper);
    g_free(upper);
    g_free(valid);
    return result;
}

}  // namespace

std::string CueEngine::normalize(std::string_view number) {
    const std::string text = upperCase(trimText(number, isSpaceOrTab));
    // strtod would skip leading white space; a number here must start at once.
    if (text.empty() || g_ascii_isspace(text.front())) return text;
    char* end = nullptr;
    const double d = g_ascii_strtod(text.c_str(), &end);  // strtod in the C locale
    if (end != text.c_str() + text.size()) return text;
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) >= 1e9) return text;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(d));  // -0 gives 0
    return buffer;
}

std::optional<Cue> CueEngine::standbyCue() const {
    if (!standbyID_) return std::nullopt;
    if (const Cue* cue = findOrdered(*standbyID_)) return *cue;
    return std::nullopt;
}

void CueEngine::reorder() {
    ordered_ = sidecar_.cues;
    std::stable_sort(ordered_.begin(), ordered_.end(), inScriptOrder);
    // Every GO looks cues up by id (standby, the fired set, the resume offer);
    // on a long show a scan per lookup made each state report quadratic.
    orderedIndex_.clear();
    orderedIndex_.reserve(ordered_.size());
    for (std::size_t i = 0; i < ordered_.size(); ++i) orderedIndex_.emplace(ordered_[i].id, i);
}

const Cue* CueEngine::findOrdered(const std::string& id) const {
    auto it = orderedIndex_.find(id);
    return it == orderedIndex_.end() ? nullptr : &ordered_[it->second];
}

const Cue* CueEngine::findByNumber(std::string_view number) const {
    const std::string wanted = normalize(number);
    for (const Cue& cue : ordered_) {
        if (normalize(cue.number) == wanted) return &cue;
    }
    return nullptr;
}

std::optional<Cue> CueEngine::nextUnfired() const {
    for (const Cue& cue : ordered_) {
        if (!fired_.contains(cue.id)) return cue;
    }
    return std::nullopt;
}

void CueEngine::refillStandbyIfMissing() {
    if (standbyID_ && findOrdered(*standbyID_)) return;
    auto next = nextUnfired();
    standbyID_ = next ? std::optional(next->id) : std::nullopt;
}

void CueEngine::log(const std::string& text, const std::string& source) {
    if (onLog) onLog(text, source);
}

void CueEngine::changed() {
    ++changeCount_;
    if (onStateChange) onStateChange();
}

void CueEngine::beginRun() { run_ = RunChange{}; }

void CueEngine::setFired(const std::string& id, bool fired) {
    if (fired) fired_.insert(id);
    else fired_.erase(id);
    run_.touched.insert(id);
}

void CueEngine::clearFired() {
    fired_.clear();
    run_.clear = true;
    run_.touched.clear();
}

void CueEngine::runChanged() {
    RunChange change = std::exchange(run_, RunChange{});
    change.from = changeCount_;
    change.seq = ++changeCount_;
    if (onRunChange) onRunChange(change);
    else if (onStateChange) onStateChange();
}

void CueEngine::advanceStandby(const std::string& firedID) {
    const Cue* fired = findOrdered(firedID);
    if (!fired) {
        auto next = nextUnfired();
        standbyID_ = next ? std::optional(next->id) : std::nullopt;
        return;
    }
    const std::size_t after = static_cast<std::size_t>(fired - ordered_.data()) + 1;
    standbyID_ = after == ordered_.size() ? std::nullopt : std::optional(ordered_[after].id);
}

void CueEngine::fire(Cue cue, const std::string& source) {
    setFired(cue.id, true);
    lastFiredID_ = cue.id;
    // Standby moves before any callback, so no observer ever sees the cue that
    // was just fired still in standby.
    advanceStandby(cue.id);
    saveRunState();
    log(cue.number.empty() ? "GO " + cue.label : "GO " + cue.number + " " + cue.label, source);
    if (onFire) onFire(cue, source);
    runChanged();
}

std::optional<Cue> CueEngine::go(const std::string& source) {
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

void CueEngine::back(const std::string& source) {
    if (ordered_.empty()) return;
    beginRun();
    continueSavedRun(source);
    std::size_t i = ordered_.size();
    if (const Cue* standby = standbyID_ ? findOrdered(*standbyID_) : nullptr)
        i = static_cast<std::size_t>(standby - ordered_.data());
    const Cue target = ordered_[std::max<std::size_t>(i, 1) - 1];
    setFired(target.id, false);
    standbyID_ = target.id;
    saveRunState();
    log("BACK -> " + (target.number.empty() ? target.label : target.number), source);
    runChanged();
}

void CueEngine::reset(const std::string& source) {
    beginRun();
    clearFired();
    lastFiredID_.reset();
    standbyID_ = ordered_.empty() ? std::nullopt : std::optional(ordered_.front().id);
    dropSavedRun();
    log("RESET - valmius alkuun", source);
    runChanged();
}

void CueEngine::standbyByID(const std::string& id) {
    if (!findOrdered(id)) return;
    beginRun();
    continueSavedRun("ui");
    standbyID_ = id;
    saveRunState();
    runChanged();
}

std::optional<Cue> CueEngine::standbyByNumber(const std::string& number, const std::string& source) {
    const Cue* found = findByNumber(number);
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
    runChanged();
    return cue;
}

std::optional<Cue> CueEngine::fireCue(const std::string& number, const std::string& source) {
    const Cue* found = findByNumber(number);
    if (!found) {
        log("Cue \"" + number + "\" ei ole kasikirjoituksessa", source);
        return std::nullopt;
    }
    const Cue cue = *found;
    beginRun();
    continueSavedRun(source);
    fire(cue, source);
    return cue;
}

void CueEngine::unload() {
    waitForWrites();
    sidecar_ = CueSidecar{};
    sidecarURL_.reset();
    // A fresh flag: saves still queued for the closed script keep their own.
    keepUnreadableFile_ = std::make_shared<std::atomic<bool>>(false);
    undoStack_.clear();
    redoStack_.clear();
    fired_.clear();
    lastFiredID_.reset();
    standbyID_.reset();
    savedRun_.reset();
    reorder();
    changed();
}

void CueEngine::loadFromMemoryForTesting(CueSidecar sidecar) {
    sidecar_ = std::move(sidecar);
    sidecarURL_.reset();
    keepUnreadableFile_ = std::make_shared<std::atomic<bool>>(false);
    // The history and saved run of a previous script must not leak into this one.
    undoStack_.clear();
    redoStack_.clear();
    savedRun_.reset();
    fired_.clear();
    lastFiredID_.reset();
    reorder();
    standbyID_ = ordered_.empty() ? std::nullopt : std::optional(ordered_.front().id);
}

}  // namespace tallowmark
