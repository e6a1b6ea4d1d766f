// GTK 4.8 is the oldest toolkit this builds with; what 4.10 deprecated is what 4.8 offers.
#define GDK_VERSION_MIN_REQUIRED GDK_VERSION_4_8
#include "app/gtk_dialogs.hpp"

#include <filesystem>
#include <set>

#include "core/system_log.hpp"

namespace tallowmark {
namespace {

using PathDone = std::function<void(std::optional<std::string>)>;

GtkFileFilter* filterFor(const std::string& name, const std::vector<std::string>& extensions) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, name.c_str());
    // Suffix matches ignore case, so "SHOW.PDF" from a camera card is offered too.
    for (const auto& extension : extensions) gtk_file_filter_add_suffix(filter, extension.c_str());
    return filter;
}

void addFilters(GtkFileChooser* chooser, const std::vector<FileFilter>& filters) {
    // GTK offers filters one at a time; a panel that allows several kinds
    // starts on their union so every allowed file shows at once.
    if (filters.size() > 1) {
        std::vector<std::string> all;
        for (const auto& f : filters) all.insert(all.end(), f.extensions.begin(), f.extensions.end());
        GtkFileFilter* union_ = filterFor("All usable files", all);
        gtk_file_chooser_add_filter(chooser, union_);
        g_object_unref(union_);
    }
    for (const auto& f : filters) {
        GtkFileFilter* filter = filterFor(f.name, f.extensions);
        gtk_file_chooser_add_filter(chooser, filter);
        g_object_unref(filter);
    }
}

void startIn(GtkFileChooser* chooser, const std::optional<std::string>& folder) {
    if (!folder || folder->empty()) return;
    GFile* file = g_file_new_for_path(folder->c_str());
    gtk_file_chooser_set_current_folder(chooser, file, nullptr);
    g_object_unref(file);
}

// Runs the chooser and answers `done` once with the chosen local path.
void runChooser(GtkFileChooserNative* native, PathDone done) {
    auto* pending = new PathDone(std::move(done));
    g_signal_connect_data(native, "response", G_CALLBACK(+[](GtkNativeDialog* dialog, int response, gpointer data) {
                              auto* callback = static_cast<PathDone*>(data);
                              std::optional<std::string> path;
                              if (response == GTK_RESPONSE_ACCEPT) {
                                  if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog))) {
                                      // A file with no local path (a remote location) is as good as no file.
                                      if (char* local = g_file_get_path(file)) {
                                          path = local;
                                          g_free(local);
                                      }
                                      g_object_unref(file);
                                  }
                              }
                              // Answer after the chooser lets go of its state, then drop it.
                              PathDone answer = std::move(*callback);
                              g_signal_handlers_disconnect_by_data(dialog, data);
                              delete callback;
                              g_object_unref(dialog);
                              if (answer) answer(std::move(path));
                          }), pending, nullptr, GConnectFlags(0));
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
}

GtkWidget* messageDialog(GtkWindow* parent, const AlertRequest& alert) {
    GtkWidget* dialog = gtk_message_dialog_new(
        parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        alert.style == AlertStyle::warning ? GTK_MESSAGE_WARNING : GTK_MESSAGE_INFO, GTK_BUTTONS_NONE, "%s",
        alert.message.c_str());
    if (!alert.informative.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", alert.informative.c_str());
    const std::vector<std::string> buttons = alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
    for (std::size_t i = 0; i < buttons.size(); ++i)
        gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].c_str(), static_cast<int>(i));
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), 0);
    gtk_window_set_title(GTK_WINDOW(dialog), "TALLOWMARK");
    return dialog;
}

// The button an alert closed without a button press stands for: the last, the cancelling one.
int closedAnswer(const AlertRequest& alert) {
    return alert.buttons.empty() ? 0 : static_cast<int>(alert.buttons.size()) - 1;
}

using FailureDone = std::function<void(std::optional<std::string>)>;

// Opens the files' folders; `done` hears once, after the last launch, the
// first failure or none.
void showFolders(const std::vector<std::string>& paths, FailureDone done) {
    std::set<std::string> folders;
    for (const auto& path : paths) folders.insert(std::filesystem::path(path).parent_path().string());
    struct Launches {
        std::size_t pending = 0;
        std::optional<std::string> failure;
        FailureDone done;
    };
    auto* launches = new Launches{0, std::nullopt, std::move(done)};
    std::vector<char*> uris;
    for (const auto& folder : folders)
        if (char* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr)) uris.push_back(uri);
    if (uris.empty()) {
        if (launches->done) launches->done("the folder has no address the file viewer can open");
        delete launches;
        return;
    }
    launches->pending = uris.size();
    for (char* uri : uris) {
        g_app_info_launch_default_for_uri_async(uri, nullptr, nullptr, +[](GObject*, GAsyncResult* result, gpointer data) {
            auto* l = static_cast<Launches*>(data);
            GError* error = nullptr;
            if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
                const std::string why = error ? error->message : "no file viewer answered";
                logSystem("kansion avaaminen epaonnistui: " + why);
                if (!l->failure) l->failure = why;
                g_clear_error(&error);
            }
            if (--l->pending > 0) return;
            if (l->done) l->done(std::move(l->failure));
            delete l;
        }, launches);
        g_free(uri);
    }
}

}  // namespace

GtkBridgeDialogs::GtkBridgeDialogs(std::function<GtkWindow*()> parent) : parent_(std::move(parent)) {}

void GtkBridgeDialogs::openPanel(const OpenPanelRequest& request, PathDone done) {
    // GTK's chooser has no message line: the message is the panel's title unless one is given.
    const std::string& title = request.title.empty() ? request.message : request.title;
    GtkFileChooserNative* native = gtk_file_chooser_native_new(
        title.c_str(), parent_ ? parent_() : nullptr,
        request.canChooseFolders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN, "_Open",
        "_Cancel");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
    gtk_file_chooser_set_select_multiple(chooser, request.allowsMultiple);
    addFilters(chooser, request.filters);
    startIn(chooser, request.folder);
    runChooser(native, std::move(done));
}

void GtkBridgeDialogs::savePanel(const SavePanelRequest& request, PathDone done) {
    GtkFileChooserNative* native = gtk_file_chooser_native_new(
        request.message.c_str(), parent_ ? parent_() : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE, "_Save", "_Cancel");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
    addFilters(chooser, request.filters);
    startIn(chooser, request.folder);
    if (!request.proposedName.empty()) gtk_file_chooser_set_current_name(chooser, request.proposedName.c_str());
    runChooser(native, std::move(done));
}

int GtkBridgeDialogs::confirm(const AlertRequest& alert) {
    GtkWidget* dialog = messageDialog(parent_ ? parent_() : nullptr, alert);
    struct Run {
        GMainLoop* loop;
        int answer;
        bool destroyed;
    } run{g_main_loop_new(nullptr, FALSE), closedAnswer(alert), false};
    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog*, int response, Run* r) {
                         if (response >= 0) r->answer = response;
                         g_main_loop_quit(r->loop);
                     }), &run);
    // Destroyed from outside (its parent closed): stop waiting too.
    g_signal_connect(dialog, "destroy", G_CALLBACK(+[](GtkWidget*, Run* r) {
                         r->destroyed = true;
                         g_main_loop_quit(r->loop);
                     }), &run);
    g_object_ref(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
    // The bridge's confirmation runs inside a call and answers its result, so
    // it waits here; the main context keeps running (drawing, the OSC replies
    // posted from other threads) while it does.
    g_main_loop_run(run.loop);
    g_signal_handlers_disconnect_by_data(dialog, &run);
    if (!run.destroyed) gtk_window_destroy(GTK_WINDOW(dialog));
    g_object_unref(dialog);
    g_main_loop_unref(run.loop);
    return run.answer;
}

void GtkBridgeDialogs::askPassword(const PasswordRequest& request, PathDone done) {
    GtkWidget* dialog = gtk_message_dialog_new(parent_ ? parent_() : nullptr,
                                               GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                               GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", request.message.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", request.informative.c_str());
    gtk_dialog_add_button(GTK_DIALOG(dialog), "Cancel", GTK_RESPONSE_CANCEL);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "Open", GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gtk_window_set_title(GTK_WINDOW(dialog), "TALLOWMARK");
    // GtkPasswordEntry keeps its text in non-pageable memory and hides it.
    GtkWidget* entry = gtk_password_entry_new();
    gtk_password_entry_set_show_peek_icon(GTK_PASSWORD_ENTRY(entry), TRUE);
    g_object_set(entry, "activates-default", TRUE, nullptr);
    gtk_box_append(GTK_BOX(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))), entry);

    struct Pending {
        PathDone done;
        GtkWidget* entry;
    };
    auto* pending = new Pending{std::move(done), entry};
    g_signal_connect_data(dialog, "response", G_CALLBACK(+[](GtkDialog* d, int response, Pending* p) {
                              std::optional<std::string> password;
                              if (response == GTK_RESPONSE_OK)
                                  password = gtk_editable_get_text(GTK_EDITABLE(p->entry));
                              auto callback = std::move(p->done);
                              p->done = nullptr;
                              gtk_window_destroy(GTK_WINDOW(d));
                              if (callback) callback(std::move(password));
                          }),
                          pending, +[](gpointer data, GClosure*) { delete static_cast<Pending*>(data); },
                          GConnectFlags(0));
    // Destroyed with its parent before any answer: a cancel.
    g_signal_connect(dialog, "destroy", G_CALLBACK(+[](GtkWidget*, Pending* p) {
                         if (auto callback = std::move(p->done)) {
                             p->done = nullptr;
                             callback(std::nullopt);
                         }
                     }), pending);
    gtk_window_present(GTK_WINDOW(dialog));
    gtk_widget_grab_focus(entry);
}

void GtkBridgeDialogs::reveal(const std::vector<std::string>& paths, FailureDone done) {
    if (paths.empty()) {
        if (done) done(std::nullopt);
        return;
    }
    GVariantBuilder uris;
    g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
    for (const auto& path : paths) {
        if (char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr)) {
            g_variant_builder_add(&uris, "s", uri);
            g_free(uri);
        }
    }
    // The file manager's ShowItems selects the files together; where no file
    // manager offers it (or no session bus exists), the folder opens instead.
    // Both steps are asynchronous: finding the bus may mean starting one.
    struct Request {
        GVariant* uris;
        std::vector<std::string> paths;
        FailureDone done;
    };
    auto* request = new Request{g_variant_ref_sink(g_variant_builder_end(&uris)), paths, std::move(done)};
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, +[](GObject*, GAsyncResult* result, gpointer data) {
        auto* req = static_cast<Request*>(data);
        GDBusConnection* bus = g_bus_get_finish(result, nullptr);
        if (!bus) {
            showFolders(req->paths, std::move(req->done));
            g_variant_unref(req->uris);
            delete req;
            return;
        }
        g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                               "org.freedesktop.FileManager1", "ShowItems",
                               g_variant_new("(@ass)", req->uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 3000,
                               nullptr,
                               +[](GObject* source, GAsyncResult* done, gpointer d) {
                                   auto* r = static_cast<Request*>(d);
                                   GError* error = nullptr;
                                   if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), done, &error)) {
                                       g_variant_unref(reply);
                                       if (r->done) r->done(std::nullopt);
                                   } else {
                                       g_clear_error(&error);
                                       showFolders(r->paths, std::move(r->done));
                                   }
                                   g_variant_unref(r->uris);
                                   delete r;
                               },
                               req);
        g_object_unref(bus);
    }, request);
}

void showAlert(GtkWindow* parent, const AlertRequest& alert, std::function<void(int button)> done) {
    GtkWidget* dialog = messageDialog(parent, alert);
    struct Pending {
        std::function<void(int)> done;
        int closed;
    };
    auto* pending = new Pending{std::move(done), closedAnswer(alert)};
    g_signal_connect_data(dialog, "response", G_CALLBACK(+[](GtkDialog* d, int response, Pending* p) {
                              const int answer = response >= 0 ? response : p->closed;
                              auto callback = std::move(p->done);
                              p->done = nullptr;
                              gtk_window_destroy(GTK_WINDOW(d));
                              if (callback) callback(answer);
                          }),
                          pending, +[](gpointer data, GClosure*) { delete static_cast<Pending*>(data); },
                          GConnectFlags(0));
    // Destroyed with its parent before any answer: the caller still hears the cancelling one.
    g_signal_connect(dialog, "destroy", G_CALLBACK(+[](GtkWidget*, Pending* p) {
                         if (auto callback = std::move(p->done)) {
                             p->done = nullptr;
                             callback(p->closed);
                         }
                     }), pending);
    gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace tallowmark
