#pragma once

// The one object the page talks to, and what the shell holds. The dispatcher
// admits and answers the calls, whose rows live in the files of their domain
// (bridge_calls.hpp); the open script owns the store, the engine and the hub;
// the settings store is shared with the shell. Main thread only, except the
// work the calls hand to the background pool.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_dispatcher.hpp"
#include "bridge/bridge_interfaces.hpp"
#include "bridge/bridge_records.hpp"
#include "bridge/navigation_guard.hpp"
#include "bridge/open_script.hpp"
#include "bridge/share_screens.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

// What a call that would edit the marks of a locked show answers.
inline constexpr const char* showLockedError = "The show is locked - unlock it to edit the marks";

class NativeBridge : public std::enable_shared_from_this<NativeBridge> {
public:
    // `demoFolder`: where "makeDemo" writes the demo script; empty for
    // "Desktop/TALLOWMARK Demo" in the home folder.
    static std::shared_ptr<NativeBridge> create(std::shared_ptr<SettingsStore> settings,
                                                std::shared_ptr<UpdateSource> updates,
                                                std::filesystem::path demoFolder = {});
    NativeBridge(const NativeBridge&) = delete;
    NativeBridge& operator=(const NativeBridge&) = delete;

    // Set by the shell once its pieces exist; all held weakly but the guard.
    void setWebView(std::weak_ptr<EventTransport> view) { dispatcher_.setMainView(std::move(view)); }
    void setConfidenceWebView(std::weak_ptr<EventTransport> view) { dispatcher_.setMonitorView(std::move(view)); }
    void setShell(std::weak_ptr<BridgeShell> shell) { shell_ = std::move(shell); }
    void setDialogs(std::weak_ptr<BridgeDialogs> dialogs) { dialogs_ = std::move(dialogs); }
    void setPageGuard(std::shared_ptr<const PageGuard> guard) { dispatcher_.setPageGuard(std::move(guard)); }

    // The names the shell registers, in registration order.
    static std::vector<std::string> callNames();
    void receive(const BridgeCall& call, ReplyHandle reply) { dispatcher_.receive(call, std::move(reply)); }

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
    // An event of the shell's own (menu commands, window chrome, updates) for
    // the main window's page, in line with the bridge's own events.
    void emitToMainView(const std::string& name, const Json& payload) { dispatcher_.emitToMain(name, payload); }

    const MenuState& menuState() const { return menuState_; }
    // Runs after each menu-state report of the page, so the shell's menus follow it.
    std::function<void()> onMenuStateChange;
    CueEngine& engine() { return script_.engine(); }
    ControlHub& hub() { return script_.hub(); }
    // The open script's store, for the page images the shell serves by address.
    std::weak_ptr<DocumentStore> documents() const { return script_.weakStore(); }

    // --- for the rows of the calls ---
    OpenScript& script() { return script_; }
    BridgeDispatcher& dispatcher() { return dispatcher_; }
    SettingsStore& settings() { return *settings_; }
    UpdateSource& updates() { return *updates_; }
    std::shared_ptr<BridgeDialogs> dialogs() const { return dialogs_.lock(); }
    std::shared_ptr<BridgeShell> shell() const { return shell_.lock(); }
    const std::filesystem::path& demoFolder() const { return demoFolder_; }
    void setMenuState(const MenuState& state) { menuState_ = state; }
    // The follower screens ("Share to Screens").
    ShareScreens& share() { return share_; }
    // Answers the current document dictionary with the state of this moment;
    // null when none is open.
    void answerDocument(ReplyHandle& reply);
    // The reply of the calls that open a script: the document, the failure
    // dictionary, or `cancelled` (null or "").
    void answerOpen(OpenOutcome outcome, const std::filesystem::path& path, ReplyHandle& reply,
                    const Json& cancelled);
    // The open script was read again: `dict` becomes the current document
    // dictionary and the page gets the new geometry ("documentChanged").
    void documentChanged(Json dict);
    // After a lock or unlock of the open script: every view hears "showLock".
    void showLockChanged();

private:
    NativeBridge(std::shared_ptr<SettingsStore> settings, std::shared_ptr<UpdateSource> updates,
                 std::filesystem::path demoFolder);
    void connectEvents();
    // One open attempt: none when it opened, else why not.
    std::optional<PdfOpenError> openWith(const std::filesystem::path& path, const std::string& password);
    void askPassword(const std::filesystem::path& path, bool retry, std::function<void(OpenOutcome)> done);
    // The lines of the script opened as `generation` are all in and its crop
    // is known: the page gets the new geometry, once.
    void linesCollected(std::int64_t generation);
    void scanProgressed(const DocumentStore::ScanStatus& status);
    std::chrono::steady_clock::time_point lastScanEvent_{};

    std::shared_ptr<SettingsStore> settings_;
    std::shared_ptr<UpdateSource> updates_;
    std::filesystem::path demoFolder_;
    MenuState menuState_;
    std::weak_ptr<BridgeDialogs> dialogs_;
    std::weak_ptr<BridgeShell> shell_;
    OpenScript script_;
    BridgeDispatcher dispatcher_;
    // After the script it follows.
    ShareScreens share_{script_, *settings_};
};

}  // namespace tallowmark
