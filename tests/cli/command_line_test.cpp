#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;

struct ModeRun {
    std::optional<int> status;
    std::string output;
};

ModeRun run(const std::vector<std::string>& arguments) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    ModeRun result;
    result.status = runCommandLineMode(arguments, out);
    std::fclose(out);
    result.output.assign(buffer, size);
    std::free(buffer);
    return result;
}

class CommandLineTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string pdf = (dir / "script.pdf").string();

    void SetUp() override {
        testing::writePdf(pdf, {{300, 400, {{30, 40, "Alpha beta"}}}, {400, 300, {{30, 40, "Gamma"}}}});
    }
};

TEST_F(CommandLineTest, ModesWithoutTheirOperandsFallThrough) {
    EXPECT_FALSE(run({"--render-page", pdf, "2"}).status);
    EXPECT_FALSE(run({"--pdf-test"}).status);
    EXPECT_FALSE(run({"--open", pdf}).status);
    // Both switches: the benchmark comes first in the table.
    const ModeRun both = run({"--render-page", pdf, "1", (dir / "x.png").string(), "--pdf-test", pdf, "50"});
    EXPECT_EQ(both.status, 0);
    EXPECT_NE(both.output.find("renderointileveys:  50\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));
}

TEST_F(CommandLineTest, RenderPageOperands) {
    for (const char* page : {"0", "-3", "abc"}) {
        const ModeRun r = run({"--render-page", pdf, page, (dir / "p.png").string(), "120"});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.output.starts_with("sivu 1, kuvasuhde ")) << r.output;
    }
    const ModeRun second = run({"--render-page", pdf, "2", (dir / "p.png").string(), "120"});
    EXPECT_EQ(second.status, 0);
    DocumentStore store;
    const auto info = store.open(pdf);
    char expected[64];
    std::snprintf(expected, sizeof expected, "sivu 2, kuvasuhde %.4f\n", info->aspects[1]);
    EXPECT_TRUE(second.output.starts_with(expected)) << second.output;
    const std::string small = testing::readText(dir / "p.png");
    EXPECT_EQ(testing::decodePng({small.begin(), small.end()}).width, 120);

    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    setenv("HOME", dir.path().c_str(), 1);
    const ModeRun tilde = run({"--render-page", pdf, "2", "~/x.png"});
    setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(tilde.status, 0);
    EXPECT_NE(tilde.output.find("kirjoitettu: " + (dir / "x.png").string() + " ("), std::string::npos);
    const std::string png = testing::readText(dir / "x.png");
    EXPECT_EQ(testing::decodePng({png.begin(), png.end()}).width, 1600);
}

TEST_F(CommandLineTest, FailuresPrintOneFinnishLine) {
    testing::writeText(dir / "bad.pdf", "not a pdf");
    ModeRun r = run({"--render-page", (dir / "bad.pdf").string(), "1", (dir / "o.png").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "virhe: PDF:aa ei voitu avata\n");
    r = run({"--render-page", pdf, "9", (dir / "o.png").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "virhe: renderointi epaonnistui\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "o.png"));
    r = run({"--pdf-test", (dir / "bad.pdf").string()});
    EXPECT_EQ(r.status, 1);
}

TEST_F(CommandLineTest, RenderBenchmarkReportsEveryPage) {
    const ModeRun r = run({"--pdf-test", pdf, "200"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("  2 sivua\n"), std::string::npos);
    EXPECT_NE(r.output.find("sivu   1  "), std::string::npos);
    EXPECT_NE(r.output.find("sivu   2  "), std::string::npos);
    EXPECT_NE(r.output.find("valimuistista:      "), std::string::npos);
    EXPECT_NE(r.output.find("budjet"), std::string::npos);
}

}  // namespace
}  // namespace tallowmark
