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
    GtkWidget* about = gtk_about_dialog_new();
    GtkAboutDialog* dialog = GTK_ABOUT_DIALOG(about);
    gtk_about_dialog_set_program_name(dialog, "TALLOWMARK");
    gtk_about_dialog_set_version(dialog, version.c_str());
    gtk_about_dialog_set_comments(dialog, "A prompt book for calling live shows.");
    // The installed icon comes from the icon theme; run from the build tree
    // (or from a prefix the desktop does not search) the program's own copy is drawn.
    GdkDisplay* display = parent ? gtk_widget_get_display(GTK_WIDGET(parent)) : gdk_display_get_default();
    GtkIconTheme* theme = display ? gtk_icon_theme_get_for_display(display) : nullptr;
    GdkTexture* logo = nullptr;
    if (!theme || !gtk_icon_theme_has_icon(theme, "tallowmark")) {
        if (auto file = findResource("tallowmark", "svg", "tallowmark"))
            logo = gdk_texture_new_from_filename(file->c_str(), nullptr);
    }
    if (logo) {
        gtk_about_dialog_set_logo(dialog, GDK_PAINTABLE(logo));
        g_object_unref(logo);
    } else {
        gtk_about_dialog_set_logo_icon_name(dialog, "tallowmark");
    }
    if (parent) {
        gtk_window_set_transient_for(GTK_WINDOW(about), parent);
        gtk_window_set_modal(GTK_WINDOW(about), TRUE);
    }
    gtk_window_set_hide_on_close(GTK_WINDOW(about), FALSE);
    gtk_window_present(GTK_WINDOW(about));
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
