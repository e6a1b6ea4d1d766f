// GTK 4.8 is the oldest toolkit this builds with; what 4.10 deprecated is what 4.8 offers.
#define GDK_VERSION_MIN_REQUIRED GDK_VERSION_4_8
#include "app/help_actions.hpp"

#include "app/model/app_resources.hpp"
#include "core/system_log.hpp"

#ifndef TALLOWMARK_SUPPORT_ADDRESS
#define TALLOWMARK_SUPPORT_ADDRESS "support@tallowmark.example"
#endif

namespace tallowmark {
namespace {

void showUri(GtkWindow* parent, const std::string& uri, const char* failure) {
    gtk_show_uri_full(parent, uri.c_str(), GDK_CURRENT_TIME, nullptr,
                      +[](GObject* source, GAsyncResult* result, gpointer data) {
                          GError* error = nullptr;
                          if (!gtk_show_uri_full_finish(GTK_WINDOW(source), result, &error)) {
                              logSystem(std::string(static_cast<const char*>(data)) + ": " +
                                        (error ? error->message : ""));
                              g_clear_error(&error);
                          }
                      },
                      const_cast<char*>(failure));
}

}  // namespace

void showAbout(GtkWindow* parent, const std::string& stamp) {
    const std::string version = stamp.empty() || stamp == "0" ? "Development build" : "Build " + stamp;
    gtk_show_about_dialog(parent, "program-name", "TALLOWMARK", "version", version.c_str(), "logo-icon-name",
                          "tallowmark", "comments", "A prompt book for calling live shows.", "title",
                          "About TALLOWMARK", nullptr);
}

void openHelp(GtkWindow* parent) {
    const auto guide = findResource("index", "html", "tallowmark/help");
    if (!guide) {
        logSystem("ohje (help/index.html) ei loytynyt paketista");
        return;
    }
    char* uri = g_filename_to_uri(guide->c_str(), nullptr, nullptr);
    if (!uri) return;
    showUri(parent, uri, "ohjeen avaaminen epaonnistui");
    g_free(uri);
}

void reportIssue(GtkWindow* parent) {
    showUri(parent, std::string("mailto:") + TALLOWMARK_SUPPORT_ADDRESS + "?subject=TALLOWMARK",
            "sahkopostin avaaminen epaonnistui");
}

}  // namespace tallowmark
