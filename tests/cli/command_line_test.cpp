#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/mode_run.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::runMode;
using testing::TempDir;

class CommandLineTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string pdf = (dir / "script.pdf").string();

    void SetUp() override {
        testing::writePdf(pdf, {{300, 400, {{30, 40, "Alpha beta"}}}, {400, 300, {{30, 40, "Gamma"}}}});
    }
};

// The first switch in the mode table that has its operands runs; one without
// them is passed over, and with none left the program starts (no status).
TEST_F(CommandLineTest, TheEarlierSwitchInTheTableWinsAndOneWithoutOperandsIsPassedOver) {
    const std::string png = (dir / "p.png").string();
    const std::string otherFolder = (dir / "Other").string();
    struct Row {
        std::vector<std::string> arguments;
        std::optional<int> status;
        std::string startsWith;
        std::string contains;
        bool writesPng = false;
    };
    const Row rows[] = {
        {{"--render-page", pdf, "1", png, "--pdf-test", pdf, "50"}, 0, "", "renderointileveys:  50\n"},
        {{"--text-box", pdf, "--page-lines"}, 0, "sivu  1  x", ""},
        {{"--text-box", pdf, "--page-lines", pdf}, 0, "sivu 1: 1 rivia", ""},
        {{"--render-page", pdf, "1", png, "--snap-test", pdf}, 0, "", "napautusta"},
        {{"--export-marked", "--page-lines", pdf}, 0, "sivu 1: 1 rivia", ""},
        {{"--make-demo", otherFolder, "--render-page", pdf, "1", png, "100"}, 0, "", "", true},
    };
    for (const auto& alone : std::vector<std::vector<std::string>>{{"--render-page", pdf, "2"}, {"--pdf-test"},
             {"--open", pdf}, {"--page-lines"}, {"--maxtext-data"}, {"--page-sizes"}, {"--lock-latency-test"},
             {"--snap-test"}, {"--text-box"}}) {
        EXPECT_EQ(runMode(alone), std::pair(std::optional<int>(), std::string())) << alone[0];
    }
    for (const Row& row : rows) {
        const std::string what = ::testing::PrintToString(row.arguments);
        const auto [status, output] = runMode(row.arguments);
        EXPECT_EQ(status, row.status) << what;
        EXPECT_TRUE(output.starts_with(row.startsWith)) << what << "\n" << output;
        EXPECT_NE(output.find(row.contains), std::string::npos) << what << "\n" << output;
        EXPECT_EQ(std::filesystem::exists(png), row.writesPng) << what;
        std::filesystem::remove(png);
    }
    EXPECT_FALSE(std::filesystem::exists(otherFolder));
}

// Every mode that reads the script exits 1 when it is not a PDF; so does a page
// beyond the script, and a sound file whose page tree is empty in every mode
// that walks the pages: statistics of nothing are no success.
TEST_F(CommandLineTest, AnUnreadablePdfOrPageExitsOneInEveryMode) {
    const std::string bad = (dir / "bad.pdf").string(), empty = (dir / "empty.pdf").string();
    testing::writeText(bad, "not a pdf");
    ASSERT_EQ(std::system(("qpdf --empty '" + empty + "'").c_str()), 0);
    ASSERT_TRUE(DocumentStore().open(empty));
    const std::string pageless = "virhe: PDF:ssa ei ole sivuja\n";
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--render-page", bad, "1", (dir / "o.png").string()}, "virhe: PDF:aa ei voitu avata\n"},
        {{"--page-lines", bad}, "virhe: PDF:aa ei voitu avata\n"},
        {{"--text-box", bad}, "PDF ei aukea\n"},
        {{"--pdf-test", bad}, ""},
        {{"--maxtext-data", bad}, ""},
        {{"--page-sizes", bad}, ""},
        {{"--lock-latency-test", bad}, ""},
        {{"--snap-test", bad}, ""},
        {{"--render-page", pdf, "9", (dir / "o.png").string()}, "virhe: renderointi epaonnistui\n"},
        {{"--page-lines", pdf, "3"}, ""},
        {{"--pdf-test", empty}, pageless}, {{"--text-box", empty}, pageless},
        {{"--snap-test", empty}, pageless}, {{"--lock-latency-test", empty}, pageless},
    };
    for (const auto& [arguments, printed] : rows) {
        const auto [status, output] = runMode(arguments);
        EXPECT_EQ(status, 1) << arguments[0];
        if (!printed.empty()) {
            EXPECT_EQ(output, printed) << arguments[0];
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "o.png"));
}

TEST_F(CommandLineTest, RenderPageOperandsAndTheRenderBenchmark) {
    for (const char* page : {"0", "-3", "abc"}) {
        const auto r = runMode({"--render-page", pdf, page, (dir / "p.png").string(), "120"});
        EXPECT_EQ(r.first, 0);
        EXPECT_TRUE(r.second.starts_with("sivu 1, kuvasuhde ")) << r.second;
    }
    const auto second = runMode({"--render-page", pdf, "2", (dir / "p.png").string(), "120"});
    EXPECT_EQ(second.first, 0);
    DocumentStore store;
    const auto info = store.open(pdf);
    char expected[64];
    std::snprintf(expected, sizeof expected, "sivu 2, kuvasuhde %.4f\n", info->aspects[1]);
    EXPECT_TRUE(second.second.starts_with(expected)) << second.second;
    const std::string small = testing::readText(dir / "p.png");
    EXPECT_EQ(testing::decodePng({small.begin(), small.end()}).width, 120);

    const testing::HomeIn home(dir.path());
    const auto tilde = runMode({"--render-page", pdf, "2", "~/x.png"});
    EXPECT_EQ(tilde.first, 0);
    EXPECT_NE(tilde.second.find("kirjoitettu: " + (dir / "x.png").string() + " ("), std::string::npos);
    const std::string png = testing::readText(dir / "x.png");
    EXPECT_EQ(testing::decodePng({png.begin(), png.end()}).width, 1600);

    const auto bench = runMode({"--pdf-test", pdf, "200"});
    ASSERT_EQ(bench.first, 0);
    for (const char* part : {"  2 sivua\n", "sivu   1  ", "sivu   2  ", "valimuistista:      ", "budjet"})
        EXPECT_NE(bench.second.find(part), std::string::npos) << part;
}

}  // namespace
}  // namespace tallowmark
