#include "app/app_delegate.hpp"

#include <csignal>
#include <filesystem>

#include <glib-unix.h>

#include "app/gtk_dialogs.hpp"
#include "app/help_actions.hpp"
#include "app/model/app_resources.hpp"
#include "app/model/launch_rules.hpp"
#include "app/model/menu_model.hpp"
#include "app/model/shell_updates.hpp"
#include "app/startup_picker.hpp"
#include "app/title_bar.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"
#include "update/build_info.hpp"

namespace tallowmark {

namespace {

constexpr const char* appName = "TALLOWMARK";
// The page answers the blur script at once; a little time after that lets the
// bridge calls it caused (a field's save) arrive. 1.5 s bounds a page that hangs.
constexpr guint quitAfterAnswerMs = 150;
constexpr guint quitFallbackMs = 1500;

// Runs `task` after `ms` on the main loop.
void runAfter(guint ms, std::function<void()> task) {
    auto* heap = new std::function<void()>(std::move(task));
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, ms,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        heap, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

template <class Fn>
std::function<void()> weakly(const std::shared_ptr<AppDelegate>& self, Fn fn) {
    return [weak = std::weak_ptr<AppDelegate>(self), fn] {
        if (auto strong = weak.lock()) fn(*strong);
    };
}

}  // namespace

std::shared_ptr<AppDelegate> AppDelegate::create(GtkApplication* app) {
    return std::shared_ptr<AppDelegate>(new AppDelegate(app));
}

AppDelegate::AppDelegate(GtkApplication* app)
    : app_(app), settingsStore_(std::make_shared<SettingsStore>(false)) {}

AppDelegate::~AppDelegate() {
    for (guint source : signalSources_) {
        if (source) g_source_remove(source);
    }
    if (nativeBridge_) nativeBridge_->onMenuStateChange = nullptr;
}

ShellUpdates& AppDelegate::updates() {
    if (!updates_) {
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        updates_ = std::make_shared<ShellUpdates>(
            update::UpdateManager::shared(),
            [weak](const std::string& event, const Json& payload) {
                if (auto d = weak.lock()) d->emitToPage(event, payload);
            },
            // A new build is in place and started: end through the same handshake as Quit.
            [weak] {
                if (auto d = weak.lock()) d->requestQuit();
            });
        updates_->onAvailable([weak](const std::string& stamp) {
            if (auto d = weak.lock()) d->offerUpdateInPicker(stamp);
        });
    }
    return *updates_;
}

void AppDelegate::offerUpdateInPicker(const std::string& stamp) {
    if (!picker_) return;
    picker_->setUpdateAvailable(stamp, [weak = weak_from_this()](std::function<void(std::string, bool)> progress) {
        auto d = weak.lock();
        if (!d) return;
        d->updates().install([progress](const std::string& text, bool failed) {
            if (progress) progress(text, failed);
        });
    });
}

NativeBridge& AppDelegate::bridge() {
    if (!nativeBridge_) {
        updates();
        nativeBridge_ = NativeBridge::create(settingsStore_, updates_);
        nativeBridge_->onMenuStateChange = weakly(shared_from_this(), [](AppDelegate& d) { d.refreshMenus(); });
    }
    return *nativeBridge_;
}

std::string AppDelegate::buildStamp() const { return update::runningBuild().stamp; }

void AppDelegate::startup() {
    std::weak_ptr<AppDelegate> weak = shared_from_this();
    menu_ = std::make_unique<AppMenu>(
        app_, AppMenu::Handlers{
                  [weak](const MenuItem& item) {
                      if (auto d = weak.lock()) d->onMenuItem(item);
                  },
                  [weak](const std::string& path) {
                      if (auto d = weak.lock()) d->emitToPage("openPath", {{"path", path}});
                  },
                  [weak] {
                      if (auto d = weak.lock()) d->clearRecents();
                  }});
    gtk_application_set_menubar(app_, menu_->model());
    refreshMenus();

    // A service manager's stop (SIGTERM) and Ctrl+C in a terminal end the show
    // file as cleanly as the menu's Quit does.
    int index = 0;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        signalSources_[index++] = g_unix_signal_add(
            signal,
            [](gpointer data) -> gboolean {
                static_cast<AppDelegate*>(data)->requestQuit();
                return G_SOURCE_CONTINUE;
            },
            this);
    }
}

void AppDelegate::activate() {
    if (!launchStarted_) {
        launch();
        return;
    }
    if (window_) gtk_window_present(window_);
}

void AppDelegate::open(const std::vector<std::string>& paths) {
    const auto path = firstPdfPath(paths);
    if (!path) {
        // Nothing to open, but a first start still shows the program.
        if (!launchStarted_) launch();
        return;
    }
    if (webView_) {
        openDocument(*path, false);
        if (window_) gtk_window_present(window_);
        return;
    }
    pendingDocument_ = path;
    if (picker_) {
        // The picker's completion continues the launch with this script.
        auto picker = picker_;
        picker->finish(StartupChoice{path});
        return;
    }
    if (!launchStarted_) launch();
}

void AppDelegate::launch() {
    launchStarted_ = true;
    updates().checkAtLaunch();
    dialogs_ = std::make_shared<GtkBridgeDialogs>([weak = weak_from_this()]() -> GtkWindow* {
        auto d = weak.lock();
        if (!d) return nullptr;
        return d->window_ ? d->window_ : gtk_application_get_active_window(d->app_);
    });
    if (!pendingDocument_) {
        StartupPickerOptions options;
        options.recentPaths = settingsStore_->settings().recentDocuments;
        options.theme = settingsStore_->settings().themeName;
        options.recentLimit = 10;
        options.recentCollapsed = true;
        options.buildStamp = buildStamp();
        options.dialogs = dialogs_;
        options.onRecentsChanged = [weak = weak_from_this()](std::vector<std::string> recents) {
            auto d = weak.lock();
            if (!d) return;
            Settings settings = d->settingsStore_->settings();
            settings.recentDocuments = std::move(recents);
            d->settingsStore_->setSettings(std::move(settings));
        };
        // GTK has no nested modal loop: the launch goes on in the completion.
        // The hold keeps the application alive while the picker is its only window.
        g_application_hold(G_APPLICATION(app_));
        picker_ = StartupPicker::present(app_, std::move(options), [weak = weak_from_this()](StartupChoice choice) {
            auto d = weak.lock();
            if (!d) return;
            d->picker_.reset();
            if (choice.path) d->pendingDocument_ = choice.path;
            // On the next turn: the picker's quit button ends it and then asks
            // for quit, which must find no window to build.
            postToMain(weakly(d, [](AppDelegate& e) {
                e.finishLaunch();
                g_application_release(G_APPLICATION(e.app_));
            }));
        });
        // An update found by an earlier check shows at once; a later find through onAvailable.
        if (auto stamp = updates().availableStamp()) offerUpdateInPicker(*stamp);
        return;
    }
    finishLaunch();
}

void AppDelegate::finishLaunch() {
    if (window_ || quitDone_) return;
    const Settings& settings = settingsStore_->settings();
    NativeBridge& nativeBridge = bridge();

    window_ = GTK_WINDOW(gtk_application_window_new(app_));
    gtk_window_set_title(window_, appName);
    gtk_window_set_default_size(window_, mainWindowSize.width, mainWindowSize.height);
    const WindowSize minimum = mainWindowMinimum(settings.maxText);
    gtk_widget_set_size_request(GTK_WIDGET(window_), minimum.width, minimum.height);
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window_), TRUE);
    GtkWidget* headerBar = gtk_header_bar_new();
    gtk_window_set_titlebar(window_, headerBar);
    g_signal_connect(window_, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                         auto* self = static_cast<AppDelegate*>(data);
                         if (self->quitDone_) return FALSE;
                         self->requestQuit();
                         return TRUE;
                     }),
                     this);
    g_signal_connect(window_, "notify::is-active", G_CALLBACK(+[](GObject* window, GParamSpec*, gpointer data) {
                         auto* self = static_cast<AppDelegate*>(data);
                         if (!gtk_window_is_active(GTK_WINDOW(window))) return;
                         if (self->menu_) self->menu_->recheckRecents();
                         self->updates().activated(update::UpdateManager::Clock::now());
                     }),
                     this);

    webView_ = std::make_shared<AppWebView>(nativeBridge_, std::vector<std::string>{});
    nativeBridge.setWebView(webView_);
    GtkWidget* overlay = gtk_overlay_new();
    gtk_overlay_set_child(GTK_OVERLAY(overlay), webView_->widget());
    gtk_window_set_child(window_, overlay);

    titleBar_ = TitleBarController::create(window_, headerBar, GTK_OVERLAY(overlay));
    titleBar_->setOnReserveChange([weak = weak_from_this()](double reserve) {
        if (auto d = weak.lock()) d->emitToPage("windowChrome", {{"reserve", reserve}});
    });
    if (titleBar_->wanted() != settings.maxText) titleBar_->setWanted(settings.maxText);
    if (auto script = reserveUserScript(titleBar_->reportedReserve())) webView_->addUserScript(*script);

    bridgeShell_ = std::make_shared<GtkBridgeShell>(window_, titleBar_);
    nativeBridge.setShell(bridgeShell_);
    if (dialogs_) nativeBridge.setDialogs(dialogs_);

    // The development page, when the build names one, stands in for the built page.
    const std::string devPage = TALLOWMARK_DEV_PAGE;
    std::error_code error;
    if (!devPage.empty() && std::filesystem::is_regular_file(devPage, error)) {
        pagePath_ = devPage;
    } else if (auto found = findResource("index_inlined", "html", "tallowmark")) {
        pagePath_ = found->string();
    }
    if (pagePath_) {
        gchar* uri = g_filename_to_uri(pagePath_->c_str(), nullptr, nullptr);
        pageGuard_ = std::make_shared<PageGuard>(uri ? uri : "");
        g_free(uri);
        webView_->setGuard(pageGuard_);
        nativeBridge.setPageGuard(pageGuard_);
        webView_->loadPage(*pagePath_);
        if (*pagePath_ == devPage) {
            liveReload_ = std::make_unique<LiveReload>();
            liveReload_->start(devPage, weakly(shared_from_this(), [](AppDelegate& d) { d.reloadPages(); }));
        }
    } else {
        logSystem("index_inlined.html ei loytynyt paketista");
    }
    // Follower screens get the built page too; sharing left on before a
    // restart (or a crash) starts again, so the screens reconnect by themselves.
    if (pagePath_) nativeBridge.share().setPageFile(*pagePath_);
    nativeBridge.share().resume();

    gtk_window_present(window_);
    refreshMenus();
    updates_->announce();

    postToMain(weakly(shared_from_this(), [](AppDelegate& d) {
        if (d.quitDone_) return;
        d.bridge().hub().start();
        if (auto path = std::exchange(d.pendingDocument_, std::nullopt)) d.openDocument(*path, true);
    }));
}

void AppDelegate::openDocument(const std::string& path, bool announceFailure) {
    using Outcome = NativeBridge::OpenOutcome;
    // A locked script asks for its password first; the page hears of the
    // script only once that is settled, so it never asks a second time.
    bridge().openDocumentAsking(path, [weak = weak_from_this(), path, announceFailure](Outcome outcome) {
        auto d = weak.lock();
        // The operator said no to the password: nothing opened, nothing to say.
        if (!d || outcome == Outcome::cancelled) return;
        d->emitToPage("openPath", {{"path", path}});
        d->refreshMenus();
        if (outcome == Outcome::opened || !announceFailure || !d->window_) return;
        const Json failure = NativeBridge::openFailure(path, outcome == Outcome::locked);
        showAlert(d->window_,
                  AlertRequest{AlertStyle::warning, "Couldn't open the script", failure.value("error", ""), {"OK"}},
                  nullptr);
    });
}

void AppDelegate::emitToPage(const std::string& name, const Json& payload) {
    if (nativeBridge_) nativeBridge_->emitToMainView(name, payload);
}

void AppDelegate::onMenuItem(const MenuItem& item) {
    GtkWindow* active = activeWindow();
    switch (item.role) {
    case MenuRole::command: emitToPage("menuCommand", menuCommandPayload(item.command)); break;
    case MenuRole::confidenceMonitor: toggleConfidenceMonitor(); break;
    case MenuRole::checkForUpdates: checkForUpdates(); break;
    case MenuRole::about: showAbout(active, buildStamp()); break;
    case MenuRole::help: openHelp(active); break;
    case MenuRole::reportIssue: reportIssue(active); break;
    case MenuRole::quit: requestQuit(); break;
    case MenuRole::cut:
    case MenuRole::copy:
    case MenuRole::paste:
    case MenuRole::selectAll:
        if (WebKitWebView* view = focusedWebView()) {
            const char* command = item.role == MenuRole::cut     ? WEBKIT_EDITING_COMMAND_CUT
                                  : item.role == MenuRole::copy  ? WEBKIT_EDITING_COMMAND_COPY
                                  : item.role == MenuRole::paste ? WEBKIT_EDITING_COMMAND_PASTE
                                                                 : WEBKIT_EDITING_COMMAND_SELECT_ALL;
            webkit_web_view_execute_editing_command(view, command);
        }
        break;
    case MenuRole::minimize:
        if (active) gtk_window_minimize(active);
        break;
    case MenuRole::zoom:
        if (active) {
            if (gtk_window_is_maximized(active)) gtk_window_unmaximize(active);
            else gtk_window_maximize(active);
        }
        break;
    case MenuRole::closeWindow:
        if (active) gtk_window_close(active);
        break;
    case MenuRole::bringAllToFront:
        for (GList* w = gtk_application_get_windows(app_); w; w = w->next) gtk_window_present(GTK_WINDOW(w->data));
        break;
    case MenuRole::fullScreen:
        // Through the title bar, which keeps its own mode in step with the change.
        if (window_ && titleBar_) titleBar_->setFullScreen(!gtk_window_is_fullscreen(window_));
        break;
    default: break;
    }
}

GtkWindow* AppDelegate::activeWindow() const {
    GtkWindow* active = gtk_application_get_active_window(app_);
    return active ? active : window_;
}

WebKitWebView* AppDelegate::focusedWebView() const {
    if (confidenceView_ && activeWindow() == confidenceWindow_) return confidenceView_->view();
    return webView_ ? webView_->view() : nullptr;
}

void AppDelegate::clearRecents() {
    Settings settings = settingsStore_->settings();
    settings.recentDocuments.clear();
    settingsStore_->setSettings(std::move(settings));
    emitToPage("menuCommand", {{"command", "recentsCleared"}});
    refreshMenus();
}

void AppDelegate::refreshMenus() {
    if (!menu_) return;
    const MenuState state = nativeBridge_ ? nativeBridge_->menuState() : initialMenuState(settingsStore_->settings());
    menu_->refresh(state, MenuContext{webView_ != nullptr, confidenceWindow_ != nullptr},
                   settingsStore_->settings().recentDocuments);
}

void AppDelegate::checkForUpdates() {
    updates().checkFromMenu([weak = weak_from_this()](AlertRequest alert, bool offersInstall) {
        auto d = weak.lock();
        if (!d) return;
        showAlert(d->activeWindow(), alert, [weak, offersInstall](int button) {
            auto e = weak.lock();
            if (e && offersInstall && button == 0) e->updates().install();
        });
    });
}

void AppDelegate::toggleConfidenceMonitor() {
    if (confidenceWindow_) {
        gtk_window_close(confidenceWindow_);
        return;
    }
    if (!webView_) return;
    GtkWindow* window = GTK_WINDOW(gtk_application_window_new(app_));
    gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), FALSE);
    gtk_window_set_title(window, "TALLOWMARK \u2014 Console");
    gtk_window_set_default_size(window, monitorWindowSize.width, monitorWindowSize.height);
    gtk_widget_set_size_request(GTK_WIDGET(window), monitorWindowMinimum.width, monitorWindowMinimum.height);

    confidenceView_ = std::make_shared<AppWebView>(nativeBridge_, std::vector<std::string>{std::string(confidenceModeScript)});
    confidenceView_->setGuard(pageGuard_);
    gtk_window_set_child(window, confidenceView_->widget());
    bridge().setConfidenceWebView(confidenceView_);
    confidenceWindow_ = window;
    g_signal_connect(window, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                         static_cast<AppDelegate*>(data)->closedConfidenceMonitor();
                         return FALSE;
                     }),
                     this);
    if (pagePath_) confidenceView_->loadPage(*pagePath_);

    // GTK cannot place a window; on a second screen the monitor fills it,
    // otherwise the window manager puts it where it puts new windows.
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
    GdkSurface* mainSurface = gtk_native_get_surface(GTK_NATIVE(window_));
    GdkMonitor* mainMonitor = mainSurface ? gdk_display_get_monitor_at_surface(display, mainSurface) : nullptr;
    GListModel* monitors = gdk_display_get_monitors(display);
    for (guint i = 0; i < g_list_model_get_n_items(monitors); ++i) {
        auto* monitor = GDK_MONITOR(g_list_model_get_item(monitors, i));
        const bool other = monitor != mainMonitor;
        if (other && mainMonitor) gtk_window_fullscreen_on_monitor(window, monitor);
        g_object_unref(monitor);
        if (other && mainMonitor) break;
    }
    gtk_window_present(window);
    refreshMenus();
}

void AppDelegate::closedConfidenceMonitor() {
    if (nativeBridge_) nativeBridge_->setConfidenceWebView({});
    confidenceView_.reset();
    confidenceWindow_ = nullptr;
    refreshMenus();
}

void AppDelegate::reloadPages() {
    if (webView_) webView_->reload();
    if (confidenceView_) confidenceView_->reload();
}

void AppDelegate::requestQuit() {
    if (quitDone_) return;
    if (!webView_ || !window_) {
        finishQuit();
        return;
    }
    if (quitRequested_) return;
    quitRequested_ = true;
    // Whichever comes first ends the process; the other finds quitDone_ set.
    auto self = shared_from_this();
    webView_->evaluate(std::string(blurScript), weakly(self, [](AppDelegate& d) {
        runAfter(quitAfterAnswerMs, weakly(d.shared_from_this(), [](AppDelegate& e) { e.finishQuit(); }));
    }));
    runAfter(quitFallbackMs, weakly(self, [](AppDelegate& d) { d.finishQuit(); }));
}

void AppDelegate::finishQuit() {
    if (quitDone_) return;
    quitDone_ = true;
    // The run position of the last GO must be on disk before the process ends.
    if (nativeBridge_ && !nativeBridge_->engine().flushWrites())
        logSystem("ajokohdan kirjoitus ei valmistunut ennen lopetusta");
    if (confidenceWindow_) gtk_window_destroy(confidenceWindow_);
    closedConfidenceMonitor();
    if (window_) {
        GtkWindow* window = std::exchange(window_, nullptr);
        g_signal_handlers_disconnect_by_data(window, this);
        gtk_window_destroy(window);
    }
    g_application_quit(G_APPLICATION(app_));
}

}  // namespace tallowmark
