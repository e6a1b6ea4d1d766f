#include "app/model/live_reload.hpp"

#include "core/system_log.hpp"

namespace tallowmark {

LiveReload::~LiveReload() {
    if (pending_) g_source_remove(pending_);
    if (monitor_) {
        g_signal_handlers_disconnect_by_data(monitor_, this);
        g_file_monitor_cancel(monitor_);
        g_object_unref(monitor_);
    }
}

bool LiveReload::start(const std::string& path, std::function<void()> onChange) {
    onChange_ = std::move(onChange);
    logSystem("kehitystila - kayttoliittyma ladataan lahteesta " + path);
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    monitor_ = g_file_monitor_file(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, &error);
    g_object_unref(file);
    if (!monitor_) {
        logSystem("kehitystila - tiedostoa ei voi seurata: " + path);
        g_clear_error(&error);
        return false;
    }
    g_signal_connect(monitor_, "changed", G_CALLBACK(onEvent), this);
    return true;
}

void LiveReload::onEvent(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer data) {
    auto* self = static_cast<LiveReload*>(data);
    switch (event) {
    case G_FILE_MONITOR_EVENT_CHANGES_DONE_HINT:
    case G_FILE_MONITOR_EVENT_CREATED:
    case G_FILE_MONITOR_EVENT_MOVED_IN:
    case G_FILE_MONITOR_EVENT_RENAMED:
        break;
    default:
        return;
    }
    // One save arrives as several events (created, changed, done); they become
    // one reload once the file has been quiet for 50 ms.
    if (self->pending_) g_source_remove(self->pending_);
    self->pending_ = g_timeout_add(50, onSettled, self);
}

gboolean LiveReload::onSettled(gpointer data) {
    auto* self = static_cast<LiveReload*>(data);
    self->pending_ = 0;
    if (self->onChange_) self->onChange_();
    return G_SOURCE_REMOVE;
}

}  // namespace tallowmark
