#pragma once

// The bridge's panels and alerts with GTK 4.8: GtkFileChooserNative (which goes
// through the desktop portal where one runs) and GtkMessageDialog, which also
// asks for a locked script's password.

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "bridge/bridge_interfaces.hpp"

namespace tallowmark {

class GtkBridgeDialogs final : public BridgeDialogs {
public:
    // `parent` answers the window the panels belong to (may be null).
    explicit GtkBridgeDialogs(std::function<GtkWindow*()> parent);

    void openPanel(const OpenPanelRequest& request,
                   std::function<void(std::optional<std::string> path)> done) override;
    void savePanel(const SavePanelRequest& request,
                   std::function<void(std::optional<std::string> path)> done) override;
    // Runs a nested main loop until a button is pressed; closing the alert
    // answers the last button (the cancel one).
    int confirm(const AlertRequest& alert) override;
    // Modal to the window but not blocking; closing it is a cancel.
    void askPassword(const PasswordRequest& request,
                     std::function<void(std::optional<std::string> password)> done) override;
    void reveal(const std::vector<std::string>& paths,
                std::function<void(std::optional<std::string> failure)> done) override;

private:
    std::function<GtkWindow*()> parent_;
};

// A modal alert that does not block: `done` gets the pressed button's index
// (the last one when the alert is closed otherwise).
void showAlert(GtkWindow* parent, const AlertRequest& alert, std::function<void(int button)> done);

}  // namespace tallowmark
