#include "app/model/shell_updates.hpp"

#include <gtest/gtest.h>

namespace tallowmark {
namespace {

TEST(ShellUpdates, InstallFailsAtOnceThroughTheProgressEventAndNothingIsAnnounced) {
    std::vector<std::pair<std::string, Json>> events;
    ShellUpdates updates("0.1", [&](const std::string& name, const Json& payload) { events.emplace_back(name, payload); });
    updates.announce();
    EXPECT_TRUE(events.empty());
    updates.install();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, "updateProgress");
    EXPECT_EQ(events[0].second.value("failed", false), true);
    EXPECT_FALSE(events[0].second.value("text", "").empty());
    EXPECT_EQ(updates.currentStamp(), "0.1");
}

}  // namespace
}  // namespace tallowmark
