#include "control/osc_server.hpp"

#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "core/main_queue.hpp"
#include "udp_peer.hpp"

namespace tallowmark {
namespace {

using testing::Bytes;
using testing::datagram;
using testing::freePort;
using testing::pumpMainUntil;
using testing::RawPeer;

using Status = std::tuple<bool, std::uint16_t, std::optional<std::string>>;  // listening, port, error
using Heard = std::vector<std::pair<OSCMessage, std::string>>;              // message, sender

void watch(OSCServer& s, Heard& heard, std::vector<Status>& said) {
    s.onMessage = [&heard](const OSCMessage& m, const std::string& sender) { heard.push_back({m, sender}); };
    s.onStatusChange = [&said](bool listening, std::uint16_t p, const std::optional<std::string>& error) {
        said.push_back({listening, p, error});
    };
}

class OSCServerTest : public ::testing::Test {
protected:
    void SetUp() override { watch(*server, messages, statuses); }
    // Starts the server on this test's port and waits for its ready report.
    void listen(bool localOnly) {
        server->start(port, localOnly);
        ASSERT_TRUE(pumpMainUntil([&] { return !statuses.empty() && statuses.back() == Status{true, port, {}}; }));
    }
    bool heard(const std::string& address, int timeoutMs = 5000) {
        return pumpMainUntil([&] { return !messages.empty() && messages.back().first.address == address; }, timeoutMs);
    }
    void send(const RawPeer& from, const std::string& address) { from.sendTo("127.0.0.1", port, datagram(address)); }

    const std::uint16_t port = freePort();
    Heard messages;
    std::vector<Status> statuses;
    std::unique_ptr<OSCServer> server = std::make_unique<OSCServer>();  // last: goes first
};

// An IPv4 address of this machine other than loopback, when it has one.
std::optional<std::string> lanAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::string> found;
    for (const ifaddrs* i = list; i && !found; i = i->ifa_next) {
        char host[INET_ADDRSTRLEN];
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & (IFF_LOOPBACK | IFF_UP)) == IFF_UP)
            found = inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, host, sizeof host);
    }
    freeifaddrs(list);
    return found;
}

// Refusals are said at once on the caller's thread; the rest comes through the main loop, and only from the current
// listener: what a replaced one had queued never overwrites what came after it.
TEST_F(OSCServerTest, OnlyTheCurrentListenerReportsAndRefusalsAreSaidAtOnce) {
    RawPeer holder("0.0.0.0");  // without address reuse, so the server cannot share the port
    const std::uint16_t held = holder.port(), other = freePort();
    const Status refused{false, held, "Address already in use"}, bad{false, 0, "virheellinen portti"};
    const Status ready{true, port, {}}, readyOther{true, other, {}};
    // What, the calls (without the main loop in between, as the settings panel makes them), the reports, and a port
    // that must be free again afterwards.
    const std::tuple<const char*, std::function<void()>, std::vector<Status>, std::uint16_t> steps[] = {
        {"ports outside 1..65535", [&] { server->start(0, false), server->start(70000, true); }, {bad, bad}, 0},
        {"ready pending, then held", [&] { server->start(port, true), server->start(held, true); }, {refused}, 0},
        {"ready pending, then another port", [&] { server->start(port, true), server->start(other, false); },
         {readyOther}, port},
        {"stopped, then a held port", [&] { server->stop(), server->start(held, false); }, {refused}, 0},
        {"listening", [&] { server->start(port, true); }, {ready}, 0},
        {"restarted on another port", [&] { server->start(other, true); }, {readyOther}, port},
        {"stopped twice", [&] { server->stop(), server->stop(); }, {{false, other, {}}}, other},
    };
    for (const auto& [what, act, said, freed] : steps) {
        SCOPED_TRACE(what);
        statuses.clear();
        act();
        std::vector<Status> atOnce;
        std::ranges::copy_if(said, std::back_inserter(atOnce), [](const Status& s) { return bool(std::get<2>(s)); });
        EXPECT_EQ(statuses, atOnce);
        drainMainQueue();
        EXPECT_EQ(statuses, said);
        EXPECT_EQ(server->isListening(), std::get<0>(said.back()));
        EXPECT_EQ(server->port(), std::get<1>(said.back()));
        EXPECT_TRUE(!freed || RawPeer("0.0.0.0", freed).valid()) << freed;
    }
}

// Without address reuse a second server (or process) cannot share the port and quietly take the desk's datagrams: it
// is refused, and the first keeps hearing.
TEST_F(OSCServerTest, ASecondServerOnTheSamePortIsRefused) {
    RawPeer desk;
    const std::pair<bool, bool> orders[] = {{true, true}, {false, false}, {true, false}, {false, true}};
    for (const auto& [firstLocal, secondLocal] : orders) {
        SCOPED_TRACE(::testing::Message() << "local only: " << firstLocal << " then " << secondLocal);
        listen(firstLocal);
        Heard intruderHeard;
        std::vector<Status> intruderSaid;
        OSCServer intruder;  // last: goes first
        watch(intruder, intruderHeard, intruderSaid);
        intruder.start(port, secondLocal);
        EXPECT_EQ(intruderSaid, (std::vector<Status>{{false, port, "Address already in use"}}));
        messages.clear();
        send(desk, "/go");
        EXPECT_TRUE(heard("/go")) << "the first server lost the desk";
        EXPECT_TRUE(intruderHeard.empty());
        server->stop();
    }
}

TEST_F(OSCServerTest, HearsBundlesInOrderTracksAtMost64PeersAndSweepsSilentOnes) {
    const std::shared_ptr<void> restore(nullptr, [](void*) { OSCServer::setIdleTimeout(30); });
    OSCServer::setIdleTimeout(2);  // long enough that a burst of new peers is not swept while it comes in
    OSCServer::setIdleTimeout(std::nan(""));
    OSCServer::setIdleTimeout(-1);
    EXPECT_EQ(OSCServer::idleTimeout(), 2) << "meaningless timeouts are ignored";

    listen(false);  // dual-stack: an IPv4 peer must still read as 127.0.0.1
    RawPeer peer;
    const Bytes pair = testing::bundle({datagram("/a"), datagram("/b", {42})});
    for (const Bytes& bytes : {Bytes{}, Bytes{'n', 'o', 'p', 'e'}, pair, datagram("/first")})
        peer.sendTo("127.0.0.1", port, bytes);
    ASSERT_TRUE(heard("/first"));
    EXPECT_EQ(messages, (Heard{{{"/a", {}}, peer.name()}, {{"/b", {std::int32_t{42}}}, peer.name()},
                               {{"/first", {}}, peer.name()}}));
    // A peer is a host: 64 more loopback hosts push the first out of the table.
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 64; ++i) send(*peers.emplace_back(std::make_unique<RawPeer>("127.0.0." + std::to_string(2 + i))), "/go");
    ASSERT_TRUE(pumpMainUntil([&] { return messages.size() == 67; })) << "every peer is heard, tracked or not";
    EXPECT_EQ(server->trackedPeerCount(), OSCServer::maxPeers);
    ASSERT_TRUE(pumpMainUntil([&] { return server->trackedPeerCount() == 0; }, 20000)) << "silent peers stay";
    send(peer, "/again");
    ASSERT_TRUE(heard("/again"));
    EXPECT_EQ(server->trackedPeerCount(), 1u);
    server->stop();
    EXPECT_EQ(server->trackedPeerCount(), 0u);
}

TEST_F(OSCServerTest, LocalOnlyIgnoresTheLanAddress) {
    const auto lan = lanAddress();
    if (!lan) GTEST_SKIP() << "no non-loopback IPv4 address on this machine to send to";
    RawPeer peer("0.0.0.0");  // the source address follows the destination
    // The LAN datagram goes first; once the loopback marker is in, a heard LAN one is in too.
    const auto lanHeard = [&](bool localOnly) {
        listen(localOnly);
        messages.clear();
        peer.sendTo(*lan, port, datagram("/lan"));
        send(peer, "/marker");
        EXPECT_TRUE(heard("/marker"));
        if (messages.size() != 2) return false;
        EXPECT_EQ(messages[0].second, *lan + ":" + std::to_string(peer.port()));
        return true;
    };
    EXPECT_FALSE(lanHeard(true));
    EXPECT_TRUE(lanHeard(false));
    EXPECT_FALSE(lanHeard(true)) << "local-only switched back on";
}

TEST_F(OSCServerTest, NothingIsDeliveredAfterStopOrDestruction) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "stopped");
        listen(true);
        send(RawPeer(), "/late");
        // Tracked means read: the message is posted (or about to be), and the main loop has not run since.
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

// Standard error in a file the test reads while the server thread writes to it: the server logs its drops from its
// own thread, whenever it gets there.
class StderrLog {
public:
    StderrLog() { dup2(fileno(file_), 2); }
    StderrLog(const StderrLog&) = delete;
    ~StderrLog() { dup2(saved_, 2), close(saved_), std::fclose(file_); }
    std::string text() const { return testing::readText("/proc/self/fd/" + std::to_string(fileno(file_))); }
    // Repeats `step` until `line` is written; the limit only keeps a broken build from hanging.
    bool waitFor(const std::string& line, const std::function<void()>& step) const {
        for (int round = 0; round < 4000; ++round, step())
            if (text().find(line) != std::string::npos) return true;
        return false;
    }

private:
    std::FILE* file_ = std::tmpfile();
    int saved_ = dup(2);
};

// While the main loop is busy, a flood must not pile up tasks in front of a desk's GO: each peer gets its share per
// second on the server thread, all peers together at most the in-flight cap. The server reads at its own pace, so the
// bounds follow the time it really had and its lines are waited for.
TEST_F(OSCServerTest, FloodsOverAStalledMainLoopAreCappedPerPeerAndInAll) {
    // What does not answer to its address is dropped before it costs the share.
    server->acceptsAddress = [](std::string_view address) { return address != "/noise"; };
    listen(true);
    RawPeer peer, desk("127.0.0.2");
    std::optional<StderrLog> log(std::in_place);
    for (int i = 0; i < 300; ++i) send(peer, "/noise");
    send(peer, "/first");
    ASSERT_TRUE(heard("/first"));
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(log->waitFor("TALLOWMARK: OSC-lahettaja 127.0.0.1 - tuntemattomia osoitteita pudotettu: ",
                             [] { g_usleep(1000); }))
        << log->text();
    messages.clear();
    const gint64 start = g_get_monotonic_time();
    // About 10,000 datagrams a second for 1.5 s, in bursts of 100 every 10 ms, nothing run on the main thread.
    for (int burst = 0; burst < 150; ++burst) {
        for (int i = 0; i < 100; ++i) send(peer, "/flood");
        const gint64 next = start + (burst + 1) * 10000;
        if (next > g_get_monotonic_time()) g_usleep(gulong(next - g_get_monotonic_time()));
    }
    // Sent after the whole flood: once it is heard, every flood datagram the server read has been handed over.
    send(desk, "/marker");
    ASSERT_TRUE(heard("/marker", 60000));
    const double seconds = double(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
    const long flood = std::ranges::count_if(messages, [](const auto& m) { return m.first.address == "/flood"; });
    EXPECT_GT(flood, 0);
    EXPECT_LE(flood, long(OSCServer::maxPerPeerPerSecond * (1 + seconds)))
        << "a full share at first, then the peer's rate over the " << seconds << " s the server had";
    EXPECT_TRUE(log->waitFor("TALLOWMARK: OSC-lahettaja 127.0.0.1 yli " +
                                 std::to_string(OSCServer::maxPerPeerPerSecond) + " viestia/s - pudotettu: ",
                             [] { g_usleep(1000); }))
        << log->text();

    // A bundle spends the share message by message, not once per datagram.
    messages.clear();
    RawPeer bundler("127.0.0.3");
    bundler.sendTo("127.0.0.1", port, testing::bundle(std::vector<Bytes>(150, datagram("/b"))));
    pumpMainUntil([&] { return messages.size() >= std::size_t(OSCServer::maxPerPeerPerSecond); });
    drainMainQueue();
    EXPECT_EQ(messages.size(), std::size_t(OSCServer::maxPerPeerPerSecond));

    // Many peers, each within its share, still meet the cap of the queue: they send until the server says so, however
    // many of their datagrams the kernel dropped while the server waited for a core.
    messages.clear();
    std::vector<std::unique_ptr<RawPeer>> crowd;
    for (int i = 0; i < 24; ++i) crowd.push_back(std::make_unique<RawPeer>("127.0.0." + std::to_string(10 + i)));
    log.emplace();
    EXPECT_TRUE(log->waitFor("TALLOWMARK: OSC-jono taynna - viesteja pudotettu: ", [&] {
        for (int i = 0; i < 72; ++i) send(*crowd[i % 24], "/crowd");
        g_usleep(5'000);
    })) << log->text();
    log.reset();
    drainMainQueue();
    EXPECT_GT(messages.size(), 0u);
    EXPECT_LT(messages.size(), 2048u) << "the in-flight cap, plus what the socket still held as the loop caught up";
    send(desk, "/go");
    EXPECT_TRUE(heard("/go", 60000)) << "what waited was handed over and counted off";
}

}  // namespace
}  // namespace tallowmark
