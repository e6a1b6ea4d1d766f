#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/command_line.hpp"
#include "cues/cue_sidecar.hpp"
#include "support/mode_run.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::runMode;

std::pair<std::optional<int>, std::string> failed(const std::string& text) { return {1, text}; }

class ExportMarkedTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string pdf = (dir / "show.pdf").string(), marks = (dir / "show.tallowmark").string();
    std::string layout = (dir / "layout.json").string(), out = (dir / "marked.pdf").string();

    // The folder the other tests of the program share comes back afterwards.
    const std::string sharedConfigHome = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    void TearDown() override { setenv("XDG_CONFIG_HOME", sharedConfigHome.c_str(), 1); }

    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);  // settings of this test only
        testing::writePdf(pdf, {{300, 400, {{30, 40, "Enter Prospero"}}}, {300, 400, {{30, 40, "Exeunt"}}}});
        CueSidecar sidecar;
        sidecar.cues.emplace_back().page = 1;
        testing::writeText(marks, *encodeSidecar(sidecar));
        testing::writeText(layout, R"({"labelFontPx":12,"labelLineH":1.2,"labelPadX_px":4,"labelPadY_px":2,
            "pages":[{"index":1,"extra":0.5,"pageWpx":600,
                      "cues":[{"x":0.1,"w":0.5,"dy":0.1,"dh":0.05,"padL_px":2,"padR_px":2,"outlineOffset_px":1}]}]})");
    }
};

TEST_F(ExportMarkedTest, RefusesMissingOperandsMarksBadLayoutAndUnwritableTarget) {
    // Without its layout the mode is an error, not a fall-through to another mode.
    EXPECT_EQ(runMode({"--export-marked", pdf, out}),
              failed("virhe: --export-marked <pdf> <out.pdf> <layout.json> - ruudun ladonta (JSON) on pakollinen,\n"
                     "       ilman sita vientia ei tehda (ks. MarkupExporter / buildExportLayout).\n"));
    std::filesystem::remove(marks);
    EXPECT_EQ(runMode({"--export-marked", pdf, out, layout}),
              failed("virhe: sivutiedostoa ei loytynyt tai se ei jasenny: " + marks + "\n"));
    testing::writeText(marks, *encodeSidecar(CueSidecar{}));
    testing::writeText(layout, R"({"labelFontPx":"12"})");  // which layouts are unusable is export_layout_test's
    EXPECT_EQ(runMode({"--export-marked", pdf, out, layout}), failed("virhe: ladonta ei jasenny: " + layout + "\n"));
    testing::writeText(layout, R"({"labelFontPx":12,"labelLineH":1,"labelPadX_px":1,"labelPadY_px":1,"pages":[]})");
    EXPECT_EQ(runMode({"--export-marked", pdf, (dir / "no-such-folder" / "x.pdf").string(), layout}),
              failed("virhe: vienti epaonnistui\n"));
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
    EXPECT_FALSE(std::filesystem::exists(out));
}

// A target that is one of the export's own inputs, by whatever path it is named, is refused and every input keeps its
// bytes.
TEST_F(ExportMarkedTest, RefusesToWriteOverItsOwnInputs) {
    testing::writeText(dir / "show.tallowmark.bak3", "third backup");
    testing::writeText(dir / "show.tallowmark-run", R"({"fired":[]})");
    std::filesystem::create_directory_symlink(dir.path(), dir / "link");
    const std::string link = (dir / "link").string() + "/";
    const std::vector<std::string> inputs = {pdf, marks, marks + ".bak3", marks + "-run", layout};
    std::vector<std::string> before;
    for (const std::string& file : inputs) before.push_back(testing::readText(file));
    const std::pair<std::string, std::string> rows[] = {
        {pdf, "kasikirjoituksen"}, {link + "show.pdf", "kasikirjoituksen"}, {marks, "sivutiedoston"},
        {link + "show.tallowmark.bak3", "sivutiedoston varmuuskopion"}, {marks + "-run", "ajotiedoston"},
        {layout, "ladonnan"}, {link + "layout.json", "ladonnan"},
    };
    for (const auto& [target, what] : rows) {
        EXPECT_EQ(runMode({"--export-marked", pdf, target, layout}),
                  failed("virhe: vienti kirjoittaisi " + what + " paalle: " + target + "\n"));
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(testing::readText(inputs[i]), before[i]) << inputs[i];

    // The pages, their grown height and their text are the exporter's own tests; here the file a person would check
    // by hand is sound to an outside tool.
    EXPECT_EQ(runMode({"--export-marked", pdf, link + "marked.pdf", layout}),
              std::pair(std::optional(0), "kirjoitettu: " + link + "marked.pdf\n"));
    EXPECT_EQ(std::system(("qpdf --check '" + out + "' >/dev/null 2>&1").c_str()), 0);
    setenv("TALLOWMARK_EXPORT_DEBUG", "1", 1);
    const auto [debugStatus, debugText] = runMode({"--export-marked", pdf, out, layout});
    unsetenv("TALLOWMARK_EXPORT_DEBUG");
    EXPECT_EQ(debugStatus, 0);
    EXPECT_TRUE(debugText.starts_with("sivu 1  rajaus x ")) << debugText;
    EXPECT_TRUE(debugText.ends_with("kirjoitettu: " + out + "\n"));
}

// "--password" for the modes that open a script locked with one: the export's script, locked.
using LockedScriptModes = ExportMarkedTest;

TEST_F(LockedScriptModes, EveryModeThatOpensTheScriptTakesThePassword) {
    const std::string png = (dir / "p.png").string();
    std::filesystem::rename(pdf, dir / "plain.pdf");
    ASSERT_TRUE(testing::encryptPdf(dir / "plain.pdf", pdf, "sesame", "keeper"));
    const std::vector<std::vector<std::string>> modes = {
        {"--pdf-test", pdf, "100"}, {"--page-lines", pdf}, {"--maxtext-data", pdf}, {"--page-sizes", pdf},
        {"--lock-latency-test", pdf}, {"--snap-test", pdf}, {"--text-box", pdf},
        {"--render-page", pdf, "1", png, "100"}, {"--export-marked", pdf, out, layout}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.front());
        EXPECT_EQ(runMode(mode), failed("virhe: PDF on suojattu salasanalla - anna se valitsimella --password\n"));
        std::vector<std::string> wrong = mode;
        wrong.insert(wrong.end(), {"--password", "sesam"});
        EXPECT_EQ(runMode(wrong), failed("virhe: salasana ei kelpaa\n"));
        // Between the mode's switch and its operands as well as after them: the password's text is never read as an
        // operand.
        std::vector<std::string> right = mode;
        right.insert(right.begin() + 1, {"--password", "sesame"});
        const auto [status, output] = runMode(right);
        EXPECT_EQ(status, 0) << output;
        EXPECT_EQ(output.find("virhe"), std::string::npos) << output;
    }
    EXPECT_TRUE(std::filesystem::remove(png) && std::filesystem::exists(out));
    EXPECT_EQ(runMode({"--render-page", pdf, "1", png, "--password"}), failed("virhe: --password ilman salasanaa\n"));
    EXPECT_FALSE(std::filesystem::exists(png));
}

}  // namespace
}  // namespace tallowmark
