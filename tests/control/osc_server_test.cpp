#include "control/osc_server.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/main_queue.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using testing::pumpMainUntil;

std::optional<sockaddr_storage> numericAddress(const std::string& host, std::uint16_t port, socklen_t& length) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return std::nullopt;
    sockaddr_storage address{};
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    length = found->ai_addrlen;
    freeaddrinfo(found);
    return address;
}

// A plain UDP socket bound to host:port (port 0: the kernel's pick), as a desk's would be.
class RawPeer {
public:
    explicit RawPeer(const std::string& host = "127.0.0.1", std::uint16_t port = 0) : host_(host) {
        socklen_t length = 0;
        const auto local = numericAddress(host, port, length);
        if (!local) return;
        fd_ = socket(local->ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&*local), length) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        sockaddr_storage bound{};
        length = sizeof bound;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
        port_ = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(bound).sin_port
                                                 : reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
    }
    ~RawPeer() {
        if (fd_ >= 0) close(fd_);
    }

    bool valid() const { return fd_ >= 0; }
    std::uint16_t port() const { return port_; }
    std::string name() const { return host_ + ":" + std::to_string(port_); }

    void sendTo(const std::string& host, std::uint16_t port, const Bytes& datagram) const {
        socklen_t length = 0;
        const auto to = numericAddress(host, port, length);
        ASSERT_TRUE(to) << host;
        ASSERT_EQ(sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&*to), length),
                  static_cast<ssize_t>(datagram.size()));
    }

    std::vector<OSCMessage> receive(int timeoutMs) const {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1) return {};
        Bytes buffer(65536);
        const ssize_t size = recv(fd_, buffer.data(), buffer.size(), 0);
        buffer.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        return OSCCodec::decode(buffer);
    }

private:
    std::string host_;
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A UDP port nobody holds right now.
std::uint16_t freePort() {
    RawPeer probe("0.0.0.0");
    return probe.port();
}

Bytes datagram(const std::string& address, std::vector<OSCArgument> arguments = {}) {
    return OSCCodec::encode(OSCMessage{address, std::move(arguments)});
}

struct Status {
    bool listening;
    std::uint16_t port;
    std::optional<std::string> error;
    bool operator==(const Status&) const = default;
};

struct Received {
    OSCMessage message;
    std::string sender;
};

class OSCServerTest : public ::testing::Test {
protected:
    void SetUp() override { attach(*server); }

    void attach(OSCServer& s) {
        s.onMessage = [this](const OSCMessage& message, const std::string& sender) {
            messages.push_back({message, sender});
        };
        s.onStatusChange = [this](bool listening, std::uint16_t p, const std::optional<std::string>& error) {
            statuses.push_back({listening, p, error});
        };
    }

    // Starts the server on `p` and waits for its ready report.
    void listen(bool localOnly, std::uint16_t p = 0) {
        if (p == 0) p = port;
        server->start(p, localOnly);
        ASSERT_TRUE(pumpMainUntil([&] { return !statuses.empty() && statuses.back() == Status{true, p, std::nullopt}; }))
            << "no ready report for port " << p;
    }

    bool pumpUntilCount(std::size_t count) {
        return pumpMainUntil([&] { return messages.size() >= count; });
    }

    std::vector<std::string> addresses() const {
        std::vector<std::string> out;
        for (const auto& r : messages) out.push_back(r.message.address);
        return out;
    }

    const std::uint16_t port = freePort();
    std::vector<Received> messages;
    std::vector<Status> statuses;
    std::unique_ptr<OSCServer> server = std::make_unique<OSCServer>();  // last: goes first
};

int runTool(const std::vector<std::string>& arguments) {
    std::vector<gchar*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<gchar*>(a.c_str()));
    argv.push_back(nullptr);
    gint status = -1;
    if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
                      &status, nullptr)) {
        return -1;
    }
    return g_spawn_check_wait_status(status, nullptr) ? 0 : 1;
}

std::optional<std::string> interfaceAddress(int family, bool (*wanted)(const sockaddr*)) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::string> found;
    for (const ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != family || (i->ifa_flags & IFF_LOOPBACK) ||
            !(i->ifa_flags & IFF_UP) || !wanted(i->ifa_addr)) {
            continue;
        }
        char host[NI_MAXHOST];
        const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (getnameinfo(i->ifa_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0) found = host;
    }
    freeifaddrs(list);
    return found;
}

TEST_F(OSCServerTest, ReportsReadyRestartAndStop) {
    const std::uint16_t second = freePort();
    EXPECT_FALSE(server->isListening());
    EXPECT_EQ(server->port(), 0);
    listen(true);
    EXPECT_TRUE(server->isListening());
    listen(false, second);
    EXPECT_EQ(server->port(), second);
    EXPECT_TRUE(RawPeer("127.0.0.1", port).valid()) << "a restart releases the old port";
    server->stop();
    EXPECT_FALSE(server->isListening());
    server->stop();
    ASSERT_TRUE(pumpMainUntil([&] { return statuses.size() == 4; }));
    drainMainQueue();
    EXPECT_EQ(statuses, (std::vector<Status>{{true, port, std::nullopt},
                                             {false, port, std::nullopt},
                                             {true, second, std::nullopt},
                                             {false, second, std::nullopt}}))
        << "a second stop has nothing to report";
    EXPECT_TRUE(RawPeer("0.0.0.0", second).valid()) << "stop releases the port";
}

TEST_F(OSCServerTest, RefusedPortsAreReportedAtOnce) {
    RawPeer holder("0.0.0.0");  // without address reuse, so the server cannot share the port
    server->start(0, false);
    server->start(70000, false);
    server->start(holder.port(), false);
    server->start(holder.port(), true);
    const std::vector<Status> expected{{false, 0, "virheellinen portti"},
                                       {false, 0, "virheellinen portti"},
                                       {false, holder.port(), "Address already in use"},
                                       {false, holder.port(), "Address already in use"}};
    EXPECT_EQ(statuses, expected) << "reported on the caller's thread, before the loop runs";
    drainMainQueue();
    EXPECT_EQ(statuses, expected);
    EXPECT_FALSE(server->isListening());
}

TEST_F(OSCServerTest, DecodesWhatOscsendSends) {
    listen(false);  // dual-stack: an IPv4 peer must still read as 127.0.0.1
    const std::string p = std::to_string(port);
    ASSERT_EQ(runTool({"oscsend", "127.0.0.1", p, "/go"}), 0);
    ASSERT_EQ(runTool({"oscsend", "127.0.0.1", p, "/tallowmark/cue/12/go"}), 0);
    ASSERT_EQ(runTool({"oscsend", "127.0.0.1", p, "/tallowmark/cue", "f", "12.0"}), 0);
    ASSERT_EQ(runTool({"oscsend", "127.0.0.1", p, "/tallowmark/cue/name", "s", "Act 1"}), 0);
    ASSERT_EQ(runTool({"oscsend", "127.0.0.1", p, "/mixed", "iTFN", "7"}), 0);
    ASSERT_TRUE(pumpUntilCount(5));

    const std::vector<OSCMessage> expected{
        {"/go", {}},
        {"/tallowmark/cue/12/go", {}},
        {"/tallowmark/cue", {12.0f}},
        {"/tallowmark/cue/name", {std::string("Act 1")}},
        {"/mixed", {std::int32_t{7}, true, false, OSCNull{}}},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(messages[i].message, expected[i]) << i;
        EXPECT_THAT(messages[i].sender, MatchesRegex(R"(127\.0\.0\.1:[0-9]+)"));
        EXPECT_NE(messages[i].sender, "127.0.0.1:" + p);
    }
}

TEST_F(OSCServerTest, BundlesArriveInOrderAndEmptyOrBrokenDatagramsAreSkipped) {
    listen(true);
    const Bytes bundle{
        '#', 'b', 'u', 'n', 'd', 'l', 'e', 0,  // 0: "#bundle"
        0, 0, 0, 0, 0, 0, 0, 1,                // 8: time tag "immediately"
        0, 0, 0, 8,                            // 16: element of 8 bytes
        '/', 'a', 0, 0, ',', 0, 0, 0,          // 20: /a
        0, 0, 0, 12,                           // 28: element of 12 bytes
        '/', 'b', 0, 0, ',', 'i', 0, 0,        // 32: /b i
        0, 0, 0, 42,                           // 40: 42
        0, 0, 0, 16,                           // 44: element of 16 bytes
        '/', 'c', 0, 0, ',', 'b', 0, 0,        // 48: /c b
        0, 0, 0, 3, 1, 2, 3, 0,                // 56: blob of 3 bytes, padded
    };
    RawPeer peer;
    peer.sendTo("127.0.0.1", port, {});
    peer.sendTo("127.0.0.1", port, {'n', 'o', 'p', 'e'});
    peer.sendTo("127.0.0.1", port, bundle);
    peer.sendTo("127.0.0.1", port, datagram("/go"));
    ASSERT_TRUE(pumpMainUntil([&] { return !messages.empty() && messages.back().message.address == "/go"; }));

    EXPECT_EQ(addresses(), (std::vector<std::string>{"/a", "/b", "/c", "/go"}));
    EXPECT_EQ(messages[1].message.arguments, (std::vector<OSCArgument>{std::int32_t{42}}));
    EXPECT_EQ(messages[2].message.arguments, (std::vector<OSCArgument>{OSCBlob{1, 2, 3}}));
    for (const auto& r : messages) EXPECT_EQ(r.sender, peer.name());
}

TEST_F(OSCServerTest, TracksAtMost64Peers) {
    listen(true);
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 65; ++i) {
        peers.push_back(std::make_unique<RawPeer>());
        peers.back()->sendTo("127.0.0.1", port, datagram("/go"));
    }
    ASSERT_TRUE(pumpUntilCount(65)) << "every peer is heard, tracked or not";
    EXPECT_EQ(server->trackedPeerCount(), OSCServer::maxPeers);
    server->stop();
    EXPECT_EQ(server->trackedPeerCount(), 0u);
}

TEST_F(OSCServerTest, SweepsSilentPeersAndHearsThemAgain) {
    struct RestoreTimeout {
        ~RestoreTimeout() { OSCServer::setIdleTimeout(30); }
    } restore;
    OSCServer::setIdleTimeout(0.5);
    OSCServer::setIdleTimeout(std::nan(""));
    OSCServer::setIdleTimeout(-1);
    EXPECT_EQ(OSCServer::idleTimeout(), 0.5) << "meaningless timeouts are ignored";

    listen(true);
    RawPeer peer;
    peer.sendTo("127.0.0.1", port, datagram("/first"));
    ASSERT_TRUE(pumpUntilCount(1));
    EXPECT_EQ(server->trackedPeerCount(), 1u);
    ASSERT_TRUE(pumpMainUntil([&] { return server->trackedPeerCount() == 0; })) << "the silent peer is never swept";
    peer.sendTo("127.0.0.1", port, datagram("/again"));
    ASSERT_TRUE(pumpUntilCount(2));
    EXPECT_EQ(messages[1].sender, peer.name());
    EXPECT_EQ(server->trackedPeerCount(), 1u);
}

TEST_F(OSCServerTest, LocalOnlyIgnoresTheLanAddress) {
    const auto lan = interfaceAddress(AF_INET, [](const sockaddr*) { return true; });
    if (!lan) GTEST_SKIP() << "no non-loopback IPv4 address on this machine to send to";
    RawPeer peer("0.0.0.0");  // the source address follows the destination

    // The LAN datagram goes first; once the loopback marker is in, a heard LAN one is in too.
    const auto lanHeard = [&](bool localOnly) {
        listen(localOnly);
        messages.clear();
        peer.sendTo(*lan, port, datagram("/lan"));
        peer.sendTo("127.0.0.1", port, datagram("/marker"));
        EXPECT_TRUE(pumpMainUntil([&] { return !messages.empty() && messages.back().message.address == "/marker"; }));
        if (messages.size() != 2) return false;
        EXPECT_EQ(messages[0].sender, *lan + ":" + std::to_string(peer.port()));
        return true;
    };
    EXPECT_FALSE(lanHeard(true));
    EXPECT_TRUE(lanHeard(false));
    EXPECT_FALSE(lanHeard(true)) << "local-only switched back on";
}

TEST_F(OSCServerTest, NamesIPv6PeersWithoutTheirScope) {
    const auto linkLocal = interfaceAddress(AF_INET6, [](const sockaddr* a) {
        return bool(IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr));
    });
    RawPeer loopback("::1");
    if (!linkLocal || !loopback.valid()) GTEST_SKIP() << "no IPv6 loopback or link-local address here";
    RawPeer scoped(*linkLocal);  // "fe80::...%eth0"
    ASSERT_TRUE(scoped.valid());
    listen(false);

    scoped.sendTo(*linkLocal, port, datagram("/link"));
    loopback.sendTo("::1", port, datagram("/loop"));
    ASSERT_TRUE(pumpUntilCount(2));
    EXPECT_EQ(messages[0].sender, linkLocal->substr(0, linkLocal->find('%')) + ":" + std::to_string(scoped.port()));
    EXPECT_EQ(messages[1].sender, "::1:" + std::to_string(loopback.port()));
}

TEST_F(OSCServerTest, NothingIsDeliveredAfterStopOrDestruction) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "stopped");
        listen(true);
        RawPeer peer;
        peer.sendTo("127.0.0.1", port, datagram("/late"));
        // Tracked means read: the message is posted (or about to be), and the
        // main loop has not run since.
        const gint64 deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
        while (server->trackedPeerCount() == 0 && g_get_monotonic_time() < deadline) g_usleep(1000);
        ASSERT_EQ(server->trackedPeerCount(), 1u);
        destroy ? server.reset() : server->stop();
        drainMainQueue();
        EXPECT_TRUE(messages.empty());
        // A destroyed server reports nothing more; its last word was the ready report.
        EXPECT_EQ(statuses.back(), (Status{destroy, port, std::nullopt}));
    }
}

TEST_F(OSCServerTest, FloodIsCappedAndTheServerRecovers) {
    listen(true);
    RawPeer peer;
    const Bytes flood = datagram("/flood", {std::int32_t{1}});
    // About 10,000 datagrams a second, in bursts of 100 every 10 ms.
    const auto send = [&](double seconds, bool pump) {
        const gint64 start = g_get_monotonic_time();
        for (int burst = 0; burst < seconds * 100; ++burst) {
            for (int i = 0; i < 100; ++i) peer.sendTo("127.0.0.1", port, flood);
            const gint64 next = start + (burst + 1) * 10000;
            if (pump) {
                pumpMainUntil([&] { return g_get_monotonic_time() >= next; });
            } else if (next > g_get_monotonic_time()) {
                g_usleep(static_cast<gulong>(next - g_get_monotonic_time()));
            }
        }
    };

    // A stalled main loop: what waits for it is capped, and the dropping is logged.
    ::testing::internal::CaptureStderr();
    send(1.5, false);
    drainMainQueue();
    const std::string log = ::testing::internal::GetCapturedStderr();
    const std::size_t stalled = messages.size();
    EXPECT_GT(stalled, 0u);
    EXPECT_LT(stalled, 2048u) << "the in-flight cap, plus what the socket still held as the loop caught up";
    EXPECT_THAT(log, HasSubstr("OSC-jono taynna - viesteja pudotettu: "));

    // A running loop keeps receiving through a flood, and the first message after it arrives.
    send(1.0, true);
    EXPECT_GT(messages.size(), stalled);
    peer.sendTo("127.0.0.1", port, datagram("/go"));
    EXPECT_TRUE(pumpMainUntil([&] { return messages.back().message.address == "/go"; }, 10000));
}

// oscdump as a child process, its standard output read line by line.
class Oscdump {
public:
    explicit Oscdump(std::uint16_t port) {
        const std::string p = std::to_string(port);
        gchar* argv[] = {const_cast<gchar*>("oscdump"), const_cast<gchar*>("-L"), const_cast<gchar*>(p.c_str()),
                         nullptr};
        spawned_ = g_spawn_async_with_pipes(nullptr, argv, nullptr,
                                            GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
                                            nullptr, &pid_, nullptr, &out_, nullptr, nullptr);
    }
    ~Oscdump() {
        if (!spawned_) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        g_spawn_close_pid(pid_);
        close(out_);
    }
    bool spawned() const { return spawned_; }

    // The next line that holds `text`, or none after `timeoutMs`.
    std::optional<std::string> lineWith(const std::string& text, int timeoutMs) {
        const gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
        while (true) {
            for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (line.find(text) != std::string::npos) return line;
            }
            const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
            pollfd ready{out_, POLLIN, 0};
            if (left <= 0 || poll(&ready, 1, int(left)) != 1) return std::nullopt;
            char chunk[512];
            const ssize_t size = read(out_, chunk, sizeof chunk);
            if (size <= 0) return std::nullopt;
            pending_.append(chunk, static_cast<std::size_t>(size));
        }
    }

private:
    bool spawned_ = false;
    GPid pid_{};
    int out_ = -1;
    std::string pending_;
};

TEST(OSCClient, SendsWhatOscdumpPrints) {
    const std::uint16_t port = freePort();
    Oscdump dump(port);
    ASSERT_TRUE(dump.spawned());
    OSCClient client;
    // oscdump binds a moment after it starts: knock until it answers.
    bool answered = false;
    for (int i = 0; i < 100 && !answered; ++i) {
        client.send({"/knock", {}}, "127.0.0.1", port);
        answered = dump.lineWith("/knock", 100).has_value();
    }
    ASSERT_TRUE(answered);

    client.send({"/tallowmark/cue/12/go", {std::int32_t{7}, 2.5f, std::string("Act 1"), true}}, "127.0.0.1", port);
    const auto line = dump.lineWith("/tallowmark/cue/12/go", 5000);
    ASSERT_TRUE(line);
    EXPECT_THAT(*line, HasSubstr("/tallowmark/cue/12/go ifsT 7 2.500000 \"Act 1\" #T"));

    client.closeAll();
    client.send({"/reopened", {}}, "127.0.0.1", port);
    EXPECT_TRUE(dump.lineWith("/reopened", 5000));
}

TEST(OSCClient, ReachesAPeerThatWasAwayAtFirst) {
    OSCClient client;
    RawPeer barrier;
    const std::uint16_t port = freePort();  // nobody there yet
    client.send({"/early", {}}, "127.0.0.1", port);
    // Sent after /early on the client's one thread: once this is in, /early has
    // gone out and been refused.
    client.send({"/barrier", {}}, "127.0.0.1", barrier.port());
    ASSERT_EQ(barrier.receive(5000).size(), 1u);

    RawPeer receiver("127.0.0.1", port);
    ASSERT_TRUE(receiver.valid());
    client.send({"/back", {}}, "127.0.0.1", port);
    const auto got = receiver.receive(5000);
    ASSERT_EQ(got.size(), 1u) << "the refusal of /early cost the next datagram";
    EXPECT_EQ(got[0].address, "/back");
}

}  // namespace
}  // namespace tallowmark
