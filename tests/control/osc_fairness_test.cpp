// Who is heard when OSC floods in, over the whole path: only the hub's
// addresses are taken off the wire, shares go by sending host, and a desk the
// operator names keeps a share nothing else can take. liblo's oscsend is the desk.

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

namespace tallowmark {
namespace {

using testing::EngineAccess;

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
