#pragma once

// The GTK side of the hidden title bar: hides the header bar, lays a drag strip
// (GtkWindowHandle, which also does what gtk-titlebar-double-click asks) and the
// hover zones over the top of the page, and shows the window controls in an
// overlay at the top end. Every decision is TitleBarState's.

#include <gtk/gtk.h>

#include <functional>
#include <memory>

namespace tallowmark {

class TitleBarController {
public:
    // `headerBar` is the window's titlebar widget; `host` is the overlay over the page.
    static std::shared_ptr<TitleBarController> create(GtkWindow* window, GtkWidget* headerBar, GtkOverlay* host);
    ~TitleBarController();

    void setOnReserveChange(std::function<void(double)> callback);

    // Points the page keeps clear at the top, as last reported.
    double reportedReserve() const;
    bool wanted() const;
    // Sets the wanted mode and brings the window in line with it.
    void setWanted(bool wanted);

    // Enters or leaves full screen through the mode, so a change the window
    // manager never confirms is undone after the deadline.
    void setFullScreen(bool fullScreen);

    struct Impl;

private:
    TitleBarController() = default;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallowmark
