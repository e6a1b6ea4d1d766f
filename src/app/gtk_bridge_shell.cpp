#include "app/gtk_bridge_shell.hpp"

#include <cmath>

#include "app/model/launch_rules.hpp"
#include "app/model/window_sizing.hpp"
#include "app/title_bar.hpp"

namespace tallowmark {

namespace {

struct WindowRef {
    GtkWindow* window;
    ~WindowRef() {
        if (window) g_object_unref(window);
    }
    explicit operator bool() const { return window != nullptr; }
};

WindowFrame frameOf(GtkWindow* window) {
    GtkWidget* widget = GTK_WIDGET(window);
    double width = gtk_widget_get_width(widget);
    double height = gtk_widget_get_height(widget);
    if (!gtk_widget_get_mapped(widget)) {
        int w = 0, h = 0;
        gtk_window_get_default_size(window, &w, &h);
        width = w;
        height = h;
    }
    return {0, 0, width, height};
}

// The window's monitor, else the first one; none when there is no monitor at all.
std::optional<WindowFrame> screenFrameOf(GtkWindow* window) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    if (!display) return std::nullopt;
    GdkMonitor* monitor = nullptr;
    if (GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window)))
        monitor = gdk_display_get_monitor_at_surface(display, surface);
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

}  // namespace

GtkBridgeShell::GtkBridgeShell(GtkWindow* window, std::weak_ptr<TitleBarController> titleBar)
    : titleBar_(std::move(titleBar)) {
    g_weak_ref_init(&window_, window);
}

GtkBridgeShell::~GtkBridgeShell() { g_weak_ref_clear(&window_); }

GtkWindow* GtkBridgeShell::window() const { return static_cast<GtkWindow*>(g_weak_ref_get(&window_)); }

bool GtkBridgeShell::ensureWindowWidth(std::int64_t width) {
    WindowRef ref{window()};
    if (!ref) return false;
    const WindowWidening widening =
        widenWindow(frameOf(ref.window), gtk_window_is_fullscreen(ref.window), screenFrameOf(ref.window), width);
    if (widening.frame)
        gtk_window_set_default_size(ref.window, static_cast<int>(std::lround(widening.frame->width)),
                                    static_cast<int>(std::lround(widening.frame->height)));
    return widening.wideEnough;
}

double GtkBridgeShell::titleBarReserve() const {
    auto titleBar = titleBar_.lock();
    return titleBar ? titleBar->reportedReserve() : 0.0;
}

void GtkBridgeShell::maxTextChanged(bool maxText) {
    const WindowSize minimum = mainWindowMinimum(maxText);
    if (WindowRef ref{window()}; ref) gtk_widget_set_size_request(GTK_WIDGET(ref.window), minimum.width, minimum.height);
    ensureWindowWidth(minimum.width);
    auto titleBar = titleBar_.lock();
    if (titleBar && titleBar->wanted() != maxText) titleBar->setWanted(maxText);
}

}  // namespace tallowmark
