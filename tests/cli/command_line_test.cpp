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

TEST_F(CommandLineTest, ModesWithoutTheirOperandsFallThrough) {
    EXPECT_FALSE(runMode({"--render-page", pdf, "2"}).first);
    EXPECT_FALSE(runMode({"--pdf-test"}).first);
    EXPECT_FALSE(runMode({"--open", pdf}).first);
    // Both switches: the benchmark comes first in the table.
    const auto both = runMode({"--render-page", pdf, "1", (dir / "x.png").string(), "--pdf-test", pdf, "50"});
    EXPECT_EQ(both.first, 0);
    EXPECT_NE(both.second.find("renderointileveys:  50\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));
}

TEST_F(CommandLineTest, RenderPageOperands) {
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

    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    setenv("HOME", dir.path().c_str(), 1);
    const auto tilde = runMode({"--render-page", pdf, "2", "~/x.png"});
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(tilde.first, 0);
    EXPECT_NE(tilde.second.find("kirjoitettu: " + (dir / "x.png").string() + " ("), std::string::npos);
    const std::string png = testing::readText(dir / "x.png");
    EXPECT_EQ(testing::decodePng({png.begin(), png.end()}).width, 1600);
}

TEST_F(CommandLineTest, FailuresPrintOneFinnishLine) {
    testing::writeText(dir / "bad.pdf", "not a pdf");
    auto r = runMode({"--render-page", (dir / "bad.pdf").string(), "1", (dir / "o.png").string()});
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.second, "virhe: PDF:aa ei voitu avata\n");
    r = runMode({"--render-page", pdf, "9", (dir / "o.png").string()});
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.second, "virhe: renderointi epaonnistui\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "o.png"));
    r = runMode({"--pdf-test", (dir / "bad.pdf").string()});
    EXPECT_EQ(r.first, 1);
}

TEST_F(CommandLineTest, RenderBenchmarkReportsEveryPage) {
    const auto r = runMode({"--pdf-test", pdf, "200"});
    ASSERT_EQ(r.first, 0);
    EXPECT_NE(r.second.find("  2 sivua\n"), std::string::npos);
    EXPECT_NE(r.second.find("sivu   1  "), std::string::npos);
    EXPECT_NE(r.second.find("sivu   2  "), std::string::npos);
    EXPECT_NE(r.second.find("valimuistista:      "), std::string::npos);
    EXPECT_NE(r.second.find("budjet"), std::string::npos);
}

}  // namespace
}  // namespace tallowmark
