// GTK 4.8 is the oldest toolkit this builds with; what 4.10 deprecated is what 4.8 offers.
#define GDK_VERSION_MIN_REQUIRED GDK_VERSION_4_8
#include "app/title_bar.hpp"

#include <array>

#include "app/model/title_bar_state.hpp"

namespace tallowmark {
namespace {

constexpr char chromeCss[] =
    // A panel of the window's own colour, so the menus and buttons read over any page.
    ".tm-title-controls { padding: 4px; opacity: 0; transition: opacity 200ms ease-in; margin: 2px;\n"
    "  border-radius: 8px; background-color: alpha(@theme_bg_color, 0.94); color: @theme_fg_color; }\n"
    ".tm-title-controls.tm-revealed { opacity: 1; transition: opacity 120ms ease-out; }\n"
    ".tm-title-controls.tm-instant { transition: none; }\n";

void installCssOnce() {
    static bool installed = false;
    GdkDisplay* display = gdk_display_get_default();
    if (installed || !display) return;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, chromeCss, -1);
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    installed = true;
}

double monotonicSeconds() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

}  // namespace

struct TitleBarController::Impl final : TitleBarSurface {
    GtkWindow* window = nullptr;
    GtkWidget* headerBar = nullptr;
    GtkOverlay* host = nullptr;
    TitleBarState state{*this, monotonicSeconds};
    std::function<void(double)> onReserveChange;

    GtkWidget* strip = nullptr;
    GtkWidget* trigger = nullptr;
    std::array<GtkWidget*, 2> clusters{};  // start and end of the top edge
    std::array<GtkEventController*, 2> clusterHover{};
    bool inCluster = false;
    std::array<guint, 3> timers{};         // by TitleBarTimer

    Impl(GtkWindow* w, GtkWidget* h, GtkOverlay* o) : window(w), headerBar(h), host(o) {
        // Weak: the window owns all three, and the controller may outlive it.
        g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
        if (headerBar) g_object_add_weak_pointer(G_OBJECT(headerBar), reinterpret_cast<gpointer*>(&headerBar));
        g_object_add_weak_pointer(G_OBJECT(host), reinterpret_cast<gpointer*>(&host));
        installCssOnce();
        g_signal_connect_swapped(window, "notify::fullscreened", G_CALLBACK(+[](Impl* self) {
                                     self->state.fullScreenChanged();
                                 }), this);
        // Focus gained and size changed are where a full-screen change the
        // window manager never confirmed gets repaired.
        g_signal_connect_swapped(window, "notify::focus-widget", G_CALLBACK(+[](Impl* self) {
                                     if (self->strip) self->updateCluster();
                                 }), this);
        for (const char* signal : {"notify::is-active", "notify::default-width", "notify::default-height"})
            g_signal_connect_swapped(window, signal, G_CALLBACK(+[](Impl* self) { self->state.reconcile(); }), this);
        state.setOnReserveChange([this](double reserve) {
            if (onReserveChange) onReserveChange(reserve);
        });
    }

    ~Impl() override {
        for (guint& id : timers)
            if (id) g_source_remove(id);
        if (window) g_signal_handlers_disconnect_by_data(window, this);
        removeOverlays();
        if (window) g_object_remove_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&window));
        if (headerBar) g_object_remove_weak_pointer(G_OBJECT(headerBar), reinterpret_cast<gpointer*>(&headerBar));
        if (host) g_object_remove_weak_pointer(G_OBJECT(host), reinterpret_cast<gpointer*>(&host));
    }

    bool isFullScreen() const override { return window && gtk_window_is_fullscreen(window); }
    bool isVisible() const override { return window && gtk_widget_get_mapped(GTK_WIDGET(window)); }

    GtkApplicationWindow* appWindow() const {
        return window && GTK_IS_APPLICATION_WINDOW(window) ? GTK_APPLICATION_WINDOW(window) : nullptr;
    }
    // The application's menus, when the window shows them as a menu bar.
    GMenuModel* menuModel() const {
        if (!appWindow() || !saved.menuBarVisible) return nullptr;
        GtkApplication* app = gtk_window_get_application(window);
        return app ? gtk_application_get_menubar(app) : nullptr;
    }

    TitleBarSaved saved;
    TitleBarSaved capture() const override {
        return {headerBar && gtk_widget_get_visible(headerBar),
                appWindow() && gtk_application_window_get_show_menubar(appWindow())};
    }
    void applyMode() override {
        // A hidden titlebar widget leaves the window client-side decorated and
        // its size as it was; the page below simply grows into the space. The
        // menu bar would keep the page from the top edge: it comes back over
        // the page together with the window controls.
        saved = capture();
        if (headerBar) gtk_widget_set_visible(headerBar, false);
        if (appWindow()) gtk_application_window_set_show_menubar(appWindow(), FALSE);
    }
    void restore(const TitleBarSaved& before) override {
        if (headerBar) gtk_widget_set_visible(headerBar, before.headerBarVisible);
        if (appWindow()) gtk_application_window_set_show_menubar(appWindow(), before.menuBarVisible);
    }

    void installOverlays() override {
        if (!host || strip) return;
        // The strip drags the window and, being a GtkWindowHandle, also does
        // what the desktop's gtk-titlebar-double-click setting says.
        strip = gtk_window_handle_new();
        gtk_widget_set_valign(strip, GTK_ALIGN_START);
        gtk_widget_set_halign(strip, GTK_ALIGN_FILL);
        gtk_widget_set_size_request(strip, -1, static_cast<int>(titlebar::stripHeight));
        // The trigger zone lies inside the strip so both see the pointer: a
        // sibling below the strip would never get its motion.
        trigger = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_set_valign(trigger, GTK_ALIGN_START);
        gtk_widget_set_size_request(trigger, -1, static_cast<int>(titlebar::triggerHeight));
        gtk_window_handle_set_child(GTK_WINDOW_HANDLE(strip), trigger);
        GtkEventController* motion = gtk_event_controller_motion_new();
        g_signal_connect_swapped(motion, "enter", G_CALLBACK(+[](Impl* self) { self->state.triggerEntered(); }), this);
        g_signal_connect_swapped(motion, "leave", G_CALLBACK(+[](Impl* self) { self->state.triggerLeft(); }), this);
        g_signal_connect_swapped(motion, "motion", G_CALLBACK(+[](Impl* self) { self->state.triggerMoved(); }), this);
        gtk_widget_add_controller(trigger, motion);
        gtk_overlay_add_overlay(host, strip);

        // The controls go where the desktop's button layout puts them: one
        // cluster at each end, the empty one hidden. Added after the strip, so on top.
        const GtkPackType sides[] = {GTK_PACK_START, GTK_PACK_END};
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            GtkWidget* controls = gtk_window_controls_new(sides[i]);
            GtkWidget* cluster = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
            gtk_widget_add_css_class(cluster, "tm-title-controls");
            gtk_widget_set_valign(cluster, GTK_ALIGN_START);
            gtk_widget_set_halign(cluster, sides[i] == GTK_PACK_START ? GTK_ALIGN_START : GTK_ALIGN_END);
            gtk_box_append(GTK_BOX(cluster), controls);
            GMenuModel* menus = sides[i] == GTK_PACK_START ? menuModel() : nullptr;
            if (menus) gtk_box_append(GTK_BOX(cluster), gtk_popover_menu_bar_new_from_model(menus));
            // The pointer over the cluster keeps the controls; so does an open
            // menu of the menu bar, whose popover lies outside the cluster but
            // holds the keyboard focus while it is open (see menuOpen).
            GtkEventController* hover = gtk_event_controller_motion_new();
            g_signal_connect_swapped(hover, "notify::contains-pointer",
                                     G_CALLBACK(+[](Impl* self) { self->updateCluster(); }), this);
            gtk_widget_add_controller(cluster, hover);
            clusterHover[i] = hover;
            if (!menus) {
                gtk_widget_set_visible(cluster, !gtk_window_controls_get_empty(GTK_WINDOW_CONTROLS(controls)));
                g_signal_connect(controls, "notify::empty",
                                 G_CALLBACK(+[](GtkWindowControls* c, GParamSpec*, GtkWidget* box) {
                                     gtk_widget_set_visible(box, !gtk_window_controls_get_empty(c));
                                 }),
                                 cluster);
            }
            gtk_overlay_add_overlay(host, cluster);
            clusters[i] = cluster;
        }
    }

    void removeOverlays() override {
        if (!strip) return;
        if (host) {
            gtk_overlay_remove_overlay(host, strip);
            for (GtkWidget* cluster : clusters) gtk_overlay_remove_overlay(host, cluster);
        }
        strip = nullptr;
        trigger = nullptr;
        clusters = {};
        clusterHover = {};
        inCluster = false;
    }

    // Whether the keyboard focus is in one of the menu bar's open menus.
    bool menuOpen() const {
        GtkWidget* focused = window ? gtk_root_get_focus(GTK_ROOT(window)) : nullptr;
        if (!focused || !gtk_widget_get_ancestor(focused, GTK_TYPE_POPOVER)) return false;
        for (GtkWidget* cluster : clusters)
            if (cluster && gtk_widget_is_ancestor(focused, cluster)) return true;
        return false;
    }

    // The page keeps the keyboard: Return and Backspace are GO and BACK there,
    // so a closed menu must not leave the focus on the hidden menu bar.
    void giveFocusBack() {
        GtkWidget* focused = window ? gtk_root_get_focus(GTK_ROOT(window)) : nullptr;
        if (!focused || !host) return;
        for (GtkWidget* cluster : clusters) {
            if (cluster && gtk_widget_is_ancestor(focused, cluster)) {
                if (GtkWidget* page = gtk_overlay_get_child(host)) gtk_widget_grab_focus(page);
                return;
            }
        }
    }

    void updateCluster() {
        const bool open = menuOpen();
        if (!open) giveFocusBack();
        bool now = open;
        for (GtkEventController* hover : clusterHover)
            if (hover && gtk_event_controller_motion_contains_pointer(GTK_EVENT_CONTROLLER_MOTION(hover))) now = true;
        if (now == inCluster) return;
        inCluster = now;
        if (now) state.clusterEntered();
        else state.clusterLeft();
    }

    void showControls(bool shown, bool animated) override {
        for (GtkWidget* cluster : clusters) {
            if (!cluster) continue;
            if (animated) gtk_widget_remove_css_class(cluster, "tm-instant");
            else gtk_widget_add_css_class(cluster, "tm-instant");
            if (shown) gtk_widget_add_css_class(cluster, "tm-revealed");
            else gtk_widget_remove_css_class(cluster, "tm-revealed");
            // Hidden controls take no clicks: the strip and the page below get them.
            gtk_widget_set_can_target(cluster, shown);
        }
    }

    // The pointer in the host's coordinates and the held buttons; none without a pointer.
    bool pointer(double& x, double& y, GdkModifierType& mask) const {
        if (!window || !host || !gtk_widget_get_realized(GTK_WIDGET(window))) return false;
        GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
        GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(GTK_WIDGET(window)));
        GdkDevice* device = seat ? gdk_seat_get_pointer(seat) : nullptr;
        if (!surface || !device) return false;
        double sx = 0, sy = 0;
        if (!gdk_surface_get_device_position(surface, device, &sx, &sy, &mask)) return false;
        // The surface includes the client-side shadow; the window's widget starts inside it.
        double ox = 0, oy = 0;
        gtk_native_get_surface_transform(GTK_NATIVE(window), &ox, &oy);
        return gtk_widget_translate_coordinates(GTK_WIDGET(window), GTK_WIDGET(host), sx - ox, sy - oy, &x, &y);
    }
    bool pointerInTrigger() const override {
        double x = 0, y = 0;
        GdkModifierType mask{};
        if (!pointer(x, y, mask)) return false;
        return x >= 0 && x < gtk_widget_get_width(GTK_WIDGET(host)) && y >= 0 && y < titlebar::triggerHeight;
    }
    bool anyButtonPressed() const override {
        double x = 0, y = 0;
        GdkModifierType mask{};
        if (!pointer(x, y, mask)) return false;
        return (mask & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK)) != 0;
    }

    struct TimerTicket {
        Impl* self;
        TitleBarTimer kind;
    };
    void startTimer(TitleBarTimer kind, double seconds) override {
        cancelTimer(kind);
        auto* ticket = new TimerTicket{this, kind};
        timers[static_cast<std::size_t>(kind)] = g_timeout_add_full(
            G_PRIORITY_DEFAULT, static_cast<guint>(seconds * 1000 + 0.5),
            +[](gpointer data) -> gboolean {
                auto* t = static_cast<TimerTicket*>(data);
                t->self->timers[static_cast<std::size_t>(t->kind)] = 0;
                t->self->state.timerFired(t->kind);
                return G_SOURCE_REMOVE;
            },
            ticket, +[](gpointer data) { delete static_cast<TimerTicket*>(data); });
    }
    void cancelTimer(TitleBarTimer kind) override {
        guint& id = timers[static_cast<std::size_t>(kind)];
        if (id) g_source_remove(id);
        id = 0;
    }
};

std::shared_ptr<TitleBarController> TitleBarController::create(GtkWindow* window, GtkWidget* headerBar,
                                                               GtkOverlay* host) {
    if (!window || !host) return nullptr;
    std::shared_ptr<TitleBarController> controller(new TitleBarController());
    controller->impl_ = std::make_unique<Impl>(window, headerBar, host);
    return controller;
}

TitleBarController::~TitleBarController() = default;

void TitleBarController::setOnReserveChange(std::function<void(double)> callback) {
    impl_->onReserveChange = std::move(callback);
}

double TitleBarController::reportedReserve() const { return impl_->state.reportedReserve(); }
bool TitleBarController::wanted() const { return impl_->state.wanted(); }
void TitleBarController::setWanted(bool wanted) { impl_->state.setWanted(wanted); }

void TitleBarController::setFullScreen(bool fullScreen) {
    GtkWindow* window = impl_->window;
    if (!window || gtk_window_is_fullscreen(window) == fullScreen) return;
    impl_->state.beginFullScreenTransition();
    if (fullScreen) gtk_window_fullscreen(window);
    else gtk_window_unfullscreen(window);
}

}  // namespace tallowmark
