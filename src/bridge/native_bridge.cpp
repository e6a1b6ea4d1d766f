#include "bridge/native_bridge.hpp"

#include <algorithm>
#include <cstring>

#include "core/main_queue.hpp"
#include "core/system_log.hpp"
#include "settings/settings_rules.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

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

std::shared_ptr<NativeBridge> NativeBridge::create(std::shared_ptr<SettingsStore> settings,
                                                   std::shared_ptr<UpdateSource> updates) {
    std::shared_ptr<NativeBridge> bridge(new NativeBridge(std::move(settings), std::move(updates)));
    bridge->connectEvents();
    return bridge;
}

NativeBridge::NativeBridge(std::shared_ptr<SettingsStore> settings, std::shared_ptr<UpdateSource> updates)
    : documentStore_(std::make_shared<DocumentStore>()),
      settingsStore_(std::move(settings)),
      hub_(ControlHub::create(engine_, *settingsStore_)),
      updates_(std::move(updates)) {
    menuState_ = initialMenuState(settingsStore_->settings());
}

void NativeBridge::connectEvents() {
    auto self = shared_from_this();
    engine_.onStateChange = weakly(self, [](NativeBridge& b) {
        auto state = b.encodedState();
        if (!state) return;
        auto shared = std::make_shared<const std::string>(*state);
        for (const auto& channel : b.channels()) channel->sendState(shared);
        // The call that caused the change answers with this same text.
        b.stateOfThisCall_ = std::move(state);
    });
    // A GO changes a standby and a fired cue, not the marks: the page gets
    // that much, whatever the size of the show.
    engine_.onRunChange = weakly(self, [](NativeBridge& b, const CueEngine::RunChange& change) {
        const RunDelta delta = runDelta(b.engine_, change);
        for (const auto& channel : b.channels()) channel->sendRun(delta);
        b.runOfThisCall_ = dumpJson(delta.toJson(), -1);
    });
    // The store calls from its collecting thread; the page hears of it on the main thread.
    documentStore_->setOnLinesCollected([weak = weak_from_this()](std::int64_t generation) {
        postToMain([weak, generation] {
            if (auto bridge = weak.lock()) bridge->linesCollected(generation);
        });
    });
    hub_->onLog = weakly(self, [](NativeBridge& b, const LogEntry& entry) { b.emitToViews("controlLog", toJson(entry)); });
    hub_->onStatus = weakly(self, [](NativeBridge& b) { b.emitToViews("controlStatus", b.hub_->status()); });
    hub_->onPageCommand = weakly(self, [](NativeBridge& b, std::int64_t value, bool relative) {
        b.emitToViews("pageCommand", {{"value", value}, {"relative", relative}});
    });
    hub_->onDimCommand = weakly(self, [](NativeBridge& b, bool on) { b.emitToViews("dimCommand", {{"dim", on}}); });
    hub_->onRawNote = weakly(self, [](NativeBridge& b, int note, int velocity, int channel) {
        b.emitToViews("midiEvent", {{"note", note}, {"velocity", velocity}, {"channel", channel}});
    });
}

void NativeBridge::setWebView(std::weak_ptr<EventTransport> view) {
    webView_ = view;
    mainChannel_ = view.expired() ? nullptr : EventChannel::create(std::move(view));
}

void NativeBridge::setConfidenceWebView(std::weak_ptr<EventTransport> view) {
    monitorChannel_ = view.expired() ? nullptr : EventChannel::create(std::move(view));
}

std::vector<std::shared_ptr<EventChannel>> NativeBridge::channels() const {
    std::vector<std::shared_ptr<EventChannel>> targets;
    if (mainChannel_) targets.push_back(mainChannel_);
    if (monitorChannel_) targets.push_back(monitorChannel_);
    return targets;
}

// One text for both views: an event is encoded once, however many views show it.
void NativeBridge::emitToViews(const std::string& name, const Json& payload) {
    auto targets = channels();
    if (targets.empty()) return;
    auto text = BridgeEvents::payloadText(name, payload);
    if (!text) return;
    auto shared = std::make_shared<const std::string>(std::move(*text));
    for (const auto& channel : targets) channel->send(name, shared);
}

void NativeBridge::emitToMainView(const std::string& name, const Json& payload) {
    if (!mainChannel_) return;
    if (auto text = BridgeEvents::payloadText(name, payload))
        mainChannel_->send(name, std::make_shared<const std::string>(std::move(*text)));
}

std::optional<std::string> NativeBridge::encodedState() {
    auto state = stateEncoder_.encode(engine_);
    if (!state) logSystem("BridgeEvents.emit - failed to encode event 'cueState'");
    return state;
}

void NativeBridge::answerRun(ReplyHandle& r) {
    if (runOfThisCall_) return r.answerEncoded(*runOfThisCall_);
    // Nothing changed (a GO past the last cue): the run as it stands, as a
    // change of nothing, so the page reads every reply the same way.
    CueEngine::RunChange none;
    none.from = none.seq = engine_.changeCount();
    r.answerEncoded(dumpJson(runDelta(engine_, none).toJson(), -1));
}

void NativeBridge::answerState(ReplyHandle& r) {
    // The engine reports every change last, after it is complete, so a state
    // encoded for the event of this call is the current one.
    if (stateOfThisCall_) {
        r.answerEncoded(*stateOfThisCall_);
    } else if (auto state = encodedState()) {
        r.answerEncoded(*state);
    } else {
        r.answer(stateDictionary());
    }
}

std::vector<std::string> NativeBridge::callNames() {
    std::vector<std::string> names;
    for (const Row& row : rows()) names.emplace_back(row.name);
    return names;
}

void NativeBridge::receive(const BridgeCall& call, ReplyHandle reply) {
    if (!call.mainFrame || !pageGuard_ || !pageGuard_->allows(call.frameURL)) {
        logSystem("siltakutsu hylatty: " + call.name + " " + call.frameURL.value_or("?"));
        reply.fail("ei sallittu");
        return;
    }
    const BridgeArguments arguments(call.body);
    for (const Row& row : rows()) {
        if (call.name == row.name) {
            stateOfThisCall_.reset();
            runOfThisCall_.reset();
            (this->*row.handler)(arguments, reply);
            stateOfThisCall_.reset();
            runOfThisCall_.reset();
            return;
        }
    }
    reply.fail("tuntematon funktio: " + call.name);
}

Json NativeBridge::documentDictionary(const DocumentStore::Info& info) {
    Json dict = {{"path", pathToJson(info.path)},
                 {"title", info.title},
                 {"pageCount", info.pageCount},
                 {"aspects", numberList(info.aspects)},
                 {"crop", numberList(cropList(documentStore_->manualCrop()))},
                 {"autoCrop", numberList(cropList(documentStore_->automaticCrop()))},
                 {"cropRects", cropRects(info.pageCount)}};
    // Until the crop is known the page places and exports nothing: every
    // mark is kept in fractions of the cropped page.
    if (!documentStore_->linesComplete()) dict["linesPending"] = true;
    // A marks file too large to read, or one repaired: the page says so where the script opens.
    if (!engine_.loadWarning().empty()) dict["warning"] = engine_.loadWarning();
    return dict;
}

// The state is the bulk of a big show's document (every cue); its text comes
// from the encoder, which keeps the text of lists that did not change.
std::optional<std::string> NativeBridge::documentText(const Json& dict) {
    const std::optional<std::string> state = encodedState();
    if (!state) return std::nullopt;
    std::string text = dumpJson(dict, -1);
    text.pop_back();  // the closing brace
    if (text.size() > 1) text += ',';
    text += "\"state\":";
    text += *state;
    text += '}';
    return text;
}

void NativeBridge::linesCollected(std::int64_t generation) {
    // Closed or replaced since: that script's geometry is no one's now.
    if (!currentInfo_ || generation != documentStore_->documentGeneration()) return;
    const std::optional<DocumentStore::Info> info = documentStore_->currentInfo();
    if (!info) return;
    Json dict = documentDictionary(*info);
    // No crop came of it (no text, turned pages): nothing to lay out again.
    if (dict == *currentInfo_) return;
    currentInfo_ = std::move(dict);
    if (auto text = documentText(*currentInfo_)) {
        auto shared = std::make_shared<const std::string>(std::move(*text));
        for (const auto& channel : channels()) channel->send("documentChanged", shared);
    }
}

void NativeBridge::answerDocument(ReplyHandle& r) {
    if (!currentInfo_) return r.answer(nullptr);
    if (auto text = documentText(*currentInfo_)) return r.answerEncoded(*text);
    r.answer(nullptr);
}

// Each page's crop as a frame of its whole page, y down: the page turns a frame
// drawn on any page into a crop, and back, with these. A page shown whole is
// the whole page.
Json NativeBridge::cropRects(int pageCount) const {
    Json rects = Json::array();
    for (int i = 0; i < pageCount; ++i) {
        rects.push_back(numberList(documentStore_->pageCrop(i).value_or(PageCrop{0, 0, 1, 1}).list()));
    }
    return rects;
}

bool NativeBridge::openDocument(const fs::path& path) { return !openWith(path, heldPasswordFor(path)); }

std::string NativeBridge::heldPasswordFor(const fs::path& path) {
    const std::optional<fs::path> open = scriptPath();
    std::error_code error;
    if (!open || !fs::equivalent(*open, path, error)) return {};
    return documentStore_->password();
}

std::optional<PdfOpenError> NativeBridge::openWith(const fs::path& path, const std::string& password) {
    // A long script answers before its lines are all in: its first page is
    // drawn meanwhile, and its crop follows as "documentChanged".
    DocumentStore::OpenResult opened = documentStore_->openScript(path, password, DocumentStore::Lines::inBackground);
    if (!opened.info) return opened.problem;
    std::optional<DocumentStore::Info> info = std::move(opened.info);
    if (settingsStore_->settings().dropPageNumbers) {
        if (auto dropped = documentStore_->setDropPageNumbers(true)) info = std::move(dropped);
    }
    engine_.loadSidecar(path);
    if (!engine_.sidecar().crop.empty()) {
        if (auto cropped = documentStore_->setCrop(cropFromList(engine_.sidecar().crop))) info = std::move(cropped);
    }
    settingsStore_->noteRecent(info->path);
    currentInfo_ = documentDictionary(*info);
    return std::nullopt;
}

void NativeBridge::openDocumentAsking(const fs::path& path, std::function<void(OpenOutcome)> done,
                                      std::string password) {
    if (password.empty()) password = heldPasswordFor(path);
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

bool NativeBridge::ensureWindowWidth(std::int64_t width) {
    if (width <= 0) return false;
    auto window = window_.lock();
    if (!window || webView_.expired()) return false;
    WindowFrame frame = window->frame();
    const double wanted = static_cast<double>(width);
    if (frame.width >= wanted) return true;
    if (window->isFullScreen()) return false;
    const std::optional<WindowFrame> screen = window->screenVisibleFrame();
    if (!screen) return false;
    frame.width = std::min(wanted, screen->width);
    const double screenRight = screen->x + screen->width;
    if (frame.x + frame.width > screenRight) frame.x = std::max(screenRight - frame.width, screen->x);
    window->setFrame(frame);
    return frame.width >= wanted;
}

void NativeBridge::applyWindowMinimum() {
    auto window = window_.lock();
    if (!window || webView_.expired()) return;
    // Maximised text needs only a narrow column; the full view needs the sidebar too.
    const double minimumWidth = settingsStore_->settings().maxText ? 360 : 600;
    window->setMinimumSize(minimumWidth, 620);
    if (!window->isFullScreen() && window->frame().width < minimumWidth)
        ensureWindowWidth(static_cast<std::int64_t>(minimumWidth));
}

Json NativeBridge::stateDictionary() const { return tallowmark::stateDictionary(engine_); }

Json NativeBridge::settingsDictionary() const { return tallowmark::settingsDictionary(settingsStore_->settings()); }

void NativeBridge::applySettings(const Json& dict) {
    const Settings before = settingsStore_->settings();
    const Settings after = applyPageSettings(before, dict);
    if (after.dropPageNumbers != before.dropPageNumbers) {
        if (auto info = documentStore_->setDropPageNumbers(after.dropPageNumbers)) {
            currentInfo_ = documentDictionary(*info);
            if (auto text = documentText(*currentInfo_)) {
                auto shared = std::make_shared<const std::string>(std::move(*text));
                for (const auto& channel : channels()) channel->send("documentChanged", shared);
            }
        }
    }
    settingsStore_->setSettings(after);
    if (after.maxText != before.maxText) {
        applyWindowMinimum();
        auto titleBar = titleBar_.lock();
        if (titleBar && titleBar->wanted() != after.maxText) titleBar->setWanted(after.maxText);
    }
    if (after.oscPort != before.oscPort || after.oscEnabled != before.oscEnabled ||
        after.oscLocalOnly != before.oscLocalOnly)
        hub_->restartOSC();
}

}  // namespace tallowmark
