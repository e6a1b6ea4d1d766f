#include "app/gtk_bridge_window.hpp"

#include <cmath>

namespace tallowmark {

namespace {

struct WindowRef {
    GtkWindow* window;
    ~WindowRef() {
        if (window) g_object_unref(window);
    }
    explicit operator bool() const { return window != nullptr; }
};

}  // namespace

GtkBridgeWindow::GtkBridgeWindow(GtkWindow* window) { g_weak_ref_init(&window_, window); }

GtkBridgeWindow::~GtkBridgeWindow() { g_weak_ref_clear(&window_); }

GtkWindow* GtkBridgeWindow::window() const { return static_cast<GtkWindow*>(g_weak_ref_get(&window_)); }

WindowFrame GtkBridgeWindow::frame() const {
    WindowRef ref{window()};
    if (!ref) return {};
    GtkWidget* widget = GTK_WIDGET(ref.window);
    double width = gtk_widget_get_width(widget);
    double height = gtk_widget_get_height(widget);
    if (!gtk_widget_get_mapped(widget)) {
        int w = 0, h = 0;
        gtk_window_get_default_size(ref.window, &w, &h);
        width = w;
        height = h;
    }
    return {0, 0, width, height};
}

bool GtkBridgeWindow::isFullScreen() const {
    WindowRef ref{window()};
    return ref && gtk_window_is_fullscreen(ref.window);
}

std::optional<WindowFrame> GtkBridgeWindow::screenVisibleFrame() const {
    WindowRef ref{window()};
    GdkDisplay* display = ref ? gtk_widget_get_display(GTK_WIDGET(ref.window)) : gdk_display_get_default();
    if (!display) return std::nullopt;
    GdkMonitor* monitor = nullptr;
    if (ref) {
        if (GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(ref.window)))
            monitor = gdk_display_get_monitor_at_surface(display, surface);
    }
    GListModel* monitors = gdk_display_get_monitors(display);
    if (!monitor && g_list_model_get_n_items(monitors) > 0) {
        monitor = GDK_MONITOR(g_list_model_get_item(monitors, 0));
        g_object_unref(monitor);  // the list keeps it
    }
    if (!monitor) return std::nullopt;
    // GTK 4 has no work area; the monitor's whole geometry stands in for it.
    GdkRectangle area;
    gdk_monitor_get_geometry(monitor, &area);
    return WindowFrame{double(area.x), double(area.y), double(area.width), double(area.height)};
}

void GtkBridgeWindow::setFrame(const WindowFrame& frame) {
    WindowRef ref{window()};
    if (!ref) return;
    gtk_window_set_default_size(ref.window, static_cast<int>(std::lround(frame.width)),
                                static_cast<int>(std::lround(frame.height)));
}

void GtkBridgeWindow::setMinimumSize(double width, double height) {
    WindowRef ref{window()};
    if (!ref) return;
    gtk_widget_set_size_request(GTK_WIDGET(ref.window), static_cast<int>(std::lround(width)),
                                static_cast<int>(std::lround(height)));
}

}  // namespace tallowmark
