#pragma once

// The small modal window shown when the program starts without a script: the
// recent scripts, "Open Script…", the build line, quit, and the update badge.
// GTK 4 has no nested modal run, so the choice arrives through `done`, once.

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/bridge_interfaces.hpp"

namespace tallowmark {

struct StartupPickerOptions {
    std::vector<std::string> recentPaths;
    std::string theme;
    int recentLimit = 10;
    bool recentCollapsed = true;
    std::string buildStamp;
    // The recent list after the operator removed a row.
    std::function<void(std::vector<std::string>)> onRecentsChanged;
    std::shared_ptr<BridgeDialogs> dialogs;
};

struct StartupChoice {
    std::optional<std::string> path;  // none: the picker was dismissed
};

class StartupPicker : public std::enable_shared_from_this<StartupPicker> {
public:
    static std::shared_ptr<StartupPicker> present(GtkApplication* app, StartupPickerOptions options,
                                                  std::function<void(StartupChoice)> done);
    ~StartupPicker();

    // Ends the picker (a script opened from outside while it shows); later calls do nothing.
    void finish(StartupChoice choice);
    // Shows the update badge; `install` runs on "Install & Restart" and reports
    // its progress texts, the last one with `failed` set when it fails.
    void setUpdateAvailable(std::string stamp,
                            std::function<void(std::function<void(std::string text, bool failed)> progress)> install);

    struct Impl;

private:
    StartupPicker() = default;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tallowmark
