// The shell's rules that need no toolkit.

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "app/model/app_resources.hpp"
#include "app/model/launch_rules.hpp"
#include "app/model/live_reload.hpp"
#include "app/model/window_sizing.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

TEST(LaunchRules, OnlyTheFirstPdfOfTheHandedOverFilesOpens) {
    EXPECT_EQ(firstPdfPath({"/a/notes.txt", "/a/Show.PDF", "/a/other.pdf"}), "/a/Show.PDF");
    EXPECT_EQ(firstPdfPath({"/a/script.pdf.bak", "/a/pdf", "/a/.pdf"}), std::nullopt);
    EXPECT_EQ(firstPdfPath({}), std::nullopt);
}

TEST(LaunchRules, OpenArgumentTakesTheFollowingOperandWithHomeExpanded) {
    const std::string home = g_get_home_dir();
    EXPECT_EQ(openArgument({"--open", "~/show.pdf"}), home + "/show.pdf");
    EXPECT_EQ(openArgument({"-x", "--open", "/s.pdf", "--open", "/t.pdf"}), "/s.pdf");
    EXPECT_EQ(openArgument({"/s.pdf", "--open"}), std::nullopt);
    EXPECT_EQ(openArgument({"~/show.pdf"}), std::nullopt);

    // What reaches the open path: the plain operand, the --open one first and once, no switches.
    using Files = std::vector<std::string>;
    EXPECT_EQ(applicationFiles({"/f/show.pdf"}), Files{"/f/show.pdf"});
    EXPECT_EQ(applicationFiles({"/f/a.pdf", "--open", "~/b.pdf", "-v"}), (Files{home + "/b.pdf", "/f/a.pdf"}));
    EXPECT_EQ(applicationFiles({"--open"}), Files{});
}

TEST(LaunchRules, WindowMinimumAndReserveScript) {
    EXPECT_EQ(std::tuple(mainWindowMinimum(true).width, mainWindowMinimum(false).width, mainWindowMinimum(false).height),
              std::tuple(360, 600, 620));
    EXPECT_EQ(reserveUserScript(27.6), "document.documentElement.style.setProperty('--tb-reserve', '28px');");
    for (const double none : {0.0, -4.0}) EXPECT_EQ(reserveUserScript(none), std::nullopt) << none;
    // The paint trace is the technician's choice alone: only "1" turns it on.
    EXPECT_EQ(traceUserScript("1"), "window.__tallowmarkTrace = true;");
    for (const char* off : {static_cast<const char*>(nullptr), "", "0", "yes", "1 "})
        EXPECT_EQ(traceUserScript(off), std::nullopt) << (off ? off : "unset");
}

TEST(AppResources, InstalledFolderFirstThenTheBuildFolder) {
    testing::TempDir dir;
    const auto prefix = dir / "usr";
    const auto build = dir / "build" / "resources";
    const auto roots = resourceRootsFor(prefix / "bin" / "tallowmark", build);
    std::filesystem::create_directories(build / "tallowmark");
    testing::writeText(build / "tallowmark" / "index_inlined.html", "<html>build</html>");
    EXPECT_EQ(findResource(roots, "index_inlined", "html", "tallowmark"), build / "tallowmark" / "index_inlined.html");

    const auto installed = prefix / "share" / "tallowmark" / "tallowmark";
    std::filesystem::create_directories(installed);
    testing::writeText(installed / "index_inlined.html", "<html>installed</html>");
    EXPECT_EQ(findResource(roots, "index_inlined", "html", "tallowmark"), installed / "index_inlined.html");

    // A folder of the same name is not the file; a name without extension is looked up as is.
    std::filesystem::create_directories(installed / "guide.html");
    EXPECT_EQ(findResource(roots, "guide", "html", "tallowmark"), std::nullopt);
    testing::writeText(build / "LICENSE", "text");
    EXPECT_EQ(findResource(roots, "LICENSE", "", ""), build / "LICENSE");
    EXPECT_EQ(findResource(resourceRootsFor(prefix / "bin" / "tallowmark", std::nullopt), "LICENSE", "", ""),
              std::nullopt);
}

// A window 500 wide at x 900 on a 1280-wide screen.
TEST(WindowSizing, TheWindowGrowsWithinItsScreenAndNeverShrinks) {
    const WindowFrame window{900, 50, 500, 700}, screen{0, 0, 1280, 800};
    struct Row { WindowFrame current; bool fullScreen; std::optional<WindowFrame> screen; std::int64_t width;
                 std::optional<WindowFrame> frame; bool wideEnough; };
    const std::vector<Row> rows = {
        {window, false, screen, 400, std::nullopt, true},
        {window, false, screen, 500, std::nullopt, true},
        {window, false, screen, 800, WindowFrame{480, 50, 800, 700}, true},  // pulled left to stay on the screen
        {{100, 50, 500, 700}, false, screen, 800, WindowFrame{100, 50, 800, 700}, true},
        {window, false, screen, 2000, WindowFrame{0, 50, 1280, 700}, false},
        {{-200, 0, 300, 700}, false, WindowFrame{-300, 0, 1280, 800}, 2000, WindowFrame{-300, 0, 1280, 700}, false},
        {window, true, screen, 800, std::nullopt, false},
        {window, false, std::nullopt, 800, std::nullopt, false},
        {window, false, screen, 0, std::nullopt, false},
        {window, false, screen, -5, std::nullopt, false},
    };
    for (const Row& row : rows) {
        const WindowWidening widening = widenWindow(row.current, row.fullScreen, row.screen, row.width);
        EXPECT_EQ(std::tie(widening.frame, widening.wideEnough), std::tie(row.frame, row.wideEnough)) << row.width;
    }
}

// Drains what the monitor still delivers for `ms`, so a late duplicate would be counted.
void settle(int ms) { testing::pumpMainUntil([] { return false; }, ms); }

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
