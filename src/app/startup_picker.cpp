// GTK 4.8 is the oldest toolkit this builds with; what 4.10 deprecated is what 4.8 offers.
#define GDK_VERSION_MIN_REQUIRED GDK_VERSION_4_8
#include "app/startup_picker.hpp"

#include <ctime>

#include "app/gtk_dialogs.hpp"
#include "app/model/picker_model.hpp"

namespace tallowmark {
namespace {

std::string pickerCss(const PickerColours& c) {
    return ".tm-picker { background: " + c.panel + "; color: " + c.text + "; }\n"
           ".tm-picker .tm-brand { color: " + c.brand + "; font-weight: 800; font-size: 20px; letter-spacing: 2px; }\n"
           ".tm-picker .tm-muted { color: " + c.muted + "; }\n"
           ".tm-picker .tm-heading { color: " + c.muted + "; font-size: 11px; letter-spacing: 1.5px; font-weight: 600; "
           "padding: 2px 4px; min-height: 0; background: none; box-shadow: none; }\n"
           ".tm-picker .tm-heading:hover { color: " + c.text + "; }\n"
           ".tm-picker list { background: transparent; }\n"
           ".tm-picker list row { border-radius: 6px; padding: 6px 8px; color: " + c.text + "; }\n"
           ".tm-picker entry { background: alpha(" + c.text + ", 0.06); color: " + c.text + "; "
           "border: 1px solid alpha(" + c.text + ", 0.18); box-shadow: none; }\n"
           ".tm-picker list row:hover { background: alpha(" + c.text + ", 0.08); }\n"
           ".tm-picker list row:active { background: alpha(" + c.text + ", 0.16); }\n"
           ".tm-picker .tm-detail { color: " + c.muted + "; font-size: 11px; }\n"
           ".tm-picker .tm-remove { color: " + c.muted + "; min-width: 0; min-height: 0; padding: 2px 6px; }\n"
           ".tm-picker .tm-pill { border-radius: 999px; padding: 6px 18px; background: " + c.brand + "; color: " + c.panel + "; "
           "font-weight: 700; }\n"
           ".tm-picker .tm-pill:hover { background: shade(" + c.brand + ", 1.1); }\n"
           ".tm-picker .tm-badge { border-radius: 999px; padding: 2px 10px; color: " + c.brand + "; }\n"
           ".tm-picker .tm-footer { font-size: 11px; }\n";
}

}  // namespace

struct StartupPicker::Impl {
    std::weak_ptr<StartupPicker> self;
    // The picker lives until it ends, whether or not its caller keeps it.
    std::shared_ptr<StartupPicker> keepAlive;
    GtkApplication* app = nullptr;
    StartupPickerOptions options;
    std::function<void(StartupChoice)> done;
    std::shared_ptr<BridgeDialogs> ownDialogs;
    bool finished = false;
    bool collapsed = true;

    GtkWidget* window = nullptr;
    GtkCssProvider* css = nullptr;
    GtkWidget* recentSection = nullptr;
    GtkWidget* filter = nullptr;
    GtkWidget* list = nullptr;
    GtkWidget* badge = nullptr;
    GtkWidget* progress = nullptr;
    std::vector<RecentRow> rows;
    std::vector<GtkWidget*> rowWidgets;
    std::vector<GtkWidget*> detailLabels;
    std::function<void(std::function<void(std::string, bool)>)> install;

    void build();
    void fillRows();
    void loadDetails();
    void refilter();
    void openScript();
    void removeRecent(const std::string& path);
};

namespace {

// Signal data that finds the picker again only while it is alive.
struct Handle {
    std::weak_ptr<StartupPicker> picker;
    std::string path;
};

Handle* handleFor(const std::weak_ptr<StartupPicker>& picker, std::string path = {}) {
    return new Handle{picker, std::move(path)};
}

void freeHandle(gpointer data, GClosure*) { delete static_cast<Handle*>(data); }

// Ends the picker and quits; the application's own "quit" action goes through
// its handshake when it has one.
void quitFrom(const std::shared_ptr<StartupPicker>& picker, GtkApplication* application) {
    picker->finish({});
    if (!application) return;
    if (g_action_group_has_action(G_ACTION_GROUP(application), "quit"))
        g_action_group_activate_action(G_ACTION_GROUP(application), "quit", nullptr);
    else
        g_application_quit(G_APPLICATION(application));
}

template <class Fn>
void connect(gpointer instance, const char* signal, Fn fn, Handle* handle) {
    g_signal_connect_data(instance, signal, G_CALLBACK(fn), handle, freeHandle, G_CONNECT_SWAPPED);
}

}  // namespace

void StartupPicker::Impl::build() {
    window = gtk_window_new();
    gtk_window_set_application(GTK_WINDOW(window), app);
    gtk_window_set_title(GTK_WINDOW(window), "TALLOWMARK");
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(window), 440, 540);
    gtk_widget_add_css_class(window, "tm-picker");

    const std::string cssText = pickerCss(pickerColours(options.theme));
    css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, cssText.c_str(), -1);
    gtk_style_context_add_provider_for_display(gtk_widget_get_display(window), GTK_STYLE_PROVIDER(css),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_top(page, 24);
    gtk_widget_set_margin_bottom(page, 14);
    gtk_widget_set_margin_start(page, 24);
    gtk_widget_set_margin_end(page, 24);
    gtk_window_set_child(GTK_WINDOW(window), page);

    GtkWidget* brand = gtk_label_new("TALLOWMARK");
    gtk_widget_add_css_class(brand, "tm-brand");
    gtk_box_append(GTK_BOX(page), brand);

    GtkWidget* open = gtk_button_new_with_label("Open Script\u2026");
    gtk_widget_add_css_class(open, "tm-pill");
    gtk_widget_set_halign(open, GTK_ALIGN_CENTER);
    connect(open, "clicked", +[](Handle* h) {
        if (auto p = h->picker.lock()) p->impl_->openScript();
    }, handleFor(self));
    gtk_box_append(GTK_BOX(page), open);
    // Return anywhere in the picker opens a script, the filter field included.
    gtk_window_set_default_widget(GTK_WINDOW(window), open);

    recentSection = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_widget_set_vexpand(recentSection, TRUE);
    gtk_box_append(GTK_BOX(page), recentSection);

    GtkWidget* heading = gtk_button_new_with_label("RECENT SCRIPTS");
    gtk_widget_add_css_class(heading, "flat");
    gtk_widget_add_css_class(heading, "tm-heading");
    gtk_widget_set_halign(heading, GTK_ALIGN_START);
    gtk_widget_set_tooltip_text(heading, "Show all or fewer recent scripts");
    connect(heading, "clicked", +[](Handle* h) {
        if (auto p = h->picker.lock()) {
            p->impl_->collapsed = !p->impl_->collapsed;
            p->impl_->refilter();
        }
    }, handleFor(self));
    gtk_box_append(GTK_BOX(recentSection), heading);

    filter = gtk_entry_new();
    gtk_entry_set_placeholder_text(GTK_ENTRY(filter), "Filter recent\u2026");
    gtk_entry_set_activates_default(GTK_ENTRY(filter), TRUE);
    connect(filter, "changed", +[](Handle* h) {
        if (auto p = h->picker.lock()) p->impl_->refilter();
    }, handleFor(self));
    gtk_box_append(GTK_BOX(recentSection), filter);

    list = gtk_list_box_new();
    gtk_list_box_set_selection_mode(GTK_LIST_BOX(list), GTK_SELECTION_NONE);
    gtk_list_box_set_activate_on_single_click(GTK_LIST_BOX(list), TRUE);
    connect(list, "row-activated", +[](Handle* h, GtkListBoxRow* row) {
        auto p = h->picker.lock();
        if (!p) return;
        const int index = gtk_list_box_row_get_index(row);
        if (index >= 0 && static_cast<std::size_t>(index) < p->impl_->rows.size())
            p->finish({p->impl_->rows[static_cast<std::size_t>(index)].path});
    }, handleFor(self));
    GtkWidget* scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), list);
    gtk_widget_set_vexpand(scroller, TRUE);
    gtk_box_append(GTK_BOX(recentSection), scroller);

    GtkWidget* footer = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_add_css_class(footer, "tm-footer");
    GtkWidget* build = gtk_label_new(buildLine(options.buildStamp).c_str());
    gtk_widget_add_css_class(build, "tm-muted");
    gtk_widget_set_hexpand(build, TRUE);
    gtk_widget_set_halign(build, GTK_ALIGN_START);
    gtk_box_append(GTK_BOX(footer), build);

    badge = gtk_button_new_with_label("\u27f3  Update available");
    gtk_widget_add_css_class(badge, "flat");
    gtk_widget_add_css_class(badge, "tm-badge");
    gtk_widget_set_visible(badge, FALSE);
    connect(badge, "clicked", +[](Handle* h) {
        auto p = h->picker.lock();
        if (!p || !p->impl_->install) return;
        const AlertRequest ask{AlertStyle::informational, "Install update?",
                               "TALLOWMARK downloads the update, verifies it and restarts. "
                               "Your scripts and cues are not touched.",
                               {"Install & Restart", "Cancel"}};
        showAlert(GTK_WINDOW(p->impl_->window), ask, [weak = h->picker](int button) {
            auto picker = weak.lock();
            if (!picker || button != 0 || picker->impl_->finished) return;
            Impl& impl = *picker->impl_;
            gtk_widget_set_sensitive(impl.badge, FALSE);
            gtk_widget_set_visible(impl.progress, TRUE);
            impl.install([weak](std::string text, bool failed) {
                auto alive = weak.lock();
                if (!alive || alive->impl_->finished) return;
                gtk_label_set_text(GTK_LABEL(alive->impl_->progress), text.c_str());
                if (failed) gtk_widget_add_css_class(alive->impl_->progress, "error");
            });
        });
    }, handleFor(self));
    gtk_box_append(GTK_BOX(footer), badge);

    GtkWidget* quit = gtk_button_new_with_label("Quit TALLOWMARK (Ctrl+Q)");
    gtk_widget_add_css_class(quit, "flat");
    gtk_widget_add_css_class(quit, "tm-muted");
    connect(quit, "clicked", +[](Handle* h) {
        if (auto p = h->picker.lock()) quitFrom(p, p->impl_->app);
    }, handleFor(self));
    gtk_box_append(GTK_BOX(footer), quit);

    progress = gtk_label_new("");
    gtk_widget_add_css_class(progress, "tm-muted");
    gtk_label_set_wrap(GTK_LABEL(progress), TRUE);
    gtk_widget_set_visible(progress, FALSE);

    gtk_box_append(GTK_BOX(page), progress);
    gtk_box_append(GTK_BOX(page), footer);

    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_set_scope(GTK_SHORTCUT_CONTROLLER(keys), GTK_SHORTCUT_SCOPE_GLOBAL);
    Handle* quitHandle = handleFor(self);
    GtkShortcutAction* action = gtk_callback_action_new(
        +[](GtkWidget*, GVariant*, gpointer data) -> gboolean {
            auto p = static_cast<Handle*>(data)->picker.lock();
            if (!p) return FALSE;
            quitFrom(p, p->impl_->app);
            return TRUE;
        },
        quitHandle, +[](gpointer data) { delete static_cast<Handle*>(data); });
    gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(keys),
                                         gtk_shortcut_new(gtk_shortcut_trigger_parse_string("<Control>q"), action));
    gtk_widget_add_controller(window, keys);

    connect(window, "close-request", +[](Handle* h) -> gboolean {
        if (auto p = h->picker.lock()) p->finish({});
        return TRUE;
    }, handleFor(self));
}

void StartupPicker::Impl::fillRows() {
    for (GtkWidget* row : rowWidgets) gtk_list_box_remove(GTK_LIST_BOX(list), row);
    rowWidgets.clear();
    detailLabels.clear();
    // Names at once; the dates follow from a worker, so a recent script on a
    // mount that does not answer cannot hold the picker up.
    rows.clear();
    for (const auto& path : options.recentPaths)
        rows.push_back({path, std::filesystem::path(path).filename().string(), {}});
    for (const auto& row : rows) {
        GtkWidget* line = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
        GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
        gtk_widget_set_hexpand(texts, TRUE);
        GtkWidget* name = gtk_label_new(row.name.c_str());
        gtk_label_set_ellipsize(GTK_LABEL(name), PANGO_ELLIPSIZE_MIDDLE);
        gtk_widget_set_halign(name, GTK_ALIGN_START);
        gtk_widget_set_tooltip_text(name, row.path.c_str());
        GtkWidget* detail = gtk_label_new(row.detail.c_str());
        gtk_widget_add_css_class(detail, "tm-detail");
        gtk_widget_set_halign(detail, GTK_ALIGN_START);
        gtk_box_append(GTK_BOX(texts), name);
        gtk_box_append(GTK_BOX(texts), detail);
        gtk_box_append(GTK_BOX(line), texts);
        GtkWidget* remove = gtk_button_new_with_label("\u2715  ");
        gtk_widget_add_css_class(remove, "flat");
        gtk_widget_add_css_class(remove, "tm-remove");
        gtk_widget_set_valign(remove, GTK_ALIGN_CENTER);
        gtk_widget_set_tooltip_text(remove, "Remove from the list");
        connect(remove, "clicked", +[](Handle* h) {
            if (auto p = h->picker.lock()) p->impl_->removeRecent(h->path);
        }, handleFor(self, row.path));
        gtk_box_append(GTK_BOX(line), remove);
        GtkWidget* item = gtk_list_box_row_new();
        gtk_list_box_row_set_child(GTK_LIST_BOX_ROW(item), line);
        gtk_list_box_append(GTK_LIST_BOX(list), item);
        rowWidgets.push_back(item);
        detailLabels.push_back(detail);
    }
    gtk_widget_set_visible(recentSection, !rows.empty());
    refilter();
    loadDetails();
}

void StartupPicker::Impl::loadDetails() {
    struct Job {
        std::weak_ptr<StartupPicker> picker;
        std::vector<std::string> paths;
        std::vector<RecentRow> rows;
    };
    auto* job = new Job{self, options.recentPaths, {}};
    GTask* task = g_task_new(nullptr, nullptr, +[](GObject*, GAsyncResult* result, gpointer) {
        auto* j = static_cast<Job*>(g_task_get_task_data(G_TASK(result)));
        auto p = j->picker.lock();
        // A list edited meanwhile gets its own, newer load.
        if (!p || p->impl_->finished || j->paths != p->impl_->options.recentPaths) return;
        Impl& impl = *p->impl_;
        for (std::size_t i = 0; i < j->rows.size() && i < impl.detailLabels.size(); ++i) {
            impl.rows[i].detail = j->rows[i].detail;
            gtk_label_set_text(GTK_LABEL(impl.detailLabels[i]), j->rows[i].detail.c_str());
        }
    }, nullptr);
    g_task_set_task_data(task, job, +[](gpointer data) { delete static_cast<Job*>(data); });
    g_task_run_in_thread(task, +[](GTask*, gpointer, gpointer data, GCancellable*) {
        auto* j = static_cast<Job*>(data);
        j->rows = recentRows(j->paths, static_cast<std::int64_t>(std::time(nullptr)));
    });
    g_object_unref(task);
}

void StartupPicker::Impl::refilter() {
    const char* typed = gtk_editable_get_text(GTK_EDITABLE(filter));
    const auto shown = visibleRows(rows, typed ? typed : "", collapsed, options.recentLimit);
    std::vector<bool> visible(rowWidgets.size(), false);
    for (std::size_t index : shown) visible[index] = true;
    for (std::size_t i = 0; i < rowWidgets.size(); ++i) gtk_widget_set_visible(rowWidgets[i], visible[i]);
}

void StartupPicker::Impl::openScript() {
    std::shared_ptr<BridgeDialogs> dialogs = options.dialogs;
    if (!dialogs) {
        if (!ownDialogs) {
            ownDialogs = std::make_shared<GtkBridgeDialogs>([weak = self]() -> GtkWindow* {
                auto p = weak.lock();
                return p ? GTK_WINDOW(p->impl_->window) : nullptr;
            });
        }
        dialogs = ownDialogs;
    }
    OpenPanelRequest request{.message = "Choose a script (PDF)",
                             .filters = {{"PDF documents", {"pdf"}}},
                             .folder = std::nullopt,
                             .allowsMultiple = false,
                             .canChooseFolders = false,
                             .title = "Open Script"};
    // Cancelling the panel keeps the picker.
    dialogs->openPanel(request, [weak = self](std::optional<std::string> path) {
        if (auto p = weak.lock(); p && path) p->finish({std::move(path)});
    });
}

void StartupPicker::Impl::removeRecent(const std::string& path) {
    options.recentPaths = withoutRecent(options.recentPaths, path);
    if (options.onRecentsChanged) options.onRecentsChanged(options.recentPaths);
    fillRows();
}

std::shared_ptr<StartupPicker> StartupPicker::present(GtkApplication* app, StartupPickerOptions options,
                                                      std::function<void(StartupChoice)> done) {
    std::shared_ptr<StartupPicker> picker(new StartupPicker());
    picker->impl_ = std::make_unique<Impl>();
    Impl& impl = *picker->impl_;
    impl.self = picker;
    impl.keepAlive = picker;
    impl.app = app;
    impl.collapsed = options.recentCollapsed;
    impl.options = std::move(options);
    impl.done = std::move(done);
    // The application keeps running between the picker's end and the main
    // window's start, whatever order the windows come and go in.
    if (app) g_application_hold(G_APPLICATION(app));
    impl.build();
    impl.fillRows();
    gtk_window_present(GTK_WINDOW(impl.window));
    return picker;
}

StartupPicker::~StartupPicker() {
    if (!impl_) return;
    if (!impl_->finished) {
        impl_->finished = true;
        if (impl_->window) gtk_window_destroy(GTK_WINDOW(impl_->window));
        if (impl_->app) g_application_release(G_APPLICATION(impl_->app));
    }
    if (impl_->css) {
        gtk_style_context_remove_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(impl_->css));
        g_object_unref(impl_->css);
    }
}

void StartupPicker::finish(StartupChoice choice) {
    if (!impl_ || impl_->finished) return;
    impl_->finished = true;
    // Alive through `done`, which may drop the caller's reference.
    auto keep = std::move(impl_->keepAlive);
    GtkWidget* window = impl_->window;
    impl_->window = nullptr;
    if (window) gtk_window_destroy(GTK_WINDOW(window));
    auto done = std::move(impl_->done);
    impl_->done = nullptr;
    if (done) done(std::move(choice));
    if (impl_->app) g_application_release(G_APPLICATION(impl_->app));
}

void StartupPicker::setUpdateAvailable(
    std::string stamp, std::function<void(std::function<void(std::string text, bool failed)> progress)> install) {
    if (!impl_ || impl_->finished || !impl_->badge) return;
    impl_->install = std::move(install);
    gtk_widget_set_tooltip_text(impl_->badge, ("Build " + stamp).c_str());
    gtk_widget_set_visible(impl_->badge, impl_->install != nullptr);
}

}  // namespace tallowmark
