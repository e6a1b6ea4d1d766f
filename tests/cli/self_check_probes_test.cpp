#include <gtest/gtest.h>
#include <glib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/config_home.hpp"
#include "support/mode_run.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::runMode;

// Folders the export check made under the temporary folder and left there.
// This process's own: a test running beside it may be exporting at the same moment.
long exportScratchFolders() {
    const std::string own = "tallowmark-export-test-" + std::to_string(getpid()) + "-";
    long count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(g_get_tmp_dir()))
        count += entry.path().filename().string().starts_with(own);
    return count;
}

// Each check passes on a sound build, every step it promises is run, and the export leaves nothing behind.
TEST(SelfCheckProbes, EachSwitchRunsItsCheckAndPasses) {
    const long scratchBefore = exportScratchFolders();
    const struct {
        const char* name;
        const char* heading;
        int checks;
    } rows[] = {
        {"--titlebar-probe", "Otsikkopalkin piilotus", 6},
        {"--export-test", "Merkityn kasikirjoituksen vienti", 12},
        {"--update-probe", "Paivityssaannot ilman verkkoa", 10},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto [status, output] = runMode({row.name});
        EXPECT_EQ(status, 0) << output;
        EXPECT_TRUE(output.starts_with(row.heading)) << output;
        EXPECT_EQ(output.find("VIRHE"), std::string::npos) << output;
        EXPECT_TRUE(output.ends_with("kaikki " + std::to_string(row.checks) + " tarkistusta onnistuivat\n")) << output;
    }
    EXPECT_EQ(exportScratchFolders(), scratchBefore);
}

// The refusals name their reason, so a technician can tell a wrong host from a broken feed.
TEST(SelfCheckProbes, UpdateProbeSaysWhyEachFeedIsRefused) {
    const std::string output = runMode({"--update-probe"}).second;
    for (const char* reason : {"ei ole valmistajan\n", "lataus ei ole https-yhteydella\n", "syote ei ole JSON-olio\n",
                               "syote on yli 64 kt\n", "versio ei ole asennettua uudempi\n"})
        EXPECT_NE(output.find(reason), std::string::npos) << reason << "\n" << output;
}

// Two self-checks at once: the one earlier in the table runs, whatever the argument order; and a self-check comes
// before every mode that reads a script. "--password" is taken out first, as for every mode.
TEST(SelfCheckProbes, TheEarlierCheckInTheTableRuns) {
    testing::TempDir dir;
    const std::string pdf = dir / "script.pdf";
    testing::writePdf(pdf, {{300, 400, {{30, 40, "Alpha"}}}});
    const std::vector<std::string> headings = {"Otsikkopalkin piilotus", "Merkityn kasikirjoituksen vienti",
                                               "Paivityssaannot ilman verkkoa", "renderointileveys"};
    const std::pair<std::vector<std::string>, int> rows[] = {  // arguments, which heading shows (-1: none of these)
        {{"--export-test", "--titlebar-probe"}, 0},
        {{"--update-probe", "--export-test"}, 1},
        {{"--update-probe", "--titlebar-probe"}, 0},
        {{"--pdf-test", pdf, "50", "--update-probe"}, 2},
        {{"--titlebar-probe", "--resume-test"}, -1},
        {{"--update-probe", "--osc-test"}, -1},
        // A password's text is never read as a switch.
        {{"--pdf-test", pdf, "50", "--password", "--export-test"}, 3},
    };
    for (const auto& [arguments, shown] : rows) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto [status, output] = runMode(arguments);
        ASSERT_TRUE(status.has_value());
        for (int i = 0; i < static_cast<int>(headings.size()); ++i)
            EXPECT_EQ(output.find(headings[i]) != std::string::npos, i == shown) << headings[i] << "\n" << output;
    }
    EXPECT_EQ(runMode({"--titlebar-probe", "--password"}),
              std::pair(std::optional(1), std::string("virhe: --password ilman salasanaa\n")));
}

}  // namespace
}  // namespace tallowmark
