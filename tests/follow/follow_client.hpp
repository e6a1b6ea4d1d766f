#pragma once

// Loopback clients of the follower server for its tests and its load program:
// a real libsoup session for pages and screens, a free TCP port, and a screen
// that never reads, made from a plain socket.

#include <arpa/inet.h>
#include <libsoup/soup.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/json_helpers.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark::testing {

// A TCP port nobody listens on right now (the kernel's pick, released again).
inline int freeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// A listening TCP socket on 127.0.0.1:port, holding the port.
class PortHolder {
public:
    explicit PortHolder(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(std::uint16_t(port)),
                            .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        held_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd_, 1) == 0;
    }
    ~PortHolder() { close(fd_); }
    PortHolder(const PortHolder&) = delete;
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

// A browser's screen: the frames it got, as JSON, and how it ended.
struct ScreenClient {
    SoupWebsocketConnection* connection = nullptr;
    bool finished = false;  // the handshake ended, either way
    guint refusedStatus = 0;
    std::string refusedBody;
    std::vector<Json> received;
    std::vector<gint64> receivedAt;  // monotonic microseconds
    bool closed = false;
    gushort closeCode = 0;

    ~ScreenClient() {
        if (!connection) return;
        g_signal_handlers_disconnect_by_data(connection, this);
        if (soup_websocket_connection_get_state(connection) == SOUP_WEBSOCKET_STATE_OPEN)
            soup_websocket_connection_close(connection, SOUP_WEBSOCKET_CLOSE_NORMAL, nullptr);
        g_object_unref(connection);
    }
    bool open() const { return connection && !closed; }
    void send(const std::string& text) { soup_websocket_connection_send_text(connection, text.c_str()); }
    // The frames of one type, in order.
    std::vector<Json> of(const std::string& type) const {
        std::vector<Json> out;
        for (const Json& j : received)
            if (j.is_object() && j.value("type", "") == type) out.push_back(j);
        return out;
    }
};

class FollowClient {
public:
    struct Reply {
        guint status = 0;
        std::string body, contentType, location, cacheControl;
    };

    explicit FollowClient(int port) : port_(port) {
        session_ = soup_session_new_with_options("max-conns-per-host", 128, "max-conns", 256, "timeout", 20, nullptr);
    }
    ~FollowClient() {
        soup_session_abort(session_);
        g_object_unref(session_);
    }
    FollowClient(const FollowClient&) = delete;

    std::string url(const std::string& path, const char* scheme = "http") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + path;
    }

    // One request, answered through the main loop; status 0 when none came in time.
    Reply request(const std::string& path, const char* method = "GET") {
        SoupMessage* message = soup_message_new(method, url(path).c_str());
        Reply reply;
        if (!message) return reply;
        soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
        if (std::string(method) == "POST") soup_message_set_request_body_from_bytes(message, "text/plain", nullptr);
        std::pair<bool, GBytes*> done{false, nullptr};
        soup_session_send_and_read_async(
            session_, message, G_PRIORITY_DEFAULT, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* d = static_cast<std::pair<bool, GBytes*>*>(data);
                d->second = soup_session_send_and_read_finish(SOUP_SESSION(source), result, nullptr);
                d->first = true;
            },
            &done);
        pumpMainUntil([&] { return done.first; }, 15000);
        reply.status = soup_message_get_status(message);
        if (done.second) {
            gsize size = 0;
            const auto* data = static_cast<const char*>(g_bytes_get_data(done.second, &size));
            reply.body.assign(data ? data : "", size);
            g_bytes_unref(done.second);
        }
        SoupMessageHeaders* headers = soup_message_get_response_headers(message);
        const auto header = [headers](const char* name) {
            const char* value = soup_message_headers_get_one(headers, name);
            return std::string(value ? value : "");
        };
        reply.contentType = header("Content-Type");
        reply.location = header("Location");
        reply.cacheControl = header("Cache-Control");
        g_object_unref(message);
        return reply;
    }

    // Starts a screen's handshake; the answer comes through the main loop.
    std::unique_ptr<ScreenClient> startScreen(const std::string& path) {
        auto screen = std::make_unique<ScreenClient>();
        auto* message = soup_message_new("GET", url(path, "ws").c_str());
        struct Pending {
            ScreenClient* screen;
            SoupMessage* message;
        };
        soup_session_websocket_connect_async(
            session_, message, nullptr, nullptr, G_PRIORITY_DEFAULT, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Pending> p(static_cast<Pending*>(data));
                ScreenClient* s = p->screen;
                GError* error = nullptr;
                s->connection = soup_session_websocket_connect_finish(SOUP_SESSION(source), result, &error);
                s->finished = true;
                if (!s->connection) {
                    s->refusedStatus = soup_message_get_status(p->message);
                    g_clear_error(&error);
                } else {
                    watch(s);
                }
                g_object_unref(p->message);
            },
            new Pending{screen.get(), message});
        return screen;
    }
    // A screen whose handshake has ended, connected or refused.
    std::unique_ptr<ScreenClient> screen(const std::string& path) {
        auto s = startScreen(path);
        pumpMainUntil([&] { return s->finished; }, 15000);
        return s;
    }

private:
    static void watch(ScreenClient* s) {
        // A browser takes a script of any size; libsoup's client stops at 128 kB unless told.
        soup_websocket_connection_set_max_incoming_payload_size(s->connection, 0);
        g_signal_connect(s->connection, "message", G_CALLBACK(+[](SoupWebsocketConnection*, gint type, GBytes* bytes,
                                                                  gpointer data) {
                             auto* screen = static_cast<ScreenClient*>(data);
                             gsize size = 0;
                             const auto* text = static_cast<const char*>(g_bytes_get_data(bytes, &size));
                             const auto json = type == SOUP_WEBSOCKET_DATA_TEXT
                                                   ? parseJson(std::string_view(text ? text : "", size))
                                                   : std::nullopt;
                             screen->received.push_back(json ? *json : Json("not JSON"));
                             screen->receivedAt.push_back(g_get_monotonic_time());
                         }),
                         s);
        g_signal_connect(s->connection, "closed", G_CALLBACK(+[](SoupWebsocketConnection* c, gpointer data) {
                             auto* screen = static_cast<ScreenClient*>(data);
                             screen->closed = true;
                             screen->closeCode = soup_websocket_connection_get_close_code(c);
                         }),
                         s);
    }

    int port_;
    SoupSession* session_ = nullptr;
};

// A screen that completes the handshake by hand and then never reads: its
// receive buffer is made small so that the server's frames back up soon.
class NonReader {
public:
    NonReader(int port, const std::string& path) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{.sin_family = AF_INET, .sin_port = htons(std::uint16_t(port)),
                            .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        connected_ = ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
    }
    ~NonReader() { close(fd_); }
    NonReader(const NonReader&) = delete;
    bool connected() const { return connected_; }

private:
    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace tallowmark::testing
