#include "bridge/native_bridge.hpp"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "bridge/bridge_calls.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// The page's calls in the order the shell registers them.
constexpr const char* registrationOrder[] = {
    "openDocumentPanel", "openDocumentPath", "closeDocument", "currentDocument", "renderPage", "searchDocument",
    "pageText", "textRect", "pageLines", "allPageLines", "setCrop", "ensureWindowWidth", "windowChrome",
    "getState", "getSettings", "setSettings", "getControlStatus", "getLog", "upsertCue", "removeCue",
    "upsertCues", "removeCues", "renumberCues", "upsertMarks", "removeMarks", "standbyCue", "setSpreadOffset",
    "restoreRun", "discardRun", "upsertMark", "removeMark", "upsertFlag", "removeFlag", "upsertMemo",
    "removeMemo", "upsertInsert", "removeInsert", "setPageLabelOffset", "setPageText", "go", "back", "reset",
    "undo", "redo", "reportPage", "revealSidecar", "saveSidecar", "saveScriptAs", "importSidecar", "offerMarks",
    "makeDemo", "exportMarkedPDF", "menuState", "debugLog", "updateStatus", "installUpdate", "setShowLocked",
    "showReport", "exportShowReport", "shareStatus", "setSharing", "pinShareAddress", "acceptCarried",
};

// The calls that change the marks. A locked show refuses them whatever the
// page sends: its menus and modes are closed, but a page that raced the lock,
// or a damaged one, must not edit a show that is running.
constexpr std::string_view editsTheMarks[] = {
    "upsertCue",   "removeCue",   "upsertCues",   "removeCues",  "renumberCues", "upsertMarks", "removeMarks",
    "upsertMark",  "removeMark",  "upsertFlag",   "removeFlag",  "upsertMemo",   "removeMemo",  "upsertInsert",
    "removeInsert", "setPageLabelOffset", "setPageText", "undo", "redo",         "setCrop",     "importSidecar",
    "offerMarks", "acceptCarried",
};

// Callbacks of the engine and the hub hold the bridge weakly and fall silent
// once it is gone.
template <class Fn>
auto weakly(const std::shared_ptr<NativeBridge>& bridge, Fn fn) {
    return [weak = std::weak_ptr<NativeBridge>(bridge), fn](auto&&... args) {
        if (auto strong = weak.lock()) fn(*strong, std::forward<decltype(args)>(args)...);
    };
}

// PDF passwords are at most 127 bytes (readers cut longer ones there); a
// pasted page of text is refused without asking poppler.
constexpr std::size_t maxPasswordBytes = 1024;

// Overwrites a password before letting it go, so it does not linger in freed memory.
void wipePassword(std::string& password) {
    explicit_bzero(password.data(), password.size());
    password.clear();
}

}  // namespace

CallRows allCallRows() {
    CallRows rows;
    for (auto add : {addDocumentCalls, addRecordCalls, addRunCalls, addSettingsCalls, addFileCalls, addShellCalls, addReportCalls,
                     addShareCalls})
        add(rows);
    return rows;
}

std::shared_ptr<NativeBridge> NativeBridge::create(std::shared_ptr<SettingsStore> settings,
                                                   std::shared_ptr<UpdateSource> updates, fs::path demoFolder) {
    std::shared_ptr<NativeBridge> bridge(
        new NativeBridge(std::move(settings), std::move(updates), std::move(demoFolder)));
    bridge->connectEvents();
    return bridge;
}

NativeBridge::NativeBridge(std::shared_ptr<SettingsStore> settings, std::shared_ptr<UpdateSource> updates,
                           fs::path demoFolder)
    : settings_(std::move(settings)),
      updates_(std::move(updates)),
      demoFolder_(demoFolder.empty() ? fs::path(g_get_home_dir()) / "Desktop" / "TALLOWMARK Demo"
                                     : std::move(demoFolder)),
      menuState_(initialMenuState(settings_->settings())),
      script_(settings_),
      dispatcher_(script_.engine()) {
    // The dispatcher belongs to this bridge, so its rows may hold it plainly.
    for (CallRow& row : allCallRows()) {
        const bool edit = std::ranges::find(editsTheMarks, std::string_view(row.name)) != std::end(editsTheMarks);
        dispatcher_.add(row.name, [this, edit, run = std::move(row.run)](const BridgeArguments& a, ReplyHandle& r) {
            if (edit && script_.locked()) return r.fail(showLockedError);
            run(*this, a, r);
        });
    }
}

std::vector<std::string> NativeBridge::callNames() {
    return std::vector<std::string>(std::begin(registrationOrder), std::end(registrationOrder));
}

void NativeBridge::connectEvents() {
    auto self = shared_from_this();
    CueEngine& engine = script_.engine();
    // The desks hear of every change too, coalesced by the feedback itself.
    engine.onStateChange = weakly(self, [](NativeBridge& b) {
        b.dispatcher_.stateChanged();
        b.script_.feedback().stateChanged();
        b.share_.scriptChanged();
    });
    engine.onRunChange = weakly(self, [](NativeBridge& b, const CueEngine::RunChange& change) {
        b.dispatcher_.runChanged(change);
        b.script_.feedback().stateChanged();
        b.share_.runChanged();
    });
    // The sharing sheet and the remote status follow the screens.
    share_.onStatus = weakly(self, [](NativeBridge& b) { b.dispatcher_.emit("shareStatus", b.share_.status()); });
    share_.onLog = weakly(self, [](NativeBridge& b, const std::string& line) { b.hub().append(line, "seuraajat"); });
    // Every view flashes its GO button and standby panel once.
    engine.onGoIgnored = weakly(self, [](NativeBridge& b, const std::string& source, std::int64_t sinceMs) {
        b.dispatcher_.emit("goIgnored", {{"source", source}, {"sinceMs", sinceMs}});
    });
    // The store calls from its collecting thread; the page hears of it on the main thread.
    script_.store().setOnLinesCollected([weak = weak_from_this()](std::int64_t generation) {
        postToMain([weak, generation] {
            if (auto bridge = weak.lock()) bridge->linesCollected(generation);
        });
    });
    script_.store().setOnScanProgress([weak = weak_from_this()](const DocumentStore::ScanStatus& status) {
        postToMain([weak, status] {
            if (auto bridge = weak.lock()) bridge->scanProgressed(status);
        });
    });
    ControlHub& hub = script_.hub();
    hub.onLog = weakly(self, [](NativeBridge& b, const LogEntry& entry) { b.dispatcher_.emit("controlLog", toJson(entry)); });
    hub.onStatus = weakly(self, [](NativeBridge& b) { b.dispatcher_.emit("controlStatus", b.hub().status()); });
    hub.onPageCommand = weakly(self, [](NativeBridge& b, std::int64_t value, bool relative) {
        b.dispatcher_.emit("pageCommand", {{"value", value}, {"relative", relative}});
    });
    hub.onStateQuery = weakly(self, [](NativeBridge& b, const std::string& host, std::uint16_t port) {
        b.script_.feedback().answer(host, port);
    });
    hub.onDimCommand = weakly(self, [](NativeBridge& b, bool on) { b.dispatcher_.emit("dimCommand", {{"dim", on}}); });
    hub.onRawNote = weakly(self, [](NativeBridge& b, int note, int velocity, int channel) {
        b.dispatcher_.emit("midiEvent", {{"note", note}, {"velocity", velocity}, {"channel", channel}});
    });
}

void NativeBridge::showLockChanged() {
    const bool locked = script_.locked();
    if (script_.currentInfo()) {
        Json info = *script_.currentInfo();
        info["locked"] = locked;
        script_.setCurrentInfo(std::move(info));
    }
    dispatcher_.emit("showLock", {{"locked", locked}});
}

void NativeBridge::answerDocument(ReplyHandle& reply) {
    const std::optional<Json>& info = script_.currentInfo();
    if (!info) return reply.answer(nullptr);
    if (auto text = dispatcher_.withState(*info)) return reply.answerEncoded(*text);
    reply.answer(nullptr);
}

void NativeBridge::documentChanged(Json dict) {
    script_.setCurrentInfo(std::move(dict));
    if (auto text = dispatcher_.withState(*script_.currentInfo()))
        dispatcher_.emitEncoded("documentChanged", std::move(*text));
}

void NativeBridge::linesCollected(std::int64_t generation) {
    // Closed or replaced since: that script's geometry is no one's now.
    if (!script_.currentInfo() || generation != script_.store().documentGeneration()) return;
    const std::optional<DocumentStore::Info> info = script_.store().currentInfo();
    if (!info) return;
    Json dict = documentDictionary(script_, *info);
    // No crop came of it (no text, turned pages): nothing to lay out again.
    if (dict != *script_.currentInfo()) documentChanged(std::move(dict));
}

void NativeBridge::scanProgressed(const DocumentStore::ScanStatus& status) {
    if (!script_.currentInfo() || status.generation != script_.store().documentGeneration()) return;
    if (status.problem && !status.running) logSystem("skannattuja sivuja ei lueta: " + *status.problem);
    // A page read from the cache takes a millisecond: ten a second are enough
    // for the progress line, but the first and the last always go.
    const auto now = std::chrono::steady_clock::now();
    const bool edge = status.done == 0 || !status.running || status.done == status.total;
    if (!edge && now - lastScanEvent_ < std::chrono::milliseconds(100)) return;
    lastScanEvent_ = now;
    Json event = {{"generation", status.generation},
                  {"done", status.done},
                  {"total", status.total},
                  {"recognisedPages", status.recognisedPages}};
    if (status.problem) event["problem"] = *status.problem;
    dispatcher_.emit("scanProgress", event);
}

bool NativeBridge::openDocument(const fs::path& path) { return !openWith(path, script_.heldPasswordFor(path)); }

std::optional<PdfOpenError> NativeBridge::openWith(const fs::path& path, const std::string& password) {
    const DocumentStore::OpenResult opened = script_.open(path, password);
    if (!opened.info) return opened.problem;
    script_.setCurrentInfo(documentDictionary(script_, *opened.info));
    return std::nullopt;
}

void NativeBridge::openDocumentAsking(const fs::path& path, std::function<void(OpenOutcome)> done,
                                      std::string password) {
    if (password.empty()) password = script_.heldPasswordFor(path);
    const std::optional<PdfOpenError> problem = openWith(path, password);
    wipePassword(password);
    if (!problem) return done(OpenOutcome::opened);
    if (*problem != PdfOpenError::locked) return done(OpenOutcome::unreadable);
    // A password tried without asking was not the operator's: no "wrong password" yet.
    askPassword(path, /*retry=*/false, std::move(done));
}

void NativeBridge::askPassword(const fs::path& path, bool retry, std::function<void(OpenOutcome)> done) {
    auto dialogs = dialogs_.lock();
    if (!dialogs) return done(OpenOutcome::locked);
    const std::string name = path.filename().string();
    const PasswordRequest request{
        "\"" + name + "\" is protected with a password.",
        retry ? "That password is not right. Try again." : "Enter the password to open the script."};
    dialogs->askPassword(request, [weak = weak_from_this(), path, done = std::move(done)](
                                      std::optional<std::string> password) mutable {
        auto bridge = weak.lock();
        if (!bridge || !password) return done(OpenOutcome::cancelled);
        // Longer than any PDF password can be: wrong without asking poppler.
        const std::optional<PdfOpenError> problem = password->size() <= maxPasswordBytes
                                                        ? bridge->openWith(path, *password)
                                                        : std::optional(PdfOpenError::locked);
        wipePassword(*password);
        if (!problem) return done(OpenOutcome::opened);
        if (*problem == PdfOpenError::locked) return bridge->askPassword(path, /*retry=*/true, std::move(done));
        // Gone or changed on disk while the question was open.
        done(OpenOutcome::unreadable);
    });
}

void NativeBridge::answerOpen(OpenOutcome outcome, const fs::path& path, ReplyHandle& reply, const Json& cancelled) {
    switch (outcome) {
        case OpenOutcome::opened: return answerDocument(reply);
        case OpenOutcome::cancelled: return reply.answer(cancelled);
        case OpenOutcome::unreadable: return reply.answer(openFailure(path));
        case OpenOutcome::locked: return reply.answer(openFailure(path, /*locked=*/true));
    }
}

Json NativeBridge::openFailure(const fs::path& path, bool locked) {
    const std::string name = path.filename().string();
    if (locked) return {{"error", "\"" + name + "\" couldn't be opened \u2014 it is protected with a password."}};
    std::error_code error;
    if (!fs::exists(path, error))
        return {{"error", "\"" + name + "\" was not found \u2014 it may have been moved or deleted."}};
    return {{"error", "\"" + name + "\" couldn't be opened \u2014 it isn't a readable PDF (empty, damaged or not a PDF)."}};
}

}  // namespace tallowmark
