#pragma once

// One bridge as the page sees it, for the bridge tests: calls go in as the
// page's main frame would send them and the reply is waited for on the main queue.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "bridge/native_bridge.hpp"
#include "core/main_queue.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark::testing {

inline constexpr const char* pageURL = "file:///opt/tm/web/index_inlined.html";

struct Reply {
    bool done = false;
    Json value;
    std::optional<std::string> error;
};

class BridgeFixture : public ::testing::Test {
protected:
    BridgeFixture() {
        Settings s;
        s.oscEnabled = false;  // no listener on a fixed port while tests run in parallel
        settings->setSettings(s);
        bridge = NativeBridge::create(settings, std::make_shared<NoUpdates>("20260101-1"));
        bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    }

    // Sends the call; the reply is filled in whenever it comes.
    std::shared_ptr<Reply> send(const std::string& name, Json body = Json::array(), bool mainFrame = true,
                                std::optional<std::string> url = std::string(pageURL)) {
        auto reply = std::make_shared<Reply>();
        bridge->receive({name, std::move(body), std::move(url), mainFrame},
                        ReplyHandle([this, reply, name](const Json& v, const std::optional<std::string>& e) {
                            EXPECT_FALSE(reply->done) << name << " answered twice";
                            *reply = {true, v, e};
                            replied(name);
                        }));
        return reply;
    }
    Reply settle(const std::shared_ptr<Reply>& reply, const std::string& name = "the call") {
        EXPECT_TRUE(pumpMainUntil([&] { return reply->done; })) << name << " never answered";
        drainMainQueue();
        return *reply;
    }
    Reply call(const std::string& name, Json body = Json::array(), bool mainFrame = true,
               std::optional<std::string> url = std::string(pageURL)) {
        return settle(send(name, std::move(body), mainFrame, std::move(url)), name);
    }

    virtual void replied(const std::string&) {}

    TempDir dir;
    std::shared_ptr<SettingsStore> settings = std::make_shared<SettingsStore>(true);
    std::shared_ptr<NativeBridge> bridge;
};

}  // namespace tallowmark::testing
