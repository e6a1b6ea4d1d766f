// The follower server under a show's load, in one process over loopback: 32
// screens that read, one that never does, and GO five times a second. Prints
// whether every screen ended on the final run, how long a run took from
// setRun to a screen (p50, p95), the memory before and after, and whether the
// screen that never reads was cut off.
//
//   bench_follower_load [--seconds N]     (default 60)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "follow/follow_server.hpp"
#include "follow/follow_client.hpp"

using namespace tallowmark;
using testing::pumpMainUntil;

namespace {

long rssKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "kaytto: bench_follower_load [--seconds N]\n");
            return 2;
        }
    }

    testing::TempDir dir;
    testing::writeText(dir / "index_inlined.html", "<!doctype html><title>follower</title>");
    const int port = testing::freeTcpPort();
    FollowServer server;
    gint64 slowClosedAt = 0;
    server.onLog = [&](const std::string& line) {
        std::printf("  loki: %s\n", line.c_str());
        if (line.find("liian hidas") != std::string::npos) slowClosedAt = g_get_monotonic_time();
    };
    FollowServer::Options options;
    options.port = port;
    options.token = FollowServer::newToken();
    options.pageFile = dir / "index_inlined.html";
    options.localOnly = true;
    options.socketsPerWindow = 100;
    const std::string path = "/f/" + options.token + "/ws";
    if (!server.start(options).listening) {
        std::fprintf(stderr, "ei kuuntele: %s\n", server.status().error.c_str());
        return 1;
    }

    // A script of a real size: 300 cues over 120 pages.
    Json cues = Json::array();
    for (int i = 0; i < 300; ++i)
        cues.push_back(Json{{"id", "cue-" + std::to_string(i)}, {"number", std::to_string(i + 1)},
                            {"label", "LX " + std::to_string(i + 1)}, {"kind", "lights"}, {"page", i * 120 / 300},
                            {"x", 0.1}, {"y", 0.5}, {"w", 0.3}, {"h", 0.02}});
    server.setScript(Json{{"title", "Load"}, {"pageCount", 120}, {"aspects", Json::array({1.414})}}, cues);

    testing::FollowClient client(port);
    std::vector<std::unique_ptr<testing::ScreenClient>> screens;
    for (int i = 0; i < FollowServer::maxScreens - 1; ++i) screens.push_back(client.startScreen(path));
    pumpMainUntil([&] { return std::all_of(screens.begin(), screens.end(), [](auto& s) { return s->finished; }); },
                  30000);
    const long open = std::count_if(screens.begin(), screens.end(), [](auto& s) { return s->open(); });
    testing::NonReader stuck(port, path);
    const gint64 stuckAt = g_get_monotonic_time();
    pumpMainUntil([&] { return server.status().screens == FollowServer::maxScreens; }, 10000);
    std::printf("ruudut: %ld lukevaa + 1 lukematon, palvelin laskee %d\n", open, server.status().screens);
    const long rssBefore = rssKilobytes();

    // GO five times a second.
    std::map<int, gint64> sentAt;
    int fired = 0;
    const gint64 end = g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC;
    while (g_get_monotonic_time() < end) {
        ++fired;
        sentAt[fired] = g_get_monotonic_time();
        server.setRun(Json{{"standby", "cue-" + std::to_string(fired % 300)}, {"next", nullptr},
                           {"lastFired", "cue-" + std::to_string((fired + 299) % 300)}, {"firedCount", fired},
                           {"total", 300}});
        pumpMainUntil([] { return false; }, 200);
    }
    pumpMainUntil([&] {
        return std::all_of(screens.begin(), screens.end(), [&](auto& s) {
            return !s->open() || (!s->of("run").empty() && s->of("run").back()["firedCount"] == fired);
        });
    }, 5000);
    const long rssAfter = rssKilobytes();

    std::vector<double> latencies;
    bool allFinal = true;
    for (const auto& s : screens) {
        if (!s->open()) allFinal = false;
        int last = -1;
        for (std::size_t i = 0; i < s->received.size(); ++i) {
            const Json& j = s->received[i];
            if (!j.is_object() || j.value("type", "") != "run") continue;
            const int count = j.value("firedCount", 0);
            if (const auto at = sentAt.find(count); at != sentAt.end() && count != last)
                latencies.push_back(double(s->receivedAt[i] - at->second) / 1000.0);
            last = count;
        }
        if (last != fired) allFinal = false;
    }

    std::printf("kesto: %d s, GO-painalluksia: %d\n", seconds, fired);
    std::printf("kaikki lukevat ruudut saivat viimeisen tilan: %s\n", allFinal ? "kylla" : "ei");
    std::printf("GO -> ruutu: p50 %.2f ms, p95 %.2f ms (%zu vastaanottoa)\n", percentile(latencies, 0.5),
                percentile(latencies, 0.95), latencies.size());
    std::printf("muisti (RSS): ennen %ld kB, jalkeen %ld kB\n", rssBefore, rssAfter);
    if (slowClosedAt)
        std::printf("lukematon ruutu suljettu: kylla, %.1f s yhdistamisen jalkeen\n",
                    double(slowClosedAt - stuckAt) / G_USEC_PER_SEC);
    else
        std::printf("lukematon ruutu suljettu: ei\n");
    std::printf("ruutuja lopussa: %d\n", server.status().screens);
    return allFinal && slowClosedAt ? 0 : 1;
}
