#include "control/osc_server.hpp"

#include <glib-unix.h>
#include <glib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "core/main_queue.hpp"
#include "core/system_log.hpp"

namespace tallowmark {

namespace {

std::atomic<double> idleTimeoutSeconds{30.0};

// Messages posted to the main thread and not yet run, per listener. A desk or a
// script flooding the port while the UI is busy would otherwise grow the main
// queue without end; past this many, messages are dropped where they arrive.
constexpr int maxInFlight = 1024;
// Datagrams read per wakeup: enough to drain a burst in one go, few enough that
// the stop flag and the sweep still get their turn under a flood.
constexpr int maxBatch = 256;
constexpr std::size_t maxDatagram = 65536;

using MessageHandler = std::function<void(const OSCMessage&, const std::string&)>;
using AddressFilter = std::function<bool(std::string_view)>;

// The longest unknown address quoted in the log: a hostile one may be 64 kB.
constexpr std::size_t maxQuotedAddress = 64;

// One sending host, whatever ports it sends from.
struct Peer {
    sockaddr_storage address{};  // the first datagram's; only its host counts
    socklen_t length = 0;
    gint64 lastSeen = 0;  // monotonic microseconds
    std::string host;
    bool desk = false;
    // The peer's share as a token bucket: a flooding peer is cut off here, before
    // its messages queue on the main thread in front of another peer's GO. A
    // bucket rather than a fixed window, so a flood reaches the hub as a steady
    // stream over its own budget and the hub's overflow line shows every second.
    double tokens = OSCServer::maxPerPeerPerSecond;
    gint64 refilledAt = 0;
    std::size_t dropped = 0;  // since the last drop line
    std::size_t unknown = 0;  // messages to addresses no one answers, since the last line
    std::string unknownExample;

    // Takes one message from the share; false when it is spent.
    bool spend(gint64 now) {
        constexpr double rate = OSCServer::maxPerPeerPerSecond;
        tokens = std::min(rate, tokens + double(now - refilledAt) * rate / G_USEC_PER_SEC);
        refilledAt = now;
        if (tokens < 1) {
            ++dropped;
            return false;
        }
        tokens -= 1;
        return true;
    }
};

// A dual-stack socket reports IPv4 peers as ::ffff:a.b.c.d; name them as IPv4 so
// a loopback peer reads "127.0.0.1:port" whichever socket heard it.
void unmapIPv4(sockaddr_storage& address, socklen_t& length) {
    if (address.ss_family != AF_INET6) return;
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (!IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) return;
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = v6.sin6_port;
    std::memcpy(&v4.sin_addr, v6.sin6_addr.s6_addr + 12, 4);
    address = {};
    std::memcpy(&address, &v4, sizeof v4);
    length = sizeof v4;
}

// The port is left out: a share is a machine's, not a socket's.
bool sameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET) {
        const auto& x = reinterpret_cast<const sockaddr_in&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in&>(b);
        return x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
        return x.sin6_scope_id == y.sin6_scope_id && std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return false;
}

// "host:port", or the host alone.
std::string senderText(const sockaddr_storage& address, socklen_t length, bool withPort = true) {
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    std::string text(host);
    // The scope ("%eth0") means nothing to the operator reading the control log.
    if (const auto scope = text.find('%'); scope != std::string::npos) text.erase(scope);
    return withPort ? text + ":" + service : text;
}

struct BindResult {
    int fd = -1;
    std::string error;
};

BindResult failure(int error, int fd) {
    if (fd >= 0) close(fd);
    return {-1, g_strerror(error)};
}

// No SO_REUSEADDR: on Linux it lets a second process bind the same UDP port,
// and the newest socket then takes every datagram while both think they listen.
// Without it a second instance is refused with "Address already in use".
BindResult bindSocket(std::uint16_t port, bool localOnly) {
    if (!localOnly) {
        // Dual-stack [::] so IPv6 peers are heard as well; plain IPv4 where the host
        // has IPv6 switched off.
        const int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const int off = 0;
            sockaddr_in6 any{};
            any.sin6_family = AF_INET6;
            any.sin6_port = htons(port);
            any.sin6_addr = in6addr_any;
            if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0 &&
                bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0) {
                return {fd, {}};
            }
            const int error = errno;
            close(fd);
            if (error != EADDRNOTAVAIL && error != EAFNOSUPPORT && error != ENOPROTOOPT) return failure(error, -1);
        }
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return failure(errno, -1);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(localOnly ? INADDR_LOOPBACK : INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return failure(errno, fd);
    }
    return {fd, {}};
}

// Room for a burst while the thread is busy dropping a flood, so the kernel
// does not drop a desk's GO first. Best effort: the system caps it.
int withReceiveRoom(int fd) {
    const int bytes = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    return fd;
}

// One bound socket and the thread that reads it, from a successful start to the
// next stop. The thread runs its own main context (the server's serial queue) and
// touches only this object; the peer table lives there alone.
class Listener {
public:
    Listener(int fd, std::shared_ptr<const MessageHandler> handler, AddressFilter accepts,
             std::vector<std::string> deskHosts)
        : fd_(withReceiveRoom(fd)),
          handler_(std::move(handler)),
          accepts_(std::move(accepts)),
          deskHosts_(std::move(deskHosts)),
          inFlight_(std::make_shared<std::atomic<int>>(0)),
          context_(g_main_context_new()),
          buffer_(maxDatagram) {
        GSource* watch = g_unix_fd_source_new(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_ERR));
        g_source_set_callback(watch, G_SOURCE_FUNC(&Listener::readable), this, nullptr);
        g_source_attach(watch, context_);
        g_source_unref(watch);
        scheduleSweep();
        thread_ = std::thread([this] { run(); });
    }

    ~Listener() {
        stopping_.store(true);
        g_main_context_wakeup(context_);
        thread_.join();
        g_main_context_unref(context_);  // destroys the watch and the timer unrun
        close(fd_);
    }

    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::size_t peerCount() const { return peerCount_.load(); }

private:
    void run() {
        g_main_context_push_thread_default(context_);
        // Not a GMainLoop: a quit that comes before g_main_loop_run starts is lost,
        // while the wakeup's eventfd stays signalled until this poll sees it.
        while (!stopping_.load()) g_main_context_iteration(context_, TRUE);
        logDrops(g_get_monotonic_time(), true);
        g_main_context_pop_thread_default(context_);
    }

    static gboolean readable(int, GIOCondition condition, gpointer self) {
        static_cast<Listener*>(self)->receive(condition);
        return G_SOURCE_CONTINUE;
    }

    void receive(GIOCondition condition) {
        if (condition & G_IO_ERR) {
            // An ICMP error queued on the socket; reading it clears it, else the watch spins.
            int error = 0;
            socklen_t size = sizeof error;
            getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
        }
        for (int i = 0; i < maxBatch && !stopping_.load(); ++i) {
            sockaddr_storage from{};
            socklen_t length = sizeof from;
            const ssize_t size = recvfrom(fd_, buffer_.data(), buffer_.size(), MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&from), &length);
            if (size < 0) {
                if (errno == EINTR) continue;
                break;  // drained, or an error for one datagram: the socket stays open either way
            }
            if (static_cast<std::size_t>(size) > buffer_.size()) continue;  // cut short: undecodable
            received(std::span(buffer_.data(), static_cast<std::size_t>(size)), from, length);
        }
        logDrops(g_get_monotonic_time(), false);
    }

    void received(std::span<const std::uint8_t> data, sockaddr_storage from, socklen_t length) {
        unmapIPv4(from, length);
        const gint64 now = g_get_monotonic_time();
        auto peer = std::find_if(peers_.begin(), peers_.end(), [&](const Peer& p) { return sameHost(p.address, from); });
        if (peer == peers_.end()) {
            peer = announce(from, length, now);
        } else if (!data.empty()) {
            peer->lastSeen = now;
        }
        if (data.empty()) return;
        // A plain message is judged by its address before anything else: one
        // to an unknown address is dropped without costing its sender's share
        // (a desk that echoes all of its output here keeps its GOs), and one
        // over a spent share is dropped undecoded, which under a flood is most.
        int prepaid = 0;
        const std::optional<OSCCodec::StringRead> head = OSCCodec::readString(data, 0);
        if (!head) return;
        if (head->value != "#bundle") {
            if (!accepted(*peer, head->value)) return;
            if (!peer->spend(now)) return;
            prepaid = 1;
        }
        const std::string sender = senderText(from, length);
        for (OSCMessage& message : OSCCodec::decode(data)) {
            if (!accepted(*peer, message.address)) continue;
            if (prepaid > 0) --prepaid;
            else if (!peer->spend(now)) continue;
            post(std::move(message), sender, peer->desk);
        }
    }

    bool accepted(Peer& peer, std::string_view address) {
        if (!accepts_ || accepts_(address)) return true;
        if (peer.unknown++ == 0) peer.unknownExample = std::string(address.substr(0, maxQuotedAddress));
        return false;
    }

    std::vector<Peer>::iterator announce(const sockaddr_storage& from, socklen_t length, gint64 now) {
        Peer peer;
        peer.address = from;
        peer.length = length;
        peer.lastSeen = now;
        peer.host = senderText(from, length, false);
        peer.desk = std::ranges::find(deskHosts_, peer.host) != deskHosts_.end();
        peer.refilledAt = now;
        // The oldest announcement goes even if it is still talking, but never a
        // desk: on a busy network the table must stay bounded, and a dropped
        // peer that speaks again is simply announced again.
        if (peers_.size() >= OSCServer::maxPeers) {
            auto oldest = std::find_if(peers_.begin(), peers_.end(), [](const Peer& p) { return !p.desk; });
            if (oldest == peers_.end()) oldest = peers_.begin();
            peers_.erase(oldest);
        }
        peers_.push_back(std::move(peer));
        peerCount_.store(peers_.size());
        return peers_.end() - 1;
    }

    void post(OSCMessage&& message, const std::string& sender, bool desk) {
        // A desk's messages are bounded by its own share; they never wait for room.
        if (!desk && inFlight_->load() >= maxInFlight) {
            ++dropped_;
            return;
        }
        inFlight_->fetch_add(1);
        postToMain([inFlight = inFlight_, handler = handler_, message = std::move(message), sender] {
            inFlight->fetch_sub(1);
            (*handler)(message, sender);
        });
    }

    // One line per second at most for the queue, and one round of lines for the
    // peers; the counts cover the whole second. A peer swept or pushed out of the
    // table takes its count along.
    void logDrops(gint64 now, bool force) {
        const auto due = [&](const std::optional<gint64>& last) {
            return force || !last || now - *last >= G_USEC_PER_SEC;
        };
        if (dropped_ > 0 && due(lastDropLog_)) {
            logSystem("OSC-jono taynna - viesteja pudotettu: " + std::to_string(dropped_));
            dropped_ = 0;
            lastDropLog_ = now;
        }
        if (!due(lastPeerDropLog_)) return;
        bool logged = false;
        for (Peer& peer : peers_) {
            if (peer.unknown > 0) {
                logSystem("OSC-lahettaja " + peer.host + " - tuntemattomia osoitteita pudotettu: " +
                          std::to_string(peer.unknown) + " (esim. " + peer.unknownExample + ")");
                peer.unknown = 0;
                logged = true;
            }
            if (peer.dropped == 0) continue;
            logSystem("OSC-lahettaja " + peer.host + " yli " + std::to_string(OSCServer::maxPerPeerPerSecond) +
                      " viestia/s - pudotettu: " + std::to_string(peer.dropped));
            peer.dropped = 0;
            logged = true;
        }
        if (logged) lastPeerDropLog_ = now;
    }

    void scheduleSweep() {
        // Half the timeout, so a peer goes at most 1.5 timeouts after its last
        // datagram; clamped so a tiny timeout cannot spin the thread. Taken afresh
        // each round, as the timeout may change while listening.
        const double interval = std::clamp(OSCServer::idleTimeout() / 2, 0.1, 10.0);
        GSource* timer = g_timeout_source_new(static_cast<guint>(interval * 1000));
        g_source_set_callback(timer, &Listener::sweepNow, this, nullptr);
        g_source_attach(timer, context_);
        g_source_unref(timer);
    }

    static gboolean sweepNow(gpointer self) {
        static_cast<Listener*>(self)->sweep();
        return G_SOURCE_REMOVE;
    }

    void sweep() {
        const gint64 now = g_get_monotonic_time();
        const gint64 cutoff = now - static_cast<gint64>(OSCServer::idleTimeout() * G_USEC_PER_SEC);
        std::erase_if(peers_, [&](const Peer& peer) { return peer.lastSeen < cutoff; });
        peerCount_.store(peers_.size());
        logDrops(now, false);
        scheduleSweep();
    }

    const int fd_;
    const std::shared_ptr<const MessageHandler> handler_;  // runs on the main thread
    const AddressFilter accepts_;                          // pure: safe on this thread
    const std::vector<std::string> deskHosts_;
    const std::shared_ptr<std::atomic<int>> inFlight_;     // shared with the posted tasks
    GMainContext* const context_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> peerCount_{0};
    // Listener thread only.
    std::vector<Peer> peers_;  // oldest announcement first
    std::vector<std::uint8_t> buffer_;
    std::size_t dropped_ = 0;
    std::optional<gint64> lastDropLog_;
    std::optional<gint64> lastPeerDropLog_;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace

// Main thread only. The listener thread never touches it: its posted tasks
// reach it weakly, on the main thread.
struct OSCServer::Impl {
    OSCServer* owner = nullptr;  // none once the server is being destroyed
    std::uint16_t port = 0;
    bool listening = false;
    // Names the current listener. Bumped by every start and by the stop of a
    // running listener: a message or report posted for an earlier listener finds
    // a newer number and delivers nothing, so a restart's stale "stopped" or
    // "listening" cannot overwrite what the new one said.
    std::uint64_t generation = 0;
    std::unique_ptr<Listener> listener;

    static void postStatus(const std::weak_ptr<Impl>& weak, std::uint64_t generation, bool listening,
                           std::uint16_t port) {
        postToMain([weak, generation, listening, port] {
            const auto impl = weak.lock();
            if (!impl || !impl->owner || impl->generation != generation) return;
            impl->listening = listening;
            // A copy: the callback may replace itself or restart the server.
            if (auto callback = impl->owner->onStatusChange) callback(listening, port, std::nullopt);
        });
    }
};

OSCServer::OSCServer() : impl_(std::make_shared<Impl>()) { impl_->owner = this; }

OSCServer::~OSCServer() {
    impl_->owner = nullptr;
    stop();
}

void OSCServer::start(std::int64_t port, bool localOnly, std::vector<std::string> deskHosts) {
    stop();
    Impl& s = *impl_;
    // Even a start that fails at once replaces whatever was reported before it.
    const std::uint64_t generation = ++s.generation;
    // Port 0 would mean "any port", but a desk needs a fixed one to send to.
    const bool valid = port >= 1 && port <= 65535;
    s.port = valid ? static_cast<std::uint16_t>(port) : 0;
    if (!valid) {
        if (auto callback = onStatusChange) callback(false, s.port, std::string("virheellinen portti"));
        return;
    }
    BindResult bound = bindSocket(s.port, localOnly);
    if (bound.fd < 0) {
        if (auto callback = onStatusChange) callback(false, s.port, bound.error);
        return;
    }
    std::weak_ptr<Impl> weak = impl_;
    auto handler = std::make_shared<const MessageHandler>(
        [weak, generation](const OSCMessage& message, const std::string& sender) {
            const auto impl = weak.lock();
            if (!impl || !impl->owner || impl->generation != generation) return;
            if (auto callback = impl->owner->onMessage) callback(message, sender);
        });
    s.listener = std::make_unique<Listener>(bound.fd, std::move(handler), acceptsAddress, std::move(deskHosts));
    Impl::postStatus(weak, generation, true, s.port);
}

void OSCServer::stop() {
    Impl& s = *impl_;
    s.listening = false;
    // A second stop keeps the first one's report current: it has nothing to add.
    if (!s.listener) return;
    ++s.generation;
    s.listener.reset();  // joins its thread, closes the socket, forgets the peers
    Impl::postStatus(impl_, s.generation, false, s.port);
}

bool OSCServer::isListening() const { return impl_->listening; }

std::uint16_t OSCServer::port() const { return impl_->port; }

std::size_t OSCServer::trackedPeerCount() const {
    return impl_->listener ? impl_->listener->peerCount() : 0;
}

void OSCServer::setIdleTimeout(double seconds) {
    // Negative or NaN has no meaning; the cap keeps the microsecond cutoff in range.
    if (!(seconds >= 0)) return;
    idleTimeoutSeconds.store(std::min(seconds, 1e9));
}

double OSCServer::idleTimeout() { return idleTimeoutSeconds.load(); }

}  // namespace tallowmark
