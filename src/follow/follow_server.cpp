#include "follow/follow_server.hpp"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <libsoup/soup.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <iterator>
#include <map>
#include <set>
#include <utility>

#include "core/atomic_file.hpp"
#include "follow/follow_protocol.hpp"

namespace tallowmark {

namespace {

// The page's own policy, opened for this server only: its WebSocket and its
// page images come from where the page came from.
void followerPolicy(std::string& page) {
    const auto swap = [&page](std::string_view from, std::string_view to) {
        if (const std::size_t at = page.find(from); at != std::string::npos) page.replace(at, from.size(), to);
    };
    swap("connect-src 'none'", "connect-src 'self'");
    swap("img-src data: blob: tallowmark-page:", "img-src 'self' data: blob:");
}

constexpr gint64 rateWindowUs = 10 * G_USEC_PER_SEC;
constexpr std::uintmax_t maxPageBytes = 16u << 20;
// What a screen may leave unread before it is cut off: a few hundred pushes,
// far more than a browser that is merely busy ever holds back.
constexpr std::uint64_t maxUnsentBytes = 1u << 20;
constexpr gint64 maxPushWaitUs = 10 * G_USEC_PER_SEC;
constexpr guint keepaliveSeconds = 15;
constexpr guint64 maxScreenMessageBytes = 4096;
constexpr std::size_t maxRequestHeaderBytes = 16 * 1024;
constexpr guint pushIntervalMs = 1000 / FollowServer::maxPushesPerSecond;
constexpr guint16 closeTooSlow = 1008;         // policy violation: the browser shows the reason
constexpr guint statusTooManyRequests = 429;  // not among libsoup's names

// The bytes the kernel has been handed for this socket and the part of them
// the peer has acknowledged, or nothing when the socket is not TCP.
struct KernelCounts {
    std::uint64_t handed = 0, acknowledged = 0;
};
std::optional<KernelCounts> kernelCounts(GSocket* socket) {
    if (!socket) return std::nullopt;
    const int fd = g_socket_get_fd(socket);
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
        return std::nullopt;
    int queued = 0;  // unsent and unacknowledged
    if (ioctl(fd, SIOCOUTQ, &queued) != 0) queued = 0;
    return KernelCounts{info.tcpi_bytes_acked + std::uint64_t(std::max(queued, 0)), info.tcpi_bytes_acked};
}

void respond(SoupServerMessage* message, guint status, std::string_view body, const char* type = "text/plain") {
    soup_server_message_set_status(message, status, nullptr);
    soup_message_headers_replace(soup_server_message_get_response_headers(message), "Cache-Control", "no-store");
    soup_server_message_set_response(message, type, SOUP_MEMORY_COPY, body.data(), body.size());
}

bool isToken(const std::string& token) {
    return token.size() >= 32 &&
           std::all_of(token.begin(), token.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::string remoteHost(SoupServerMessage* message) {
    const char* host = soup_server_message_get_remote_host(message);
    return host ? host : "?";
}

}  // namespace

struct FollowServer::Impl {
    // One open WebSocket. Its unread backlog is read from the kernel: the
    // bytes of our frames that the peer has not acknowledged yet, counted from
    // the moment of the upgrade. libsoup's own queue sits in front of the
    // kernel's, so this covers both.
    struct Screen {
        SoupWebsocketConnection* connection = nullptr;  // a reference of ours
        GSocket* socket = nullptr;                      // a reference of ours, or null
        std::string host;
        std::uint64_t kernelBase = 0;  // bytes the kernel had been handed before our first frame
        std::uint64_t queued = 0;      // wire bytes of our frames
        std::deque<std::pair<std::uint64_t, gint64>> untaken;  // end of each push in `queued`, when it was sent
        gint64 lastRun = 0;
        bool runPending = false;
        bool loggedUnknown = false;
        bool closing = false;
    };
    struct PendingImage {
        Impl* impl = nullptr;
        SoupServerMessage* message = nullptr;  // a reference of ours
        gulong finished = 0;
    };

    FollowServer& owner;
    Options options;
    Status status;
    SoupServer* server = nullptr;
    GBytes* page = nullptr;
    std::map<SoupWebsocketConnection*, std::unique_ptr<Screen>> screens;
    std::map<SoupServerMessage*, gulong> upgrading;  // passed our checks, handshake not done yet
    std::vector<std::shared_ptr<PendingImage>> images;
    follow::RateWindow socketRate{10, rateWindowUs}, requestRate{60, rateWindowUs};
    Json document = nullptr, cues = Json::array();
    Json run = Json{{"standby", nullptr}, {"next", nullptr}, {"lastFired", nullptr}, {"firedCount", 0}, {"total", 0}};
    std::string scriptText, runText;
    guint flushTimer = 0, watchTimer = 0;

    explicit Impl(FollowServer& o) : owner(o) { rebuildTexts(); }

    void rebuildTexts() {
        scriptText = dumpJson(Json{{"type", "script"}, {"document", document}, {"cues", cues}}, -1);
        Json message = run;
        message["type"] = "run";
        runText = dumpJson(message, -1);
    }

    void log(const std::string& line) {
        if (owner.onLog) owner.onLog(line);
    }
    int openScreens() const {
        return int(std::count_if(screens.begin(), screens.end(), [](const auto& s) { return !s.second->closing; }));
    }
    void statusChanged() {
        status.screens = openScreens();
        if (owner.onStatus) owner.onStatus(status);
    }

    // --- HTTP ---

    // Before the body is read: what can be refused from the request line and
    // the headers is refused here, and a refused body is not kept.
    static void early(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer) {
        SoupMessageHeaders* headers = soup_server_message_get_request_headers(message);
        std::size_t headerBytes = 0;
        soup_message_headers_foreach(
            headers,
            [](const char* name, const char* value, gpointer total) {
                *static_cast<std::size_t*>(total) += strlen(name) + strlen(value) + 4;
            },
            &headerBytes);
        const SoupEncoding encoding = soup_message_headers_get_encoding(headers);
        const bool body = encoding == SOUP_ENCODING_CHUNKED || encoding == SOUP_ENCODING_EOF ||
                          (encoding == SOUP_ENCODING_CONTENT_LENGTH && soup_message_headers_get_content_length(headers) > 0);
        guint refusal = 0;
        if (soup_server_message_get_method(message) != SOUP_METHOD_GET)
            refusal = SOUP_STATUS_METHOD_NOT_ALLOWED;
        else if (strlen(path) > follow::maxPathBytes)
            refusal = SOUP_STATUS_REQUEST_URI_TOO_LONG;
        else if (headerBytes > maxRequestHeaderBytes)
            refusal = SOUP_STATUS_REQUEST_ENTITY_TOO_LARGE;
        else if (body)
            refusal = SOUP_STATUS_REQUEST_ENTITY_TOO_LARGE;
        if (!refusal) return;
        soup_message_body_set_accumulate(soup_server_message_get_request_body(message), FALSE);
        SoupMessageHeaders* reply = soup_server_message_get_response_headers(message);
        soup_message_headers_replace(reply, "Connection", "close");
        if (refusal == SOUP_STATUS_METHOD_NOT_ALLOWED) soup_message_headers_replace(reply, "Allow", "GET");
        respond(message, refusal, soup_status_get_phrase(refusal));
    }

    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        static_cast<Impl*>(data)->route(message, path);
    }

    void route(SoupServerMessage* message, std::string_view path) {
        using Kind = follow::Route::Kind;
        const follow::Route route = follow::routeFollowPath(path, options.token);
        const std::string host = remoteHost(message);
        const gint64 now = g_get_monotonic_time();
        const bool allowed = route.kind == Kind::socket ? socketRate.allow(host, now) : requestRate.allow(host, now);
        if (!allowed) {
            soup_message_headers_replace(soup_server_message_get_response_headers(message), "Retry-After", "10");
            respond(message, statusTooManyRequests, "Too many requests");
            soup_server_message_set_status(message, statusTooManyRequests, "Too Many Requests");
            return;
        }
        switch (route.kind) {
        case Kind::tooLong: respond(message, SOUP_STATUS_REQUEST_URI_TOO_LONG, "URI too long"); return;
        case Kind::notFound: respond(message, SOUP_STATUS_NOT_FOUND, "Not found"); return;
        case Kind::badRequest: respond(message, SOUP_STATUS_BAD_REQUEST, "Bad request"); return;
        case Kind::forbidden: respond(message, SOUP_STATUS_FORBIDDEN, "Forbidden"); return;
        case Kind::redirect: {
            const std::string to = std::string(path) + "/";
            soup_server_message_set_redirect(message, SOUP_STATUS_FOUND, to.c_str());
            return;
        }
        case Kind::page: servePage(message); return;
        case Kind::image: serveImage(message, route.index, route.width); return;
        case Kind::socket: admitScreen(message); return;
        }
    }

    void servePage(SoupServerMessage* message) {
        soup_server_message_set_status(message, SOUP_STATUS_OK, nullptr);
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
        soup_message_headers_replace(headers, "Cache-Control", "no-store");
        // The token is in the address: no other site learns it from a link.
        soup_message_headers_replace(headers, "Referrer-Policy", "no-referrer");
        soup_message_headers_replace(headers, "X-Content-Type-Options", "nosniff");
        soup_message_headers_set_content_type(headers, "text/html; charset=utf-8", nullptr);
        soup_message_body_append_bytes(soup_server_message_get_response_body(message), page);
    }

    void serveImage(SoupServerMessage* message, int index, int width) {
        if (!options.images) {
            respond(message, SOUP_STATUS_NOT_FOUND, "No such page");
            return;
        }
        auto pending = std::make_shared<PendingImage>();
        pending->impl = this;
        pending->message = SOUP_SERVER_MESSAGE(g_object_ref(message));
        // A browser that goes away before the image is drawn: forget the message.
        pending->finished = g_signal_connect(message, "finished", G_CALLBACK(+[](SoupServerMessage*, gpointer data) {
                                                 auto* p = static_cast<PendingImage*>(data);
                                                 p->impl->dropImage(p);
                                             }),
                                             pending.get());
        images.push_back(pending);
        // A status now, so that libsoup does not take the open request for a
        // failed WebSocket handshake; the answer sets the real one.
        soup_server_message_set_status(message, SOUP_STATUS_ACCEPTED, nullptr);
        soup_server_message_pause(message);
        std::weak_ptr<PendingImage> weak = pending;
        options.images(index, width, [weak](std::shared_ptr<const EncodedImage> image) {
            const auto p = weak.lock();
            if (!p || !p->message) return;
            SoupServerMessage* m = p->message;
            if (image && !image->bytes.empty()) {
                soup_server_message_set_status(m, SOUP_STATUS_OK, nullptr);
                soup_message_headers_replace(soup_server_message_get_response_headers(m), "Cache-Control", "no-store");
                soup_server_message_set_response(m, image->mimeType.empty() ? "application/octet-stream"
                                                                            : image->mimeType.c_str(),
                                                  SOUP_MEMORY_COPY, reinterpret_cast<const char*>(image->bytes.data()),
                                                  image->bytes.size());
            } else {
                respond(m, SOUP_STATUS_NOT_FOUND, "No such page");
            }
            g_object_ref(m);
            p->impl->dropImage(p.get());
            soup_server_message_unpause(m);
            g_object_unref(m);
        });
    }

    void dropImage(PendingImage* p) {
        if (!p->message) return;
        g_signal_handler_disconnect(p->message, p->finished);
        g_clear_object(&p->message);
        std::erase_if(images, [p](const auto& each) { return each.get() == p; });
    }

    // Seats are taken at the handshake, before the upgrade, so the one too
    // many gets a page that says why instead of a socket that closes at once.
    void admitScreen(SoupServerMessage* message) {
        if (openScreens() + int(upgrading.size()) >= maxScreens) {
            const std::string text = "<!doctype html><meta charset=utf-8><title>TALLOWMARK</title><p>Too many screens are "
                                     "following this show (" +
                                     std::to_string(maxScreens) + "). Close one and try again.</p>";
            respond(message, SOUP_STATUS_SERVICE_UNAVAILABLE, text, "text/html; charset=utf-8");
            return;
        }
        // Left without a status, so libsoup answers the handshake itself; a
        // request that is not one ends with "finished" and frees its seat.
        const gulong finished = g_signal_connect(message, "finished", G_CALLBACK(+[](SoupServerMessage* m, gpointer data) {
                                                     static_cast<Impl*>(data)->forgetUpgrade(m);
                                                 }),
                                                 this);
        upgrading.emplace(SOUP_SERVER_MESSAGE(g_object_ref(message)), finished);
    }

    void forgetUpgrade(SoupServerMessage* message) {
        const auto found = upgrading.find(message);
        if (found == upgrading.end()) return;
        g_signal_handler_disconnect(message, found->second);
        upgrading.erase(found);
        g_object_unref(message);
    }

    // --- WebSockets ---

    static void connected(SoupServer*, SoupServerMessage* message, const char*, SoupWebsocketConnection* connection,
                          gpointer data) {
        static_cast<Impl*>(data)->addScreen(message, connection);
    }

    void addScreen(SoupServerMessage* message, SoupWebsocketConnection* connection) {
        forgetUpgrade(message);
        auto screen = std::make_unique<Screen>();
        screen->connection = SOUP_WEBSOCKET_CONNECTION(g_object_ref(connection));
        GSocket* socket = soup_server_message_get_socket(message);
        if (!socket) {
            GIOStream* stream = soup_websocket_connection_get_io_stream(connection);
            if (G_IS_SOCKET_CONNECTION(stream)) socket = g_socket_connection_get_socket(G_SOCKET_CONNECTION(stream));
        }
        if (socket) screen->socket = G_SOCKET(g_object_ref(socket));
        if (const auto counts = kernelCounts(screen->socket)) screen->kernelBase = counts->handed;
        screen->host = remoteHost(message);
        soup_websocket_connection_set_max_incoming_payload_size(connection, maxScreenMessageBytes);
        soup_websocket_connection_set_keepalive_interval(connection, keepaliveSeconds);
        g_signal_connect(connection, "message", G_CALLBACK(+[](SoupWebsocketConnection* c, gint type, GBytes* bytes,
                                                               gpointer data) {
                             static_cast<Impl*>(data)->heard(c, type, bytes);
                         }),
                         this);
        g_signal_connect(connection, "closed", G_CALLBACK(+[](SoupWebsocketConnection* c, gpointer data) {
                             static_cast<Impl*>(data)->closed(c);
                         }),
                         this);
        Screen& s = *screen;
        screens.emplace(connection, std::move(screen));
        send(s, scriptText);
        send(s, runText);
        s.lastRun = g_get_monotonic_time();
        if (!watchTimer)
            watchTimer = g_timeout_add_seconds(1, +[](gpointer data) { return static_cast<Impl*>(data)->watch(); }, this);
        statusChanged();
    }

    void heard(SoupWebsocketConnection* connection, gint type, GBytes* bytes) {
        const auto found = screens.find(connection);
        if (found == screens.end() || found->second->closing) return;
        Screen& s = *found->second;
        follow::ScreenMessage said = follow::ScreenMessage::unknown;
        if (type == SOUP_WEBSOCKET_DATA_TEXT) {
            gsize size = 0;
            const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
            said = follow::parseScreenMessage(std::string_view(data ? data : "", size));
        }
        switch (said) {
        case follow::ScreenMessage::hello: break;
        case follow::ScreenMessage::ping: send(s, R"({"type":"pong"})"); break;
        case follow::ScreenMessage::unknown:
            if (!s.loggedUnknown) log("seuraaja " + s.host + ": tuntematon viesti ohitettu");
            s.loggedUnknown = true;
            break;
        }
    }

    void closed(SoupWebsocketConnection* connection) {
        const auto found = screens.find(connection);
        if (found == screens.end()) return;
        const bool counted = !found->second->closing;
        std::unique_ptr<Screen> screen = std::move(found->second);
        screens.erase(found);
        release(*screen);
        if (counted) statusChanged();
    }

    void release(Screen& s) {
        g_signal_handlers_disconnect_by_data(s.connection, this);
        g_clear_object(&s.socket);
        g_clear_object(&s.connection);
    }

    void send(Screen& s, const std::string& text) {
        if (s.closing || soup_websocket_connection_get_state(s.connection) != SOUP_WEBSOCKET_STATE_OPEN) return;
        soup_websocket_connection_send_text(s.connection, text.c_str());
        s.queued += follow::serverFrameBytes(text.size());
        s.untaken.emplace_back(s.queued, g_get_monotonic_time());
    }

    // Cuts off a screen that holds more than its share unread, or has left a
    // push untaken for too long. True when it was cut off.
    bool tooSlow(Screen& s, gint64 now) {
        if (s.closing) return false;
        const auto counts = kernelCounts(s.socket);
        if (!counts) return false;  // not TCP: nothing to measure by
        const std::uint64_t taken = counts->acknowledged > s.kernelBase ? counts->acknowledged - s.kernelBase : 0;
        while (!s.untaken.empty() && s.untaken.front().first <= taken) s.untaken.pop_front();
        const std::uint64_t unsent = s.queued > taken ? s.queued - taken : 0;
        if (unsent <= maxUnsentBytes && (s.untaken.empty() || now - s.untaken.front().second <= maxPushWaitUs))
            return false;
        s.closing = true;
        s.untaken.clear();
        log("seuraaja " + s.host + ": liian hidas, yhteys suljettu");
        soup_websocket_connection_close(s.connection, closeTooSlow, "too slow");
        return true;
    }

    gboolean watch() {
        const gint64 now = g_get_monotonic_time();
        bool changed = false;
        for (SoupWebsocketConnection* c : keys()) {
            const auto found = screens.find(c);
            if (found != screens.end()) changed = tooSlow(*found->second, now) || changed;
        }
        if (changed) statusChanged();
        if (!screens.empty()) return G_SOURCE_CONTINUE;
        watchTimer = 0;
        return G_SOURCE_REMOVE;
    }

    std::vector<SoupWebsocketConnection*> keys() const {
        std::vector<SoupWebsocketConnection*> out;
        for (const auto& entry : screens) out.push_back(entry.first);
        return out;
    }

    // Each screen gets the newest run at once when its last push is old
    // enough, otherwise when the flush timer finds it so.
    void pushRuns(bool fresh) {
        const gint64 now = g_get_monotonic_time();
        bool waiting = false;
        for (auto& entry : screens) {
            Screen& s = *entry.second;
            if (s.closing || !(fresh || s.runPending)) continue;
            if (now - s.lastRun >= gint64(pushIntervalMs) * 1000) {
                send(s, runText);
                s.lastRun = now;
                s.runPending = false;
            } else {
                s.runPending = true;
                waiting = true;
            }
        }
        if (waiting && !flushTimer)
            flushTimer = g_timeout_add(pushIntervalMs, +[](gpointer data) { return static_cast<Impl*>(data)->flush(); }, this);
    }

    gboolean flush() {
        pushRuns(false);
        const bool waiting =
            std::any_of(screens.begin(), screens.end(), [](const auto& s) { return s.second->runPending; });
        if (waiting) return G_SOURCE_CONTINUE;
        flushTimer = 0;
        return G_SOURCE_REMOVE;
    }

    // --- lifetime ---

    void teardown() {
        if (flushTimer) g_source_remove(std::exchange(flushTimer, 0));
        if (watchTimer) g_source_remove(std::exchange(watchTimer, 0));
        // Unhooked before closing: a close may report back at once, and the map must not change under the loop.
        for (auto& entry : std::exchange(screens, {})) {
            Screen& s = *entry.second;
            g_signal_handlers_disconnect_by_data(s.connection, this);
            if (soup_websocket_connection_get_state(s.connection) == SOUP_WEBSOCKET_STATE_OPEN)
                soup_websocket_connection_close(s.connection, SOUP_WEBSOCKET_CLOSE_GOING_AWAY, "server stopped");
            release(s);
        }
        for (auto& [message, finished] : upgrading) {
            g_signal_handler_disconnect(message, finished);
            g_object_unref(message);
        }
        upgrading.clear();
        for (const auto& p : std::vector(images)) dropImage(p.get());
        if (server) {
            soup_server_remove_handler(server, "/");
            soup_server_disconnect(server);
            g_clear_object(&server);
        }
        g_clear_pointer(&page, g_bytes_unref);
    }

    std::optional<std::string> readPage() {
        // Never waits on a FIFO or reads a device put where the page should be.
        ReadResult read = readWholeFile(options.pageFile, maxPageBytes);
        if (read.status == ReadStatus::tooLarge) return "sivu on liian suuri: " + options.pageFile.string();
        if (read.status != ReadStatus::ok) return "sivua ei voi lukea: " + options.pageFile.string();
        // The page forbids every connection and images but its own scheme, as
        // the program's window needs; a screen reaches this server for both.
        followerPolicy(read.bytes);
        page = g_bytes_new(read.bytes.data(), read.bytes.size());
        return std::nullopt;
    }

    std::optional<std::string> listen() {
        if (options.port < 1 || options.port > 65535) return "virheellinen portti";
        if (!isToken(options.token)) return "virheellinen tunniste";
        if (auto error = readPage()) return error;
        server = soup_server_new("server-header", "TALLOWMARK", nullptr);
        // Frames go out as written, so the backlog can be counted from them.
        soup_server_remove_websocket_extension(server, SOUP_TYPE_WEBSOCKET_EXTENSION_DEFLATE);
        soup_server_add_early_handler(server, "/", early, this, nullptr);
        soup_server_add_handler(server, "/", handle, this, nullptr);
        soup_server_add_websocket_handler(server, "/", nullptr, nullptr, connected, this, nullptr);
        GError* error = nullptr;
        const auto flags = SoupServerListenOptions(0);
        const gboolean ok = options.localOnly ? soup_server_listen_local(server, guint(options.port), flags, &error)
                                              : soup_server_listen_all(server, guint(options.port), flags, &error);
        if (ok) return std::nullopt;
        std::string why = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_ADDRESS_IN_USE)
                              ? "portti " + std::to_string(options.port) + " on varattu"
                              : std::string(error ? error->message : "tuntematon virhe");
        g_clear_error(&error);
        return why;
    }
};

FollowServer::FollowServer() : impl_(std::make_unique<Impl>(*this)) {}

FollowServer::~FollowServer() { impl_->teardown(); }

FollowServer::Status FollowServer::start(Options options) {
    stop();
    impl_->options = std::move(options);
    impl_->socketRate = follow::RateWindow(impl_->options.socketsPerWindow, rateWindowUs);
    impl_->requestRate = follow::RateWindow(impl_->options.requestsPerWindow, rateWindowUs);
    Status status{.listening = false, .port = impl_->options.port, .error = {}, .screens = 0};
    if (auto error = impl_->listen()) {
        impl_->teardown();
        status.error = std::move(*error);
    } else {
        status.listening = true;
    }
    impl_->status = status;
    impl_->statusChanged();
    return impl_->status;
}

void FollowServer::stop() {
    const bool active = impl_->server || !impl_->status.error.empty();
    impl_->teardown();
    impl_->status = Status{};
    if (active) impl_->statusChanged();
}

FollowServer::Status FollowServer::status() const { return impl_->status; }

void FollowServer::setScript(Json document, Json cues) {
    impl_->document = std::move(document);
    impl_->cues = cues.is_array() ? std::move(cues) : Json::array();
    impl_->rebuildTexts();
    for (auto& entry : impl_->screens) impl_->send(*entry.second, impl_->scriptText);
}

void FollowServer::setRun(Json run) {
    if (!run.is_object()) return;
    impl_->run = std::move(run);
    impl_->rebuildTexts();
    impl_->pushRuns(true);
}

std::string FollowServer::newToken() {
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char word[16];
        std::snprintf(word, sizeof word, "%08x", unsigned(g_random_int()));
        token += word;
    }
    return token;
}

std::vector<std::string> followAddresses(int port, const std::string& token) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::vector<std::string> v4, v6, loop4, loop6;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || !(i->ifa_flags & IFF_UP)) continue;
        const bool loopback = i->ifa_flags & IFF_LOOPBACK;
        char text[INET6_ADDRSTRLEN + 8] = {};
        if (i->ifa_addr->sa_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (!inet_ntop(AF_INET, &a->sin_addr, text, sizeof text)) continue;
            (loopback ? loop4 : v4).push_back(text);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            // A link-local address needs its interface named, which browsers do not take.
            if (IN6_IS_ADDR_LINKLOCAL(&a->sin6_addr)) continue;
            if (!inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text)) continue;
            (loopback ? loop6 : v6).push_back("[" + std::string(text) + "]");
        }
    }
    freeifaddrs(list);
    std::vector<std::string> out;
    for (const auto* group : {&v4, &v6, &loop4, &loop6})
        for (const std::string& host : *group) {
            std::string address = "http://" + host + ":" + std::to_string(port) + "/f/" + token + "/";
            if (std::find(out.begin(), out.end(), address) == out.end()) out.push_back(std::move(address));
        }
    return out;
}

}  // namespace tallowmark
