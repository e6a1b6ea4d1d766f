#pragma once

// The one object the page talks to: every call arrives here by name with its
// argument list, is admitted or refused, and is answered exactly once. Owns the
// open script, the cue engine and the control hub; shares the settings store.
// Main thread only, except the work it hands to the background pool.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_arguments.hpp"
#include "bridge/bridge_interfaces.hpp"
#include "bridge/bridge_records.hpp"
#include "bridge/navigation_guard.hpp"
#include "bridge/state_encoder.hpp"
#include "control/control_hub.hpp"
#include "cues/cue_engine.hpp"
#include "document/document_store.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

struct BridgeCall {
    std::string name;
    Json body;                             // the argument list
    std::optional<std::string> frameURL;  // of the calling frame's request
    bool mainFrame = false;
};

class NativeBridge : public std::enable_shared_from_this<NativeBridge> {
public:
    static std::shared_ptr<NativeBridge> create(std::shared_ptr<SettingsStore> settings,
                                                std::shared_ptr<UpdateSource> updates);
    NativeBridge(const NativeBridge&) = delete;
    NativeBridge& operator=(const NativeBridge&) = delete;

    // Set by the shell once its pieces exist; all held weakly but the guard.
    void setWebView(std::weak_ptr<EventTransport> view);
    void setConfidenceWebView(std::weak_ptr<EventTransport> view);
    void setWindow(std::weak_ptr<BridgeWindow> window) { window_ = std::move(window); }
    void setDialogs(std::weak_ptr<BridgeDialogs> dialogs) { dialogs_ = std::move(dialogs); }
    void setTitleBar(std::weak_ptr<BridgeTitleBar> titleBar) { titleBar_ = std::move(titleBar); }
    void setPageGuard(std::shared_ptr<const PageGuard> guard) { pageGuard_ = std::move(guard); }

    // The names the shell registers, in registration order.
    static std::vector<std::string> callNames();

    void receive(const BridgeCall& call, ReplyHandle reply);

    // Opens the script with its marks; false when the file is not a readable
    // PDF, or is locked and the password of the open script does not unlock
    // it (a reopen of the same file needs no question). The document
    // dictionary is then the current one ("currentDocument").
    bool openDocument(const std::filesystem::path& path);
    // How an open that may ask the operator ended. `locked`: the script needs
    // a password and there is no one to ask.
    enum class OpenOutcome { opened, unreadable, locked, cancelled };
    // As openDocument, but a locked script asks for its password, and asks
    // again after a wrong one, until it opens or the operator cancels.
    // `password` is tried first, without asking (a copy of the open script).
    // `done` runs exactly once: at once when no question was needed.
    void openDocumentAsking(const std::filesystem::path& path, std::function<void(OpenOutcome)> done,
                            std::string password = {});
    // The page's failure dictionary for a script that did not open.
    static Json openFailure(const std::filesystem::path& path, bool locked = false);
    bool ensureWindowWidth(std::int64_t width);
    // An event of the shell's own (menu commands, window chrome, updates) for
    // the main window's page, in line with the bridge's own events.
    void emitToMainView(const std::string& name, const Json& payload);
    void applyWindowMinimum();
    Json stateDictionary() const;
    Json settingsDictionary() const;
    void applySettings(const Json& dict);

    // "Desktop/TALLOWMARK Demo" in the home folder unless a test moves it.
    void setDemoFolderForTesting(std::filesystem::path folder) { demoFolder_ = std::move(folder); }

    const MenuState& menuState() const { return menuState_; }
    // Runs after each menu-state report of the page, so the shell's menus follow it.
    std::function<void()> onMenuStateChange;
    CueEngine& engine() { return engine_; }
    ControlHub& hub() { return *hub_; }
    // The open script's store, for the page images the shell serves by address.
    std::weak_ptr<DocumentStore> documents() const { return documentStore_; }

private:
    using Handler = void (NativeBridge::*)(const BridgeArguments&, ReplyHandle&);
    struct Row {
        const char* name;
        Handler handler;
    };
    static const std::vector<Row>& rows();

    NativeBridge(std::shared_ptr<SettingsStore> settings, std::shared_ptr<UpdateSource> updates);
    void connectEvents();
    std::vector<std::shared_ptr<EventChannel>> channels() const;
    void emitToViews(const std::string& name, const Json& payload);
    // The state snapshot as JSON text; the calls that edit answer with it.
    std::optional<std::string> encodedState();
    void answerState(ReplyHandle& r);
    // The run calls answer with their own run change.
    void answerRun(ReplyHandle& r);
    // The document dictionary without its state, as kept in currentInfo_.
    Json documentDictionary(const DocumentStore::Info& info);
    // A document dictionary with the state of this moment, as JSON text.
    std::optional<std::string> documentText(const Json& dict);
    // Answers the current document dictionary (null when none is open).
    void answerDocument(ReplyHandle& r);
    Json cropRects(int pageCount) const;
    // The lines of the script opened as `generation` are all in and its crop
    // is known: the page gets the new geometry, once ("documentChanged").
    void linesCollected(std::int64_t generation);

    // Rows of the call table (native_bridge_calls.cpp).
    void openDocumentPathCall(const BridgeArguments& a, ReplyHandle& r);
    void closeDocumentCall(const BridgeArguments& a, ReplyHandle& r);
    void currentDocumentCall(const BridgeArguments& a, ReplyHandle& r);
    void renderPageCall(const BridgeArguments& a, ReplyHandle& r);
    void searchDocumentCall(const BridgeArguments& a, ReplyHandle& r);
    void pageTextCall(const BridgeArguments& a, ReplyHandle& r);
    void textRectCall(const BridgeArguments& a, ReplyHandle& r);
    void pageLinesCall(const BridgeArguments& a, ReplyHandle& r);
    void allPageLinesCall(const BridgeArguments& a, ReplyHandle& r);
    void setCropCall(const BridgeArguments& a, ReplyHandle& r);
    void ensureWindowWidthCall(const BridgeArguments& a, ReplyHandle& r);
    void windowChromeCall(const BridgeArguments& a, ReplyHandle& r);
    void getStateCall(const BridgeArguments& a, ReplyHandle& r);
    void getSettingsCall(const BridgeArguments& a, ReplyHandle& r);
    void setSettingsCall(const BridgeArguments& a, ReplyHandle& r);
    void getControlStatusCall(const BridgeArguments& a, ReplyHandle& r);
    void getLogCall(const BridgeArguments& a, ReplyHandle& r);
    void upsertCueCall(const BridgeArguments& a, ReplyHandle& r);
    void removeCueCall(const BridgeArguments& a, ReplyHandle& r);
    void upsertCuesCall(const BridgeArguments& a, ReplyHandle& r);
    void removeCuesCall(const BridgeArguments& a, ReplyHandle& r);
    void renumberCuesCall(const BridgeArguments& a, ReplyHandle& r);
    void upsertMarksCall(const BridgeArguments& a, ReplyHandle& r);
    void removeMarksCall(const BridgeArguments& a, ReplyHandle& r);
    void standbyCueCall(const BridgeArguments& a, ReplyHandle& r);
    void setSpreadOffsetCall(const BridgeArguments& a, ReplyHandle& r);
    void restoreRunCall(const BridgeArguments& a, ReplyHandle& r);
    void discardRunCall(const BridgeArguments& a, ReplyHandle& r);
    void upsertMarkCall(const BridgeArguments& a, ReplyHandle& r);
    void removeMarkCall(const BridgeArguments& a, ReplyHandle& r);
    void upsertFlagCall(const BridgeArguments& a, ReplyHandle& r);
    void removeFlagCall(const BridgeArguments& a, ReplyHandle& r);
    void upsertMemoCall(const BridgeArguments& a, ReplyHandle& r);
    void removeMemoCall(const BridgeArguments& a, ReplyHandle& r);
    void upsertInsertCall(const BridgeArguments& a, ReplyHandle& r);
    void removeInsertCall(const BridgeArguments& a, ReplyHandle& r);
    void setPageLabelOffsetCall(const BridgeArguments& a, ReplyHandle& r);
    void setPageTextCall(const BridgeArguments& a, ReplyHandle& r);
    void goCall(const BridgeArguments& a, ReplyHandle& r);
    void backCall(const BridgeArguments& a, ReplyHandle& r);
    void resetCall(const BridgeArguments& a, ReplyHandle& r);
    void undoCall(const BridgeArguments& a, ReplyHandle& r);
    void redoCall(const BridgeArguments& a, ReplyHandle& r);
    void reportPageCall(const BridgeArguments& a, ReplyHandle& r);
    void menuStateCall(const BridgeArguments& a, ReplyHandle& r);
    void debugLogCall(const BridgeArguments& a, ReplyHandle& r);
    void updateStatusCall(const BridgeArguments& a, ReplyHandle& r);
    void installUpdateCall(const BridgeArguments& a, ReplyHandle& r);

    // One open attempt: none when it opened, else why not.
    std::optional<PdfOpenError> openWith(const std::filesystem::path& path, const std::string& password);
    // The password to try first on `path`: the open script's, when it is the same file.
    std::string heldPasswordFor(const std::filesystem::path& path);
    void askPassword(const std::filesystem::path& path, bool retry, std::function<void(OpenOutcome)> done);
    // The reply of the calls that open a script: the document, the failure
    // dictionary, or `cancelled` (null or "").
    void answerOpen(OpenOutcome outcome, const std::filesystem::path& path, ReplyHandle& reply,
                    const Json& cancelled);

    // File and dialog rows (native_bridge_files.cpp).
    std::optional<std::filesystem::path> scriptPath();
    void openDocumentPanelCall(const BridgeArguments& a, ReplyHandle& r);
    void revealSidecarCall(const BridgeArguments& a, ReplyHandle& r);
    void saveSidecarCall(const BridgeArguments& a, ReplyHandle& r);
    void saveScriptAsCall(const BridgeArguments& a, ReplyHandle& r);
    void importSidecarCall(const BridgeArguments& a, ReplyHandle& r);
    void offerMarksCall(const BridgeArguments& a, ReplyHandle& r);
    void makeDemoCall(const BridgeArguments& a, ReplyHandle& r);
    void exportMarkedPDFCall(const BridgeArguments& a, ReplyHandle& r);

    MenuState menuState_;
    std::weak_ptr<EventTransport> webView_;
    // One per view: each page takes its events at its own pace.
    std::shared_ptr<EventChannel> mainChannel_;
    std::shared_ptr<EventChannel> monitorChannel_;
    std::weak_ptr<BridgeWindow> window_;
    std::weak_ptr<BridgeDialogs> dialogs_;
    std::weak_ptr<BridgeTitleBar> titleBar_;
    std::shared_ptr<const PageGuard> pageGuard_;
    // Shared only so that background work can hold it weakly: a render that
    // outlives the bridge then finds no store, and the bridge itself is never
    // destroyed on a worker thread.
    std::shared_ptr<DocumentStore> documentStore_;
    CueEngine engine_;
    StateEncoder stateEncoder_;
    // The state text of the last change made by the call in progress, if any.
    std::optional<std::string> stateOfThisCall_;
    // The run change made by the call in progress, if any, as JSON text.
    std::optional<std::string> runOfThisCall_;
    std::shared_ptr<SettingsStore> settingsStore_;
    std::shared_ptr<ControlHub> hub_;
    std::shared_ptr<UpdateSource> updates_;
    std::int64_t visiblePage_ = 0;
    // Without "state": that is added, as it is then, whenever it is sent.
    std::optional<Json> currentInfo_;
    std::optional<std::filesystem::path> demoFolder_;
};

}  // namespace tallowmark
