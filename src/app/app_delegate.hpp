#pragma once

// The interactive application: builds the main window and its web view, wires
// the bridge, loads the page, opens the first script, starts remote control,
// shows the confidence monitor, routes menu commands to the page, and ends the
// process through the quit handshake. Main thread only; lives for the process.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "app/app_menu.hpp"
#include "app/app_web_view.hpp"
#include "app/gtk_bridge_shell.hpp"
#include "app/model/live_reload.hpp"
#include "bridge/native_bridge.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

class TitleBarController;
class StartupPicker;
class ShellUpdates;

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
public:
    static std::shared_ptr<AppDelegate> create(GtkApplication* app);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // GApplication's signals.
    void startup();
    void activate();
    void open(const std::vector<std::string>& paths);

    // Ctrl+Q, closing the main window and SIGTERM: the page gets to commit a
    // field being edited, then the process ends, within 1.5 s in any case.
    void requestQuit();

private:
    explicit AppDelegate(GtkApplication* app);
    NativeBridge& bridge();
    ShellUpdates& updates();
    void offerUpdateInPicker(const std::string& stamp);
    void launch();
    void finishLaunch();
    void openDocument(const std::string& path, bool announceFailure);
    void emitToPage(const std::string& name, const Json& payload);
    void onMenuItem(const MenuItem& item);
    void clearRecents();
    void refreshMenus();
    void toggleConfidenceMonitor();
    void closedConfidenceMonitor();
    void checkForUpdates();
    void reloadPages();
    void finishQuit();
    std::string buildStamp() const;
    WebKitWebView* focusedWebView() const;
    GtkWindow* activeWindow() const;

    GtkApplication* app_;
    GtkWindow* window_ = nullptr;
    std::shared_ptr<AppWebView> webView_;
    std::shared_ptr<TitleBarController> titleBar_;
    std::shared_ptr<SettingsStore> settingsStore_;
    std::shared_ptr<NativeBridge> nativeBridge_;
    std::shared_ptr<ShellUpdates> updates_;
    std::shared_ptr<PageGuard> pageGuard_;
    GtkWindow* confidenceWindow_ = nullptr;
    std::shared_ptr<AppWebView> confidenceView_;
    std::optional<std::string> pendingDocument_;
    std::unique_ptr<AppMenu> menu_;
    std::shared_ptr<GtkBridgeShell> bridgeShell_;
    std::shared_ptr<BridgeDialogs> dialogs_;
    std::shared_ptr<StartupPicker> picker_;
    std::optional<std::string> pagePath_;
    std::unique_ptr<LiveReload> liveReload_;
    bool launchStarted_ = false;
    bool quitRequested_ = false;
    bool quitDone_ = false;
    guint signalSources_[3] = {0, 0, 0};
};

}  // namespace tallowmark
