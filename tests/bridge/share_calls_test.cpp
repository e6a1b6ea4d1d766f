// Follower screens from the page's calls: sharing on and off, its address
// kept in the settings, and a real screen following the show.

#include "bridge_fixture.hpp"
#include "follow/follow_client.hpp"
#include "follow/share_code.hpp"

namespace tallowmark {
namespace {

using testing::FollowClient;
namespace fs = std::filesystem;

class ShareCallsTest : public testing::BridgeFixture {
protected:
    void SetUp() override {
        testing::writeText(dir / "page.html", "<html>follower</html>");
        bridge->share().setPageFile(dir / "page.html");
        Settings s = settings->settings();
        s.followPort = port;
        settings->setSettings(s);
    }
    // The last frame of `type` the screen got, or null.
    static Json last(const testing::ScreenClient& screen, const std::string& type) {
        const std::vector<Json> frames = screen.of(type);
        return frames.empty() ? Json(nullptr) : frames.back();
    }

    int port = testing::freeTcpPort();
};

TEST_F(ShareCallsTest, AScreenFollowsTheShowWhileSharingIsOn) {
    ASSERT_TRUE(open(script()).value.is_object());
    for (const char* n : {"1", "2"}) call("upsertCue", Json::array({{{"id", std::string("Q") + n}, {"number", n}}}));
    EXPECT_EQ(call("setSharing", Json::array({"yes"})).value["sharing"], false);  // mistyped: nothing changes

    const Json status = call("setSharing", Json::array({true})).value;
    ASSERT_EQ(status["listening"], true) << status.dump();
    EXPECT_TRUE(settings->settings().followSharing);
    const std::string address = status["addresses"].back();  // the loopback comes last
    ASSERT_NE(address.find(":" + std::to_string(port) + "/f/"), std::string::npos) << address;
    EXPECT_EQ(status["qr"].get<std::string>().rfind("<svg", 0), 0u);
    const std::string path = address.substr(address.find("/f/"));

    FollowClient client(port);
    auto screen = client.screen(path + "ws");
    ASSERT_TRUE(screen->open());
    ASSERT_TRUE(testing::pumpMainUntil([&] { return !last(*screen, "script").is_null(); }, 5000));
    EXPECT_EQ(last(*screen, "script")["cues"].size(), 2u);
    call("go");
    ASSERT_TRUE(testing::pumpMainUntil([&] { return last(*screen, "run")["standby"] == "Q2"; }, 5000))
        << last(*screen, "run").dump();
    EXPECT_EQ(last(*screen, "run")["firedCount"], 1);
    EXPECT_EQ(call("shareStatus").value["screens"], 1);

    // Pinned, the address outlives sharing off and on.
    EXPECT_EQ(call("pinShareAddress", Json::array({true})).value["pinned"], true);
    EXPECT_NE(path.find(settings->settings().followToken), std::string::npos);
    EXPECT_EQ(call("setSharing", Json::array({false})).value["listening"], false);
    EXPECT_FALSE(settings->settings().followSharing);
    EXPECT_EQ(call("setSharing", Json::array({true})).value["addresses"].back(), address);
}

TEST(ShareCode, QrCodesForAddressesOnly) {
    EXPECT_FALSE(qrCodeSvg(""));
    EXPECT_FALSE(qrCodeSvg(std::string(600, 'a')));
    const std::optional<std::string> svg = qrCodeSvg("http://192.168.1.20:53180/f/0123456789abcdef0123456789abcdef/");
    ASSERT_TRUE(svg);
    EXPECT_NE(svg->find("viewBox=\"0 0 "), std::string::npos);
    EXPECT_GT(std::count(svg->begin(), svg->end(), 'M'), 100);  // a real code has hundreds of dark modules
}

}  // namespace
}  // namespace tallowmark
