#pragma once

// The main window as the bridge sees it. GTK 4 leaves window placement to the
// compositor: the frame's origin is always reported as 0,0 and setFrame()
// changes only the size.

#include <gtk/gtk.h>

#include "bridge/bridge_interfaces.hpp"

namespace tallowmark {

class GtkBridgeWindow final : public BridgeWindow {
public:
    explicit GtkBridgeWindow(GtkWindow* window);
    ~GtkBridgeWindow() override;
    GtkBridgeWindow(const GtkBridgeWindow&) = delete;
    GtkBridgeWindow& operator=(const GtkBridgeWindow&) = delete;

    WindowFrame frame() const override;
    bool isFullScreen() const override;
    std::optional<WindowFrame> screenVisibleFrame() const override;
    void setFrame(const WindowFrame& frame) override;
    void setMinimumSize(double width, double height) override;

private:
    GtkWindow* window() const;  // a new reference, or null once destroyed
    mutable GWeakRef window_;
};

}  // namespace tallowmark
