#include <glib.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "control/osc_client.hpp"

namespace tallowmark {

namespace {

// Sends waiting for the client's thread; a stalled name lookup must not let a
// fire-and-forget sender queue without end.
constexpr int maxPendingSends = 1024;

// A connected UDP socket to the first address of host:port that accepts one.
int connectTo(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

}  // namespace

struct OSCClient::Impl {
    GMainContext* const context = g_main_context_new();
    std::atomic<bool> stopping{false};
    std::atomic<int> pending{0};
    std::map<std::string, int> sockets;  // client thread only; key "host:port"
    std::thread thread;

    Impl() {
        thread = std::thread([this] {
            g_main_context_push_thread_default(context);
            while (!stopping.load()) g_main_context_iteration(context, TRUE);
            g_main_context_pop_thread_default(context);
        });
    }

    ~Impl() {
        stopping.store(true);
        g_main_context_wakeup(context);
        thread.join();
        g_main_context_unref(context);  // unsent datagrams go with it
        for (const auto& [key, fd] : sockets) close(fd);
    }

    // Runs `task` on the client's thread, after everything posted before it.
    void post(std::function<void()> task) {
        GSource* source = g_idle_source_new();
        g_source_set_priority(source, G_PRIORITY_DEFAULT);
        g_source_set_callback(
            source,
            [](gpointer data) {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_REMOVE;
            },
            new std::function<void()>(std::move(task)),
            [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
        g_source_attach(source, context);
        g_source_unref(source);
    }

    void sendNow(const std::vector<std::uint8_t>& datagram, const std::string& host, std::uint16_t port) {
        const std::string key = host + ":" + std::to_string(port);
        // Two rounds: a connected UDP socket reports an earlier datagram's ICMP
        // "port unreachable" on the next send, which then did not go out. The peer
        // may be up by now (the self-check starts its server after the first
        // send), so the flow is replaced and the datagram tried once more.
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto flow = sockets.find(key);
            if (flow == sockets.end()) {
                const int fd = connectTo(host, port);
                if (fd < 0) return;  // unknown host or no route: dropped
                flow = sockets.emplace(key, fd).first;
            }
            if (::send(flow->second, datagram.data(), datagram.size(), MSG_NOSIGNAL) >= 0) return;
            // A full buffer is not the flow's fault; the datagram is just lost.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == EINTR) return;
            close(flow->second);
            sockets.erase(flow);
        }
    }

    void closeAllNow() {
        for (const auto& [key, fd] : sockets) close(fd);
        sockets.clear();
    }
};

OSCClient& OSCClient::shared() {
    static OSCClient client;
    return client;
}

OSCClient::OSCClient() : impl_(std::make_unique<Impl>()) {}

OSCClient::~OSCClient() = default;

void OSCClient::send(const OSCMessage& message, const std::string& host, std::uint16_t port) {
    sendDatagram(OSCCodec::encode(message), host, port);
}

void OSCClient::sendDatagram(std::vector<std::uint8_t> datagram, const std::string& host, std::uint16_t port) {
    if (port == 0) return;  // nothing can be sent to port 0
    if (impl_->pending.load() >= maxPendingSends) return;
    impl_->pending.fetch_add(1);
    impl_->post([impl = impl_.get(), datagram = std::move(datagram), host, port] {
        impl->pending.fetch_sub(1);
        impl->sendNow(datagram, host, port);
    });
}

void OSCClient::closeAll() {
    impl_->post([impl = impl_.get()] { impl->closeAllNow(); });
}

}  // namespace tallowmark
