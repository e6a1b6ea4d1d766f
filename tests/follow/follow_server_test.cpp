#include "follow/follow_server.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "follow_client.hpp"

namespace tallowmark {
namespace {

using testing::FollowClient;
using testing::freeTcpPort;
using testing::pumpMainUntil;

const std::string pageText = "<!doctype html><title>follower</title><p>the page</p>";

class FollowServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::writeText(dir / "index_inlined.html", pageText);
        server.onStatus = [this](const FollowServer::Status& s) { statuses.push_back(s); };
        server.onLog = [this](const std::string& line) { logs.push_back(line); };
    }
    FollowServer::Options options() {
        FollowServer::Options o;
        o.port = port;
        o.token = token;
        o.pageFile = dir / "index_inlined.html";
        o.localOnly = true;
        // Drawn at once for an even page, a moment later for an odd one; none past page 9.
        o.images = [this](int index, int width, auto done) {
            asked.push_back({index, width});
            std::shared_ptr<const EncodedImage> image;
            if (index <= 9) image = std::make_shared<EncodedImage>(EncodedImage{{'P', 'N', 'G', std::uint8_t(index)}, "image/png"});
            if (index % 2 == 0) return done(image);
            g_timeout_add_once(20, [](gpointer data) {
                auto* call = static_cast<std::pair<decltype(done), decltype(image)>*>(data);
                call->first(call->second);
                delete call;
            }, new std::pair(done, image));
        };
        return o;
    }
    void start(FollowServer::Options o) { ASSERT_TRUE(server.start(std::move(o)).listening) << server.status().error; }
    bool screensAre(int n) {
        return pumpMainUntil([&] { return server.status().screens == n && !statuses.empty() && statuses.back().screens == n; });
    }

    testing::TempDir dir;
    const int port = freeTcpPort();
    const std::string token = FollowServer::newToken();
    const std::string base = "/f/" + token;
    std::vector<FollowServer::Status> statuses;
    std::vector<std::string> logs;
    std::vector<std::pair<int, int>> asked;
    FollowServer server;
    FollowClient client{port};
};

TEST_F(FollowServerTest, AnswersEachPathAndNothingElse) {
    start(options());
    const struct {
        std::string path;
        const char* method;
        guint status;
        std::string body;  // empty: not compared
    } cases[] = {
        {base + "/", "GET", 200, pageText},
        {base + "/?x=1", "GET", 200, pageText},
        {"/f/" + FollowServer::newToken() + "/", "GET", 403, "Forbidden"},
        {"/f/" + token.substr(0, 31) + "/", "GET", 403, "Forbidden"},
        {"/f/", "GET", 403, "Forbidden"},
        {"/f", "GET", 403, "Forbidden"},
        {"/f/" + FollowServer::newToken() + "/page/0/640", "GET", 403, "Forbidden"},
        {"/", "GET", 404, ""},
        {"/index_inlined.html", "GET", 404, ""},
        {base + "/index_inlined.html", "GET", 404, ""},
        {base + "/%2e%2e/%2e%2e/etc/passwd", "GET", 404, ""},
        {base + "/", "POST", 405, ""},
        {base + "/", "PUT", 405, ""},
        {base + "/" + std::string(600, 'a'), "GET", 414, ""},
        {base + "/page/0/640", "GET", 200, std::string("PNG\0", 4)},
        {base + "/page/3/64", "GET", 200, "PNG\x03"},
        {base + "/page/12/640", "GET", 404, ""},
        {base + "/page/13/640", "GET", 404, ""},
        {base + "/page/1/63", "GET", 400, ""},
        {base + "/page/1/4097", "GET", 400, ""},
        {base + "/page/100000/640", "GET", 400, ""},
        {base + "/page/x1/640", "GET", 400, ""},
        {base + "/page/1/640/", "GET", 400, ""},
        {base + "/page/-1/640", "GET", 400, ""},
    };
    for (const auto& c : cases) {
        const auto reply = client.request(c.path, c.method);
        EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path;
        if (!c.body.empty()) {
            EXPECT_EQ(reply.body, c.body) << c.path;
        }
        EXPECT_EQ(reply.cacheControl, "no-store") << c.path;
    }
    // The provider was asked for the good image paths only, with their numbers.
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{0, 640}, {3, 64}, {12, 640}, {13, 640}}));

    const auto page = client.request(base + "/");
    EXPECT_EQ(page.contentType.rfind("text/html", 0), 0u) << page.contentType;
    const auto image = client.request(base + "/page/3/64");
    EXPECT_EQ(image.contentType, "image/png");
    const auto redirect = client.request(base);
    EXPECT_EQ(redirect.status, 302u);
    EXPECT_TRUE(redirect.location.ends_with(":" + std::to_string(port) + base + "/")) << redirect.location;
}

TEST_F(FollowServerTest, RequestsOverTheHostsBudgetGet429) {
    auto o = options();
    o.requestsPerWindow = 4;
    o.socketsPerWindow = 2;
    start(std::move(o));
    std::vector<guint> got;
    for (int i = 0; i < 6; ++i) got.push_back(client.request(i % 2 ? base + "/" : "/nowhere").status);
    EXPECT_EQ(got, (std::vector<guint>{404, 200, 404, 200, 429, 429}));
    // Screens have their own budget.
    auto a = client.screen(base + "/ws"), b = client.screen(base + "/ws"), c = client.screen(base + "/ws");
    EXPECT_TRUE(a->open());
    EXPECT_TRUE(b->open());
    EXPECT_FALSE(c->connection);
    EXPECT_EQ(c->refusedStatus, 429u);
}

TEST_F(FollowServerTest, AScreenGetsTheScriptAndTheNewestRunCoalesced) {
    start(options());
    server.setScript(Json{{"title", "Hamlet"}, {"pageCount", 3}}, Json::array({Json{{"id", "c1"}, {"number", "1"}}}));
    auto screen = client.screen(base + "/ws");
    ASSERT_TRUE(screen->open());
    ASSERT_TRUE(pumpMainUntil([&] { return screen->received.size() >= 2; }));
    EXPECT_EQ(screen->received[0]["type"], "script");
    EXPECT_EQ(screen->received[0]["document"]["title"], "Hamlet");
    EXPECT_EQ(screen->received[0]["cues"][0]["id"], "c1");
    EXPECT_EQ(screen->received[1]["type"], "run");
    EXPECT_EQ(screen->received[1]["firedCount"], 0);
    ASSERT_TRUE(screensAre(1));

    for (int fired = 1; fired <= 3; ++fired) server.setRun(Json{{"standby", "c1"}, {"firedCount", fired}, {"total", 1}});
    ASSERT_TRUE(pumpMainUntil([&] { return screen->of("run").back()["firedCount"] == 3; }));
    g_usleep(200000);  // time for any push that would still come
    pumpMainUntil([] { return false; }, 200);
    const auto runs = screen->of("run");
    EXPECT_LT(runs.size() - 1, 3u) << "three quick changes must not make three pushes";
    EXPECT_EQ(runs.back()["firedCount"], 3);
    EXPECT_EQ(runs.back()["standby"], "c1");

    // A later change of the script reaches the screen whole.
    server.setScript(Json{{"title", "Lear"}}, Json::array());
    ASSERT_TRUE(pumpMainUntil([&] { return screen->of("script").size() == 2; }));
    EXPECT_EQ(screen->of("script").back()["document"]["title"], "Lear");
}

TEST_F(FollowServerTest, APingIsAnsweredAndOtherMessagesAreIgnoredAndLoggedOnce) {
    start(options());
    auto screen = client.screen(base + "/ws");
    ASSERT_TRUE(screen->open());
    ASSERT_TRUE(pumpMainUntil([&] { return screen->received.size() >= 2; }));
    for (const char* text : {R"({"type":"go"})", "not json", R"({"type":"hello"})"}) screen->send(text);
    soup_websocket_connection_send_binary(screen->connection, "\x01\x02", 2);
    screen->send(R"({"type":"ping"})");
    ASSERT_TRUE(pumpMainUntil([&] { return !screen->of("pong").empty(); }));
    EXPECT_EQ(screen->received.size(), 3u);  // script, run, pong: nothing answered the rest
    EXPECT_EQ(logs, std::vector<std::string>{"seuraaja 127.0.0.1: tuntematon viesti ohitettu"});
    EXPECT_TRUE(screen->open());

    // Over 4 kB in one message: libsoup closes the screen.
    screen->send(R"({"type":"ping","pad":")" + std::string(5000, 'x') + R"("})");
    ASSERT_TRUE(pumpMainUntil([&] { return screen->closed; }));
    EXPECT_TRUE(screensAre(0));
}

TEST_F(FollowServerTest, TheScreenOverTheLimitGetsAPageThatSaysWhy) {
    auto o = options();
    o.socketsPerWindow = 100;
    start(std::move(o));
    std::vector<std::unique_ptr<testing::ScreenClient>> screens;
    for (int i = 0; i < FollowServer::maxScreens; ++i) screens.push_back(client.startScreen(base + "/ws"));
    ASSERT_TRUE(pumpMainUntil([&] { return std::all_of(screens.begin(), screens.end(), [](auto& s) { return s->finished; }); }));
    ASSERT_TRUE(std::all_of(screens.begin(), screens.end(), [](auto& s) { return s->open(); }));
    ASSERT_TRUE(screensAre(FollowServer::maxScreens));

    auto extra = client.screen(base + "/ws");
    EXPECT_FALSE(extra->connection);
    EXPECT_EQ(extra->refusedStatus, 503u);
    const auto page = client.request(base + "/ws");  // the same refusal, as a browser would show it
    EXPECT_EQ(page.status, 503u);
    EXPECT_NE(page.body.find("Too many screens are following this show (32). Close one and try again."),
              std::string::npos);

    screens.pop_back();  // one closes: its seat is free again
    ASSERT_TRUE(screensAre(FollowServer::maxScreens - 1));
    EXPECT_TRUE(client.screen(base + "/ws")->open());
}

TEST_F(FollowServerTest, AScreenThatDoesNotReadIsCutOff) {
    start(options());
    testing::NonReader stuck(port, base + "/ws");
    ASSERT_TRUE(stuck.connected());
    ASSERT_TRUE(screensAre(1));
    // A script of over a megabyte cannot fit in its small window.
    Json cues = Json::array();
    for (int i = 0; i < 12000; ++i) cues.push_back(Json{{"id", "cue-" + std::to_string(i)}, {"label", std::string(80, 'x')}});
    server.setScript(Json{{"title", "long"}}, cues);
    ASSERT_TRUE(screensAre(0));
    EXPECT_EQ(logs, std::vector<std::string>{"seuraaja 127.0.0.1: liian hidas, yhteys suljettu"});

    // A screen that reads is not touched by the same script.
    auto reader = client.screen(base + "/ws");
    ASSERT_TRUE(reader->open()) << reader->refusedStatus;
    ASSERT_TRUE(pumpMainUntil([&] { return reader->received.size() >= 2; }));
    pumpMainUntil([] { return false; }, 1500);  // past a check of the watch
    EXPECT_TRUE(reader->open());
    EXPECT_EQ(server.status().screens, 1);
}

TEST_F(FollowServerTest, StartReportsWhyItIsNotListening) {
    testing::PortHolder holder(port);
    ASSERT_TRUE(holder.held());
    const struct {
        const char* what;
        std::function<void(FollowServer::Options&)> change;
        std::string error;
    } cases[] = {
        {"a taken port", [](auto&) {}, "portti " + std::to_string(port) + " on varattu"},
        {"port 0", [](auto& o) { o.port = 0; }, "virheellinen portti"},
        {"a short token", [](auto& o) { o.token = "abc"; }, "virheellinen tunniste"},
        {"an upper-case token", [&](auto& o) { o.token = std::string(32, 'A'); }, "virheellinen tunniste"},
        {"no page", [&](auto& o) { o.pageFile = dir / "missing.html"; }, "sivua ei voi lukea: " + (dir / "missing.html").string()},
    };
    for (const auto& c : cases) {
        auto o = options();
        c.change(o);
        const auto status = server.start(o);
        EXPECT_FALSE(status.listening) << c.what;
        EXPECT_EQ(status.error, c.error) << c.what;
        EXPECT_EQ(statuses.back().error, c.error) << c.what;
    }
}

TEST_F(FollowServerTest, StartingAgainRestartsAndStopEndsScreens) {
    start(options());
    auto screen = client.screen(base + "/ws");
    ASSERT_TRUE(screensAre(1));
    testing::writeText(dir / "index_inlined.html", "second page");
    start(options());  // the page is read again; the old screens are gone
    EXPECT_EQ(server.status().screens, 0);
    ASSERT_TRUE(pumpMainUntil([&] { return screen->closed; }));
    EXPECT_EQ(client.request(base + "/").body, "second page");
    server.stop();
    EXPECT_FALSE(server.status().listening);
    EXPECT_FALSE(statuses.back().listening);
    EXPECT_EQ(client.request(base + "/").status, 0u);
}

}  // namespace
}  // namespace tallowmark
