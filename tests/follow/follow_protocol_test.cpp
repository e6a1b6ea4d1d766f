#include "follow/follow_protocol.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "follow/follow_server.hpp"

namespace tallowmark::follow {
namespace {

const std::string token = "0123456789abcdef0123456789abcdef";

TEST(FollowRoute, PathsLeadWhereTheyShould) {
    using Kind = Route::Kind;
    const std::string f = "/f/" + token;
    const struct {
        std::string path;
        Kind kind;
        int index = 0, width = 0;
    } cases[] = {
        {f + "/", Kind::page},
        {f + "/ws", Kind::socket},
        {f, Kind::redirect},
        {f + "/page/0/64", Kind::image, 0, 64},
        {f + "/page/99999/4096", Kind::image, 99999, 4096},
        {f + "/page/007/0640", Kind::image, 7, 640},  // leading zeros are still decimal digits
        {f + "/page/1/63", Kind::badRequest},
        {f + "/page/1/4097", Kind::badRequest},
        {f + "/page/100000/640", Kind::badRequest},
        {f + "/page/-1/640", Kind::badRequest},
        {f + "/page/+1/640", Kind::badRequest},
        {f + "/page/1/640/", Kind::badRequest},
        {f + "/page/1/ 640", Kind::badRequest},
        {f + "/page/1", Kind::badRequest},
        {f + "/page//640", Kind::badRequest},
        {f + "/page/99999999999999999999/640", Kind::badRequest},  // no overflow into range
        {f + "/ws/", Kind::notFound},
        {f + "/index.html", Kind::notFound},
        {f + "//", Kind::notFound},
        {"/f/" + token.substr(1) + "0/", Kind::forbidden},  // same length, last digit wrong
        {"/f/" + token + "0/", Kind::forbidden},            // longer
        {"/f/" + token.substr(0, 31) + "/", Kind::forbidden},
        {"/f//", Kind::forbidden},
        {"/f/", Kind::forbidden},
        {"/f", Kind::forbidden},
        {"/f/" + token.substr(0, 16) + "/" + token.substr(16) + "/", Kind::forbidden},
        {"/fx/" + token + "/", Kind::notFound},
        {"/", Kind::notFound},
        {"", Kind::notFound},
        {"/../etc/passwd", Kind::notFound},
        {f + "/" + std::string(600, 'a'), Kind::tooLong},
    };
    for (const auto& c : cases) {
        const Route route = routeFollowPath(c.path, token);
        EXPECT_EQ(route.kind, c.kind) << c.path;
        if (c.kind == Kind::image) {
            EXPECT_EQ(std::pair(route.index, route.width), std::pair(c.index, c.width)) << c.path;
        }
    }
    // An empty token (a server started without one) lets nothing through.
    EXPECT_EQ(routeFollowPath("/f//", "").kind, Kind::forbidden);
}

TEST(FollowScreenMessage, OnlyHelloAndPingMeanAnything) {
    const struct {
        std::string text;
        ScreenMessage said;
    } cases[] = {
        {R"({"type":"hello"})", ScreenMessage::hello},
        {R"({"type":"ping","at":12})", ScreenMessage::ping},
        {R"({"type":"go"})", ScreenMessage::unknown},
        {R"({"type":"PING"})", ScreenMessage::unknown},
        {R"({"type":["ping"]})", ScreenMessage::unknown},
        {R"({"kind":"ping"})", ScreenMessage::unknown},
        {R"(["ping"])", ScreenMessage::unknown},
        {R"("ping")", ScreenMessage::unknown},
        {R"({"type":"ping")", ScreenMessage::unknown},
        {"", ScreenMessage::unknown},
        {"{\"type\":\"ping\",\"x\":\"\xff\"}", ScreenMessage::unknown},  // not UTF-8
        {R"({"type":"ping","x":[[[[[[[[[[]]]]]]]]]]})", ScreenMessage::unknown},
        {R"({"type":"ping","pad":")" + std::string(5000, 'x') + R"("})", ScreenMessage::unknown},
    };
    for (const auto& c : cases) EXPECT_EQ(parseScreenMessage(c.text), c.said) << c.text.substr(0, 60);
}

TEST(FollowFrames, HeaderGrowsAtTheLengthBoundaries) {
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {
        {0, 2}, {125, 127}, {126, 130}, {65535, 65539}, {65536, 65546}, {1u << 20, (1u << 20) + 10}};
    for (const auto& [payload, wire] : cases) EXPECT_EQ(serverFrameBytes(payload), wire) << payload;
}

TEST(FollowRateWindow, CountsPerHostInASlidingWindow) {
    RateWindow rate(3, 1000);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(rate.allow("a", 100 + i));
    EXPECT_FALSE(rate.allow("a", 200));
    EXPECT_TRUE(rate.allow("b", 200));    // another host has its own budget
    EXPECT_TRUE(rate.allow("a", 1100));  // the attempt at 100 has left the window
    EXPECT_FALSE(rate.allow("a", 1100));
}

TEST(FollowRateWindow, ForgetsOldAttemptsAndIdleHosts) {
    RateWindow rate(2, 1000);
    EXPECT_TRUE(rate.allow("a", 0));
    EXPECT_TRUE(rate.allow("a", 500));
    EXPECT_FALSE(rate.allow("a", 999));
    EXPECT_TRUE(rate.allow("a", 1000));  // the one at 0 has left the window
    EXPECT_FALSE(rate.allow("a", 1001));
    for (int i = 0; i < 100; ++i) rate.allow("host" + std::to_string(i), 2000);
    EXPECT_EQ(rate.hosts(), 100u);  // "a" was idle for a window and went in the sweep
    EXPECT_TRUE(rate.allow("z", 3500));
    EXPECT_EQ(rate.hosts(), 1u);  // nobody else was seen in the last window
    EXPECT_FALSE(RateWindow(0, 1000).allow("a", 0));
}

TEST(FollowToken, FreshTokensAreHexAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        const std::string t = FollowServer::newToken();
        ASSERT_EQ(t.size(), 32u);
        EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos) << t;
        seen.insert(t);
    }
    EXPECT_EQ(seen.size(), 64u);
    EXPECT_TRUE(FollowServer::tokenMatches(token, token));
    EXPECT_FALSE(FollowServer::tokenMatches(token.substr(0, 31), token));
    EXPECT_FALSE(FollowServer::tokenMatches("", ""));
    EXPECT_FALSE(FollowServer::tokenMatches(std::string(32, '0'), token));
}

TEST(FollowAddresses, LoopbackComesLastAndEveryAddressIsWhole) {
    const auto addresses = followAddresses(53180, token);
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.back().rfind("http://[::1]", 0) == 0 || addresses.back().rfind("http://127.", 0) == 0, true)
        << addresses.back();
    bool loopbackSeen = false;
    for (const std::string& a : addresses) {
        const bool loopback = a.rfind("http://127.", 0) == 0 || a.rfind("http://[::1]", 0) == 0;
        EXPECT_FALSE(loopbackSeen && !loopback) << a << " after a loopback address";
        loopbackSeen = loopbackSeen || loopback;
        EXPECT_EQ(a.substr(a.size() - token.size() - 10), ":53180/f/" + token + "/") << a;
        EXPECT_EQ(a.find('%'), std::string::npos) << a;
    }
}

}  // namespace
}  // namespace tallowmark::follow
