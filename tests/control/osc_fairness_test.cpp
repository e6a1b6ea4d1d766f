// Who is heard when OSC floods in: shares go by sending host, not by port, and
// the desks the operator names keep a share nothing else can take. First the
// hub's rules through a memory transport, then the whole path over loopback
// with liblo's oscsend as the desk.

#include <arpa/inet.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "../cues/cue_fixtures.hpp"
#include "control/control_hub.hpp"
#include "control/osc_addresses.hpp"
#include "memory_transport.hpp"

namespace tallowmark {
namespace {

using testing::EngineAccess;
using testing::MemoryTransport;

struct HubUnderTest {
    CueEngine engine;
    SettingsStore store{true};
    MemoryTransport* osc = nullptr;
    std::shared_ptr<ControlHub> hub;
    int pages = 0;
    std::vector<std::string> lines;

    explicit HubUnderTest(std::vector<std::string> desks = {}, std::string unknownNumber = "go") {
        EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(6));
        Settings s = store.settings();
        s.oscDeskHosts = std::move(desks);
        s.oscGoUnknownNumber = std::move(unknownNumber);
        store.setSettings(s);
        auto transport = std::make_unique<MemoryTransport>();
        osc = transport.get();
        hub = ControlHub::create(engine, store, {std::move(transport), nullptr});
        hub->onPageCommand = [this](std::int64_t, bool) { ++pages; };
        hub->onLog = [this](const LogEntry& entry) { lines.push_back(entry.text); };
        hub->start();
    }
    void send(const std::string& sender, const std::string& address, std::vector<OSCArgument> args = {}) {
        osc->deliver(OSCInput{OSCMessage{address, std::move(args)}, sender});
    }
};

TEST(OscFairness, SharesAreByHostAndDesksKeepTheirOwn) {
    // Four ports of one machine, then 256 more: one share of 50 among them all.
    HubUnderTest one;
    for (int round = 0; round < 30; ++round)
        for (int port = 0; port < 4; ++port) one.send("10.0.0.9:" + std::to_string(1000 + port), "/page/next");
    for (int port = 0; port < 256; ++port) one.send("10.0.0.9:" + std::to_string(20000 + port), "/page/next");
    EXPECT_EQ(one.pages, ControlHub::oscPerWindow);
    // Another host still has its own, and IPv6 hosts are told apart by address.
    one.send("10.0.0.7:5000", "/go");
    one.send("fe80::1:9000", "/page/next");
    one.send("fe80::2:9000", "/page/next");
    EXPECT_EQ(one.engine.fired().size(), 1u);
    EXPECT_EQ(one.pages, ControlHub::oscPerWindow + 2);

    // Five hosts fill the shared 200; a named desk is still heard, an unnamed one not.
    HubUnderTest named({"10.0.0.1"});
    for (int host = 2; host <= 6; ++host)
        for (int i = 0; i < 60; ++i) named.send("10.0.0." + std::to_string(host) + ":4000", "/page/next");
    EXPECT_EQ(named.pages, ControlHub::oscTotalPerWindow);
    for (int i = 0; i < 5; ++i) named.send("10.0.0.1:" + std::to_string(7000 + i), "/go");
    named.send("10.0.0.8:7000", "/go");
    EXPECT_EQ(named.engine.fired().size(), 5u);
    // The desk's own share is bounded like any host's.
    for (int i = 0; i < 60; ++i) named.send("10.0.0.1:7000", "/page/next");
    EXPECT_EQ(named.pages, ControlHub::oscTotalPerWindow + ControlHub::oscPerWindow - 5);
}

TEST(OscFairness, GoWithANumberNotInTheScriptFollowsTheSetting) {
    for (const char* setting : {"go", "ignore"}) {
        SCOPED_TRACE(setting);
        HubUnderTest h({}, setting);
        h.send("10.0.0.5:9000", "/go", {std::string("9")});
        h.send("10.0.0.5:9000", "/go", {std::int32_t{3}});
        const bool fires = std::string(setting) == "go";
        EXPECT_EQ(testing::runOf(h.engine), fires ? "c4 | c1 c3" : "c4 | c3");
        EXPECT_EQ(std::count(h.lines.begin(), h.lines.end(), "GO 9 ohitettu - numeroa ei ole kasikirjoituksessa"),
                  fires ? 0 : 1);
    }
}

// A fire by number from MSC inside the guard is a GO ignored, not a cue the
// script lacks.
TEST(OscFairness, AnMscGoInsideTheGuardIsNotCalledUnknown) {
    HubUnderTest h;
    h.engine.setGoGuard([] { return 300; });
    MemoryTransport* midi = nullptr;
    auto transport = std::make_unique<MemoryTransport>();
    midi = transport.get();
    auto hub = ControlHub::create(h.engine, h.store, {nullptr, std::move(transport)});
    hub->onLog = [&](const LogEntry& entry) { h.lines.push_back(entry.text); };
    hub->start();
    for (const char* cue : {"2", "3"}) midi->deliver(MSC::Message{1, 0x01, MSC::Command::go, cue, {}, {}});
    EXPECT_EQ(testing::runOf(h.engine), "c3 | c2");
    ASSERT_FALSE(h.lines.empty());
    EXPECT_TRUE(h.lines.back().starts_with("GO ohitettu - ")) << h.lines.back();
    for (const std::string& line : h.lines) EXPECT_EQ(line.find("ei ole merkittyna"), std::string::npos) << line;
}

TEST(OscFairness, OnlyTheHubsAddressesAreTakenOffTheWire) {
    for (const char* known : {"/go", "/GO", "/tallowmark/go", "/tallowmark", "/", "", "/page/12", "/page/-1", "//cue//5//go",
                              "/Page/Previous", "/dim", "/standby", "/cue"})
        EXPECT_TRUE(isControlAddress(known)) << known;
    for (const char* unknown : {"/eos/out/cue", "/page/x", "/cue/5", "/gone", "/tallowmarkgo/x", "/page/1/2"})
        EXPECT_FALSE(isControlAddress(unknown)) << unknown;
}

// --- the whole path ---

// One UDP socket per source port, bound to a loopback host of its own.
struct Flooder {
    std::vector<int> sockets;
    Flooder(const std::string& host, int ports) {
        for (int i = 0; i < ports; ++i) {
            const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            inet_pton(AF_INET, host.c_str(), &from.sin_addr);
            if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0) sockets.push_back(fd);
            else if (fd >= 0) close(fd);
        }
    }
    ~Flooder() {
        for (int fd : sockets) close(fd);
    }
};

std::uint16_t freeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(OscFairness, FiveDeskGosFireThroughAFloodOverLoopback) {
    if (!g_find_program_in_path("oscsend")) GTEST_SKIP() << "liblo's oscsend is not installed";
    struct Row {
        const char* what;
        std::vector<std::string> desks;
        std::vector<std::pair<std::string, int>> flood;  // host, source ports
    };
    const Row rows[] = {
        {"an unnamed desk, four sockets and a 256-port rotator on one other host", {},
         {{"127.0.0.2", 1}, {"127.0.0.2", 1}, {"127.0.0.2", 1}, {"127.0.0.2", 1}, {"127.0.0.2", 256}}},
        {"a named desk, four flooding hosts and a rotator on a fifth", {"127.0.0.1"},
         {{"127.0.0.2", 1}, {"127.0.0.3", 1}, {"127.0.0.4", 1}, {"127.0.0.5", 1}, {"127.0.0.6", 256}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CueEngine engine;
        EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(8));
        SettingsStore store(true);
        Settings s = store.settings();
        s.oscPort = freeUdpPort();
        s.oscDeskHosts = row.desks;
        store.setSettings(s);
        ControlTransports system = systemControlTransports();
        auto hub = ControlHub::create(engine, store, {std::move(system.osc), nullptr});
        bool listening = false;
        hub->onStatus = [&] { listening = hub->status()["oscListening"] == true; };
        hub->start();
        ASSERT_TRUE(testing::pumpMainUntil([&] { return listening; }));

        std::vector<std::unique_ptr<Flooder>> flooders;
        for (const auto& [host, ports] : row.flood) flooders.push_back(std::make_unique<Flooder>(host, ports));
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        const std::vector<std::uint8_t> noise = OSCCodec::encode(OSCMessage{"/page/next", {}});
        for (auto& flooder : flooders) {
            ASSERT_FALSE(flooder->sockets.empty());
            // 2,000 a second each: far over any share, and little enough that
            // the kernel keeps up on a busy two-core machine.
            threads.emplace_back([&, f = flooder.get()] {
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = htons(std::uint16_t(s.oscPort));
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                for (std::size_t n = 0; !stop.load(); ++n) {
                    sendto(f->sockets[n % f->sockets.size()], noise.data(), noise.size(), 0,
                           reinterpret_cast<sockaddr*>(&to), sizeof to);
                    if (n % 20 == 19) g_usleep(10000);
                }
            });
        }
        g_usleep(300000);  // the flood is under way before the desk speaks
        for (int i = 0; i < 5; ++i) {
            const std::string port = std::to_string(s.oscPort);
            gchar* argv[] = {const_cast<gchar*>("oscsend"), const_cast<gchar*>("127.0.0.1"),
                             const_cast<gchar*>(port.c_str()), const_cast<gchar*>("/go"), nullptr};
            gint status = -1;
            ASSERT_TRUE(g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
                                     &status, nullptr));
            testing::pumpMainUntil([&] { return engine.fired().size() == std::size_t(i + 1); }, 1000);
        }
        testing::pumpMainUntil([&] { return engine.fired().size() >= 5; }, 3000);
        stop.store(true);
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(engine.fired().size(), 5u);
    }
}

}  // namespace
}  // namespace tallowmark
