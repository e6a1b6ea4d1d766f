#include "app/model/live_reload.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

// Drains whatever the monitor still delivers for `ms`, so a late duplicate
// event would be counted.
void settle(int ms) {
    testing::pumpMainUntil([] { return false; }, ms);
}

TEST(LiveReload, ReplacedAndRewrittenPagesEachReloadOnce) {
    testing::TempDir dir;
    const auto page = dir / "index_inlined.html";
    testing::writeText(page, "<p>one</p>");
    int reloads = 0;
    LiveReload reload;
    ASSERT_TRUE(reload.start(page.string(), [&] { ++reloads; }));
    settle(200);
    ASSERT_EQ(reloads, 0);

    // An editor's save: a new file renamed over the old one.
    testing::writeText(dir / ".index.tmp", "<p>two</p>");
    ASSERT_EQ(std::rename((dir / ".index.tmp").c_str(), page.c_str()), 0);
    EXPECT_TRUE(testing::pumpMainUntil([&] { return reloads >= 1; }));
    settle(300);
    EXPECT_EQ(reloads, 1);

    // The replaced file is still watched: a plain rewrite reloads again.
    testing::writeText(page, "<p>three</p>");
    EXPECT_TRUE(testing::pumpMainUntil([&] { return reloads >= 2; }));
    settle(300);
    EXPECT_EQ(reloads, 2);
}

}  // namespace
}  // namespace tallowmark
