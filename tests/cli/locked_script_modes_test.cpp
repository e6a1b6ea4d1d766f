// "--password" for the modes that open a script locked with one.

#include <gtest/gtest.h>

#include <cstdlib>

#include "cues/cue_sidecar.hpp"
#include "support/mode_run.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::runMode;

TEST(LockedScriptModes, EveryModeThatOpensTheScriptTakesThePassword) {
    testing::TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);  // settings of this test only
    const std::string pdf = (dir / "show.pdf").string(), png = (dir / "p.png").string();
    const std::string layout = (dir / "layout.json").string(), marked = (dir / "marked.pdf").string();
    testing::writePdf(dir / "plain.pdf", {{300, 400, {{30, 40, "Enter Prospero"}}}});
    ASSERT_TRUE(testing::encryptPdf(dir / "plain.pdf", pdf, "sesame", "keeper"));
    testing::writeText(dir / "show.tallowmark", *encodeSidecar(CueSidecar{}));
    testing::writeText(layout, R"({"labelFontPx":12,"labelLineH":1.2,"labelPadX_px":4,"labelPadY_px":2,
        "pages":[{"index":0,"extra":0,"pageWpx":600}]})");

    const std::vector<std::vector<std::string>> modes = {
        {"--pdf-test", pdf, "100"}, {"--page-lines", pdf}, {"--maxtext-data", pdf}, {"--page-sizes", pdf},
        {"--lock-latency-test", pdf}, {"--snap-test", pdf}, {"--text-box", pdf},
        {"--render-page", pdf, "1", png, "100"}, {"--export-marked", pdf, marked, layout}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.front());
        EXPECT_EQ(runMode(mode), std::pair(std::optional(1), std::string(
            "virhe: PDF on suojattu salasanalla - anna se valitsimella --password\n")));
        std::vector<std::string> wrong = mode;
        wrong.insert(wrong.end(), {"--password", "sesam"});
        EXPECT_EQ(runMode(wrong), std::pair(std::optional(1), std::string("virhe: salasana ei kelpaa\n")));
        // Before the mode's switch as well as after its operands.
        std::vector<std::string> right = {"--password", "sesame"};
        right.insert(right.end(), mode.begin(), mode.end());
        const auto [status, output] = runMode(right);
        EXPECT_EQ(status, 0) << output;
        EXPECT_EQ(output.find("virhe"), std::string::npos) << output;
    }
    EXPECT_NE(runMode({"--page-lines", pdf, "--password", "keeper"}).second.find("Enter Prospero"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(png) && std::filesystem::exists(marked));

    std::filesystem::remove(png);
    EXPECT_EQ(runMode({"--render-page", pdf, "1", png, "--password"}),
              std::pair(std::optional(1), std::string("virhe: --password ilman salasanaa\n")));
    EXPECT_FALSE(std::filesystem::exists(png));
}

}  // namespace
}  // namespace tallowmark
