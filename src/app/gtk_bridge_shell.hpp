#pragma once

// The main window as the bridge sees it: its width and the room its hidden
// title bar takes. GTK 4 leaves window placement to the compositor: the
// frame's origin is always reported as 0,0 and only the size is set.

#include <gtk/gtk.h>

#include <memory>

#include "bridge/bridge_interfaces.hpp"

namespace tallowmark {

class TitleBarController;

class GtkBridgeShell final : public BridgeShell {
public:
    GtkBridgeShell(GtkWindow* window, std::weak_ptr<TitleBarController> titleBar);
    ~GtkBridgeShell() override;
    GtkBridgeShell(const GtkBridgeShell&) = delete;
    GtkBridgeShell& operator=(const GtkBridgeShell&) = delete;

    bool ensureWindowWidth(std::int64_t width) override;
    double titleBarReserve() const override;
    void maxTextChanged(bool maxText) override;

private:
    GtkWindow* window() const;  // a new reference, or null once destroyed
    mutable GWeakRef window_;
    std::weak_ptr<TitleBarController> titleBar_;
};

}  // namespace tallowmark
