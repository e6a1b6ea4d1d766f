#pragma once

// Development only: reloads the page whenever its source file changes. GLib's
// file monitor watches the folder, so an editor that saves by replacing the
// file keeps triggering reloads without re-arming anything.

#include <functional>
#include <string>

#include <gio/gio.h>

namespace tallowmark {

class LiveReload {
public:
    LiveReload() = default;
    ~LiveReload();
    LiveReload(const LiveReload&) = delete;
    LiveReload& operator=(const LiveReload&) = delete;

    // False (and a log line) when the file cannot be watched; the page itself
    // still loads.
    bool start(const std::string& path, std::function<void()> onChange);

private:
    static void onEvent(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer data);
    static gboolean onSettled(gpointer data);

    GFileMonitor* monitor_ = nullptr;
    guint pending_ = 0;
    std::function<void()> onChange_;
};

}  // namespace tallowmark
