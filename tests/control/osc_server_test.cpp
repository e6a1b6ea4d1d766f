#include "control/osc_server.hpp"
#include "control/osc_client.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cmath>
#include <functional>
#include <memory>

#include "core/main_queue.hpp"
#include "udp_peer.hpp"

namespace tallowmark {
namespace {

using ::testing::HasSubstr;
using testing::Bytes;
using testing::datagram;
using testing::freePort;
using testing::pumpMainUntil;
using testing::RawPeer;

using Status = std::tuple<bool, std::uint16_t, std::optional<std::string>>;  // listening, port, error

class OSCServerTest : public ::testing::Test {
protected:
    void SetUp() override { watch(*server, messages, statuses); }
    static void watch(OSCServer& s, std::vector<std::pair<OSCMessage, std::string>>& heard, std::vector<Status>& said) {
        s.onMessage = [&heard](const OSCMessage& m, const std::string& sender) { heard.push_back({m, sender}); };
        s.onStatusChange = [&said](bool listening, std::uint16_t p, const std::optional<std::string>& error) {
            said.push_back({listening, p, error});
        };
    }

    // Starts the server on `p` and waits for its ready report.
    void listen(bool localOnly, std::uint16_t p = 0) {
        if (p == 0) p = port;
        server->start(p, localOnly);
        ASSERT_TRUE(pumpMainUntil([&] { return !statuses.empty() && statuses.back() == Status{true, p, std::nullopt}; }))
            << "no ready report for port " << p;
    }
    bool heard(const std::string& address, int timeoutMs = 5000) {
        return pumpMainUntil([&] { return !messages.empty() && messages.back().first.address == address; }, timeoutMs);
    }

    const std::uint16_t port = freePort();
    std::vector<std::pair<OSCMessage, std::string>> messages;  // message, sender
    std::vector<Status> statuses;
    std::unique_ptr<OSCServer> server = std::make_unique<OSCServer>();  // last: goes first
};

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

TEST_F(OSCServerTest, ReportsRefusalReadyRestartAndStop) {
    RawPeer holder("0.0.0.0");  // without address reuse, so the server cannot share the port
    server->start(0, false);
    server->start(70000, false);
    server->start(holder.port(), false);
    server->start(holder.port(), true);
    const std::vector<Status> refused{{false, 0, "virheellinen portti"},
                                      {false, 0, "virheellinen portti"},
                                      {false, holder.port(), "Address already in use"},
                                      {false, holder.port(), "Address already in use"}};
    EXPECT_EQ(statuses, refused) << "reported on the caller's thread, before the loop runs";
    drainMainQueue();
    EXPECT_EQ(statuses, refused);
    EXPECT_FALSE(server->isListening());

    statuses.clear();
    const std::uint16_t second = freePort();
    listen(true);
    EXPECT_TRUE(server->isListening());
    listen(false, second);
    EXPECT_EQ(server->port(), second);
    EXPECT_TRUE(RawPeer("127.0.0.1", port).valid()) << "a restart releases the old port";
    server->stop();
    EXPECT_FALSE(server->isListening());
    server->stop();
    ASSERT_TRUE(pumpMainUntil([&] { return statuses.size() == 3; }));
    drainMainQueue();
    EXPECT_EQ(statuses, (std::vector<Status>{{true, port, std::nullopt},
                                             {true, second, std::nullopt},
                                             {false, second, std::nullopt}}))
        << "the listener replaced by a restart says nothing; a second stop has nothing to report";
    EXPECT_TRUE(RawPeer("0.0.0.0", second).valid()) << "stop releases the port";
}

// Reports still queued for a listener that a restart has replaced must not
// overwrite what the current one said.
TEST_F(OSCServerTest, ReportsOfAReplacedListenerAreNotDelivered) {
    RawPeer holder("0.0.0.0");
    const std::uint16_t other = freePort();
    const Status refused{false, holder.port(), "Address already in use"};
    // Each step runs without the main loop in between, as the settings panel does.
    const std::tuple<const char*, std::function<void()>, std::vector<Status>> steps[] = {
        {"ready pending, then a refused port", [&] { server->start(port, true); server->start(holder.port(), true); },
         {refused}},
        {"stopped, then a refused port",
         [&] { listen(true); statuses.clear(); server->stop(); server->start(holder.port(), false); }, {refused}},
        {"ready pending, then another port", [&] { server->start(port, true); server->start(other, true); },
         {{true, other, std::nullopt}}},
    };
    for (const auto& [what, step, expected] : steps) {
        SCOPED_TRACE(what);
        server->stop();
        drainMainQueue();
        statuses.clear();
        step();
        drainMainQueue();
        EXPECT_EQ(statuses, expected);
        EXPECT_EQ(server->isListening(), (expected.front() == Status{true, other, std::nullopt}));
    }
}

// Without address reuse a second process (or server) cannot share the port and
// quietly take the desk's datagrams: it is refused, and the first keeps hearing.
TEST_F(OSCServerTest, ASecondServerOnTheSamePortIsRefused) {
    RawPeer desk;
    for (const auto& [firstLocal, secondLocal] :
         std::vector<std::pair<bool, bool>>{{true, true}, {false, false}, {true, false}, {false, true}}) {
        SCOPED_TRACE(std::string(firstLocal ? "loopback" : "all") + " then " + (secondLocal ? "loopback" : "all"));
        listen(firstLocal);
        std::vector<Status> intruderStatuses;
        std::vector<std::pair<OSCMessage, std::string>> intruderHeard;
        OSCServer intruder;  // last: goes first
        watch(intruder, intruderHeard, intruderStatuses);
        intruder.start(port, secondLocal);
        drainMainQueue();
        EXPECT_EQ(intruderStatuses, (std::vector<Status>{{false, port, "Address already in use"}}));
        EXPECT_FALSE(intruder.isListening());

        messages.clear();
        desk.sendTo("127.0.0.1", port, datagram("/go"));
        EXPECT_TRUE(heard("/go")) << "the first server lost the desk";
        EXPECT_TRUE(intruderHeard.empty());
        server->stop();
    }
}

TEST_F(OSCServerTest, BundlesArriveInOrderAndEmptyOrBrokenDatagramsAreSkipped) {
    listen(false);  // dual-stack: an IPv4 peer must still read as 127.0.0.1
    const Bytes pair = testing::bundle({datagram("/a"), datagram("/b", {42})});
    RawPeer peer;
    for (const Bytes& bytes : {Bytes{}, Bytes{'n', 'o', 'p', 'e'}, pair, datagram("/go")})
        peer.sendTo("127.0.0.1", port, bytes);
    ASSERT_TRUE(heard("/go"));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].first, (OSCMessage{"/a", {}}));
    EXPECT_EQ(messages[1].first, (OSCMessage{"/b", {std::int32_t{42}}}));
    for (const auto& [message, sender] : messages) EXPECT_EQ(sender, peer.name());
}

TEST_F(OSCServerTest, TracksAtMost64Peers) {
    listen(true);
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 65; ++i) {
        peers.push_back(std::make_unique<RawPeer>());
        peers.back()->sendTo("127.0.0.1", port, datagram("/go"));
    }
    ASSERT_TRUE(pumpMainUntil([&] { return messages.size() == 65; })) << "every peer is heard, tracked or not";
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
    ASSERT_TRUE(heard("/first"));
    EXPECT_EQ(server->trackedPeerCount(), 1u);
    ASSERT_TRUE(pumpMainUntil([&] { return server->trackedPeerCount() == 0; })) << "the silent peer is never swept";
    peer.sendTo("127.0.0.1", port, datagram("/again"));
    ASSERT_TRUE(heard("/again"));
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
        EXPECT_TRUE(heard("/marker"));
        if (messages.size() != 2) return false;
        EXPECT_EQ(messages[0].second, *lan + ":" + std::to_string(peer.port()));
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
    ASSERT_TRUE(pumpMainUntil([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages[0].second, linkLocal->substr(0, linkLocal->find('%')) + ":" + std::to_string(scoped.port()));
    EXPECT_EQ(messages[1].second, "::1:" + std::to_string(loopback.port()));
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

// Standard error in a file the test reads while the server thread writes to it:
// the server logs its drops from its own thread, whenever it gets there.
class StderrLog {
public:
    StderrLog() : file_(std::tmpfile()), saved_(dup(2)) { dup2(fileno(file_), 2); }
    StderrLog(const StderrLog&) = delete;
    ~StderrLog() {
        dup2(saved_, 2);
        close(saved_);
        std::fclose(file_);
    }
    std::string text() const {
        std::string out;
        char buffer[4096];
        ssize_t n = 0;
        for (off_t at = 0; (n = pread(fileno(file_), buffer, sizeof buffer, at)) > 0; at += n) out.append(buffer, n);
        return out;
    }
    // Repeats `step` until `line` is written; the limit only keeps a broken build from hanging.
    bool waitFor(const std::string& line, const std::function<void()>& step) const {
        for (int round = 0; round < 4000; ++round, step()) {
            if (text().find(line) != std::string::npos) return true;
        }
        return false;
    }

private:
    std::FILE* file_;
    int saved_;
};

// While the main loop is busy, a flood must not pile up tasks in front of a
// desk's GO: each peer gets its share per second on the server thread, and all
// peers together at most the in-flight cap; the server takes the next GO. The
// server reads at its own pace (far behind the senders on a loaded machine), so
// the bounds follow the time it really had and its lines are waited for.
TEST_F(OSCServerTest, FloodsOverAStalledMainLoopAreCappedPerPeerAndInAll) {
    listen(true);
    RawPeer peer, desk;
    const auto count = [&](const std::string& address) {
        return std::count_if(messages.begin(), messages.end(),
                             [&](const auto& m) { return m.first.address == address; });
    };
    std::optional<StderrLog> log(std::in_place);
    const gint64 start = g_get_monotonic_time();
    testing::flood(peer, port, 1.5);  // 15,000 datagrams over 1.5 s, nothing run on the main thread
    // Sent after the whole flood: once it is heard, every flood datagram the server read has been handed over.
    desk.sendTo("127.0.0.1", port, datagram("/marker"));
    ASSERT_TRUE(heard("/marker", 60000));
    const double seconds = double(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
    EXPECT_GT(count("/flood"), 0);
    EXPECT_LE(count("/flood"), long(OSCServer::maxPerPeerPerSecond * (1 + seconds)))
        << "a full share at first, then the peer's rate over the " << seconds << " s the server had";
    EXPECT_TRUE(log->waitFor("TALLOWMARK: OSC-lahettaja " + peer.name() + " yli " +
                                 std::to_string(OSCServer::maxPerPeerPerSecond) + " viestia/s - pudotettu: ",
                             [] { g_usleep(1000); }))
        << log->text();

    // A bundle spends the share message by message, not once per datagram.
    messages.clear();
    RawPeer bundler;
    bundler.sendTo("127.0.0.1", port, testing::bundle(std::vector<Bytes>(150, datagram("/b"))));
    pumpMainUntil([&] { return messages.size() >= std::size_t(OSCServer::maxPerPeerPerSecond); });
    drainMainQueue();
    EXPECT_EQ(messages.size(), std::size_t(OSCServer::maxPerPeerPerSecond));

    // Many peers, each within its share, still meet the cap of the queue: they
    // send until the server says so, however many of their datagrams the kernel
    // dropped while the server thread waited for a core.
    messages.clear();
    std::vector<std::unique_ptr<RawPeer>> crowd;
    for (int i = 0; i < 24; ++i) crowd.push_back(std::make_unique<RawPeer>());
    log.emplace();
    EXPECT_TRUE(log->waitFor("TALLOWMARK: OSC-jono taynna - viesteja pudotettu: ", [&] {
        for (const auto& p : crowd) {
            for (int i = 0; i < 3; ++i) p->sendTo("127.0.0.1", port, datagram("/crowd"));
        }
        g_usleep(5'000);
    })) << log->text();
    log.reset();
    drainMainQueue();
    EXPECT_GT(messages.size(), 0u);
    EXPECT_LT(messages.size(), 2048u) << "the in-flight cap, plus what the socket still held as the loop caught up";

    desk.sendTo("127.0.0.1", port, datagram("/go"));
    EXPECT_TRUE(heard("/go", 60000)) << "what waited was handed over and counted off";
}

TEST(OSCClient, ReachesAPeerThatWasAwayAtFirstAndReopensAfterCloseAll) {
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
    const OSCMessage back{"/back", {std::int32_t{7}, 2.5f, std::string("Act 1"), true}};
    client.send(back, "127.0.0.1", port);
    EXPECT_EQ(receiver.receive(5000), std::vector{back}) << "the refusal of /early cost the next datagram";

    client.closeAll();
    client.send({"/reopened", {}}, "127.0.0.1", port);
    EXPECT_EQ(receiver.receive(5000), (std::vector<OSCMessage>{{"/reopened", {}}}));
}

// liblo's oscdump, a peer nobody here wrote, must read what the client sends.
TEST(OSCClient, OscdumpPrintsWhatItIsSent) {
    const std::uint16_t port = freePort();
    const std::string command = "timeout 2 oscdump -L " + std::to_string(port);
    std::unique_ptr<FILE, int (*)(FILE*)> dump(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(dump);
    OSCClient client;
    // oscdump binds a moment after it starts; its first line is whatever arrived first.
    for (int i = 0; i < 20; ++i) {
        client.send({"/tallowmark/cue/12/go", {std::int32_t{7}, 2.5f, std::string("Act 1"), true}}, "127.0.0.1",
                    port);
        g_usleep(50'000);
    }
    char line[256] = {};
    ASSERT_TRUE(fgets(line, sizeof line, dump.get()));
    EXPECT_THAT(std::string(line), HasSubstr("/tallowmark/cue/12/go ifsT 7 2.500000 \"Act 1\" #T"));
}

}  // namespace
}  // namespace tallowmark
