#pragma once

// Follower screens: a read-only view of the show for any browser on the local
// network, served by the program itself (libsoup 3 on the main GLib loop).
// Every address carries a random token; a request without it gets 403. The
// page is the program's own built page in follower mode; it learns the cue
// list and the run over one WebSocket, and fetches page images from here.
// Main thread only; nothing here waits for a socket.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_helpers.hpp"
#include "document/page_image.hpp"

namespace tallowmark {

class FollowServer {
public:
    static constexpr int maxScreens = 32;
    static constexpr int maxPushesPerSecond = 20;

    // Answers `done` once on the main thread with the screen image of the
    // page (0-based) at the width asked for, or null when there is none.
    using ImageProvider =
        std::function<void(int index, int width, std::function<void(std::shared_ptr<const EncodedImage>)> done)>;

    struct Options {
        int port = 53180;
        std::string token;               // the path's secret: 32 lowercase hex digits or more
        std::filesystem::path pageFile;  // the built page (index_inlined.html)
        ImageProvider images;
        bool localOnly = false;  // listen on the loopback only (tests)
        // New connections one client host may open per 10 s before it gets 429:
        // WebSockets, and page and image requests. Enough for a browser that
        // reloads and pages through; a loop that hammers the port is held back.
        int socketsPerWindow = 10;
        int requestsPerWindow = 60;
    };

    struct Status {
        bool listening = false;
        int port = 0;
        std::string error;  // why it is not listening, for the sheet and the remote status
        int screens = 0;
    };

    FollowServer();
    ~FollowServer();
    FollowServer(const FollowServer&) = delete;
    FollowServer& operator=(const FollowServer&) = delete;

    // Starts listening (stopping first if it was); the status says how it went.
    Status start(Options options);
    void stop();
    Status status() const;
    // After every change of the status (started, stopped, a screen came or went).
    std::function<void(const Status&)> onStatus;
    // One line for the control log.
    std::function<void(const std::string& line)> onLog;

    // What the screens are shown. The document: {"title", "pageCount",
    // "aspects"}; the cues: [{"id","number","label","kind","page","x","y","w","h"}]
    // in script order; sent whole to each screen when it connects and when they
    // change (the owner calls after edits settle).
    void setScript(Json document, Json cues);
    // The run, newest wins: {"standby", "next", "lastFired", "firedCount",
    // "total"} (ids or null). Coalesced per screen to maxPushesPerSecond.
    void setRun(Json run);

    // A fresh token of 128 random bits as 32 lowercase hex digits.
    static std::string newToken();
    // Equal in constant time for equal lengths.
    static bool tokenMatches(std::string_view given, std::string_view token);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The addresses a screen should open: "http://HOST:PORT/f/TOKEN/" for each
// local network interface that is up (IPv4 first, loopback last).
std::vector<std::string> followAddresses(int port, const std::string& token);

}  // namespace tallowmark
