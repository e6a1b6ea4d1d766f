#include "app/model/launch_rules.hpp"

#include <gtest/gtest.h>

#include <glib.h>

#include "app/model/app_resources.hpp"
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

    // What reaches the open path: the desktop's plain operand, the --open one
    // first and only once, no switches.
    using Files = std::vector<std::string>;
    EXPECT_EQ(applicationFiles({"/f/show.pdf"}), Files{"/f/show.pdf"});
    EXPECT_EQ(applicationFiles({"/f/a.pdf", "--open", "~/b.pdf", "-v"}), (Files{home + "/b.pdf", "/f/a.pdf"}));
    EXPECT_EQ(applicationFiles({"--open"}), Files{});
}

TEST(LaunchRules, WindowMinimumAndReserveScript) {
    EXPECT_EQ(mainWindowMinimum(true).width, 360);
    EXPECT_EQ(mainWindowMinimum(false).width, 600);
    EXPECT_EQ(mainWindowMinimum(false).height, 620);
    EXPECT_EQ(reserveUserScript(27.6),
              "document.documentElement.style.setProperty('--tb-reserve', '28px');");
    EXPECT_EQ(reserveUserScript(0), std::nullopt);
    EXPECT_EQ(reserveUserScript(-4), std::nullopt);
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

}  // namespace
}  // namespace tallowmark
