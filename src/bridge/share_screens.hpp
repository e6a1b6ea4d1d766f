#pragma once

// "Share to Screens": the follower server kept in step with the open script.
// Sharing is the operator's choice and is kept in the settings, so screens
// reconnect by themselves after a restart. The cue list goes to the screens
// once edits settle; the run goes at once, newest wins. Main thread only.

#include <glib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/json_helpers.hpp"
#include "follow/follow_server.hpp"

namespace tallowmark {

class OpenScript;
class SettingsStore;

class ShareScreens {
public:
    // Edits are pushed this long after the last one.
    static constexpr guint settleMs = 500;

    ShareScreens(OpenScript& script, SettingsStore& settings) : script_(script), settings_(settings) {}
    ~ShareScreens();
    ShareScreens(const ShareScreens&) = delete;
    ShareScreens& operator=(const ShareScreens&) = delete;

    // The built page the screens are served; sharing starts only with one.
    void setPageFile(std::filesystem::path page) { pageFile_ = std::move(page); }
    // Starts sharing when the settings say it was on (at launch).
    void resume();
    // On or off, kept in the settings. Off forgets an unpinned token.
    void setSharing(bool on);
    // The token kept across starts, or a new one at each start.
    void setPinned(bool pinned);

    // The engine's changes: the cue list (after edits settle) and the run.
    void scriptChanged();
    void runChanged();

    // For the sharing sheet: {"sharing", "listening", "port", "error",
    // "screens", "pinned", "addresses": [...], "qr": svg of the first}.
    Json status() const;
    // After every change of the status.
    std::function<void()> onStatus;
    std::function<void(const std::string& line)> onLog;

    // Tests reach the server through this.
    FollowServer& server() { return server_; }

private:
    void start();
    void pushScript();
    Json runJson() const;

    OpenScript& script_;
    SettingsStore& settings_;
    FollowServer server_;
    std::filesystem::path pageFile_;
    std::string token_;
    guint settleTimer_ = 0;
};

}  // namespace tallowmark
