#include "app/application.hpp"

#include <malloc.h>

#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "app/app_delegate.hpp"
#include "app/model/launch_rules.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

constexpr const char* applicationId = "org.tallowmark.Tallowmark";

GtkApplication* newApplication(std::shared_ptr<AppDelegate>& delegate, GApplicationFlags flags) {
    GtkApplication* app = gtk_application_new(applicationId, GApplicationFlags(G_APPLICATION_HANDLES_OPEN | flags));
    delegate = AppDelegate::create(app);
    AppDelegate* d = delegate.get();
    g_signal_connect(app, "startup", G_CALLBACK(+[](GApplication*, gpointer data) {
                         static_cast<AppDelegate*>(data)->startup();
                     }),
                     d);
    g_signal_connect(app, "activate", G_CALLBACK(+[](GApplication*, gpointer data) {
                         static_cast<AppDelegate*>(data)->activate();
                     }),
                     d);
    g_signal_connect(app, "open",
                     G_CALLBACK(+[](GApplication*, GFile** files, gint count, gchar*, gpointer data) {
                         std::vector<std::string> paths;
                         for (gint i = 0; i < count; ++i) {
                             if (gchar* path = g_file_get_path(files[i])) {
                                 paths.emplace_back(path);
                                 g_free(path);
                             }
                         }
                         static_cast<AppDelegate*>(data)->open(paths);
                     }),
                     d);
    return app;
}

// Each frame of the page passes buffers of several megabytes between the web
// process and the window. glibc maps a block that large afresh and unmaps it
// when freed, so every frame paid for newly zeroed pages (a third of the
// window's time per GO without a GPU). Kept in the heap they are reused. The
// web process, started later, takes the same through the environment unless
// the user set their own.
void keepFrameBuffersInHeap() {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    g_setenv("GLIBC_TUNABLES", "glibc.malloc.mmap_threshold=67108864:glibc.malloc.trim_threshold=134217728", FALSE);
}

}  // namespace

int runApplication(int argc, char** argv) {
    keepFrameBuffersInHeap();
    // GApplication reads plain operands as files to open; "--open PATH" is
    // turned into one, and other switches (the command-line modes' own, seen
    // before) are not passed on, since GApplication would refuse them.
    std::vector<std::string> forwarded{argc > 0 ? argv[0] : "tallowmark"};
    for (std::string& file : applicationFiles({argv + 1, argv + argc})) forwarded.push_back(std::move(file));
    std::vector<char*> forwardedArgv;
    for (std::string& argument : forwarded) forwardedArgv.push_back(argument.data());
    forwardedArgv.push_back(nullptr);

    std::shared_ptr<AppDelegate> delegate;
    GtkApplication* app = newApplication(delegate, G_APPLICATION_DEFAULT_FLAGS);
    GError* error = nullptr;
    if (!g_application_register(G_APPLICATION(app), nullptr, &error)) {
        // Without a session bus there is no one to hand over to: run alone.
        logSystem(std::string("sovellusta ei voitu rekisteroida, ajetaan erillisena: ") +
                  (error ? error->message : "?"));
        g_clear_error(&error);
        delegate.reset();
        g_object_unref(app);
        app = newApplication(delegate, G_APPLICATION_NON_UNIQUE);
    }
    const int status = g_application_run(G_APPLICATION(app), static_cast<int>(forwarded.size()), forwardedArgv.data());
    // The delegate goes first: the bridge and its writer finish while GTK still exists.
    delegate.reset();
    g_object_unref(app);
    return status;
}

}  // namespace tallowmark
