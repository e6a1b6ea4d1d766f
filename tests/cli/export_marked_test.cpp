#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/command_line.hpp"
#include "cues/cue_sidecar.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/mode_run.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::runMode;
using testing::TempDir;

std::string shell(const std::string& command) {
    std::string text;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[512];
        while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
        if (pclose(pipe) != 0) text += "\n(exit status not 0)";
    }
    return text;
}

class ExportMarkedTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string pdf = (dir / "show.pdf").string();
    std::string layout = (dir / "layout.json").string();
    std::string out = (dir / "marked.pdf").string();

    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);  // settings of this test only
        testing::writePdf(pdf, {{300, 400, {{30, 40, "Enter Prospero"}}}, {300, 400, {{30, 40, "Exeunt"}}}});
        CueSidecar sidecar;
        Cue cue;
        cue.page = 1;
        sidecar.cues.push_back(cue);
        testing::writeText(dir / "show.tallowmark", *encodeSidecar(sidecar));
        testing::writeText(layout, R"({"labelFontPx":12,"labelLineH":1.2,"labelPadX_px":4,"labelPadY_px":2,
            "pages":[{"index":1,"extra":0.5,"pageWpx":600,
                      "cues":[{"x":0.1,"w":0.5,"dy":0.1,"dh":0.05,"padL_px":2,"padR_px":2,"outlineOffset_px":1}]}]})");
    }
};

TEST_F(ExportMarkedTest, RefusesMissingOperandsMarksBadLayoutAndUnwritableTarget) {
    const auto failed = [](const std::string& text) { return std::pair(std::optional(1), text); };
    // Without its layout the mode is an error, not a fall-through to another mode.
    EXPECT_EQ(runMode({"--export-marked", pdf, out}),
              failed("virhe: --export-marked <pdf> <out.pdf> <layout.json> - ruudun ladonta (JSON) on pakollinen,\n"
                     "       ilman sita vientia ei tehda (ks. MarkupExporter / buildExportLayout).\n"));
    std::filesystem::remove(dir / "show.tallowmark");
    EXPECT_EQ(runMode({"--export-marked", pdf, out, layout}),
              failed("virhe: sivutiedostoa ei loytynyt tai se ei jasenny: " + (dir / "show.tallowmark").string() + "\n"));

    testing::writeText(dir / "show.tallowmark", *encodeSidecar(CueSidecar{}));
    for (const char* bad : {"", "[]", R"({"labelFontPx":"12"})"}) {
        testing::writeText(layout, bad);
        EXPECT_EQ(runMode({"--export-marked", pdf, out, layout}), failed("virhe: ladonta ei jasenny: " + layout + "\n"))
            << bad;
    }
    testing::writeText(layout, R"({"labelFontPx":12,"labelLineH":1,"labelPadX_px":1,"labelPadY_px":1,"pages":[]})");
    EXPECT_EQ(runMode({"--export-marked", pdf, (dir / "no-such-folder" / "x.pdf").string(), layout}),
              failed("virhe: vienti epaonnistui\n"));
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
    EXPECT_FALSE(std::filesystem::exists(out));
}

// A target that is one of the export's own inputs, by whatever path it is
// named, is refused and every input keeps its bytes.
TEST_F(ExportMarkedTest, RefusesToWriteOverItsOwnInputs) {
    testing::writeText(dir / "show.tallowmark.bak3", "third backup");
    testing::writeText(dir / "show.tallowmark-run", R"({"fired":[]})");
    std::filesystem::create_directory_symlink(dir.path(), dir / "link");
    const std::vector<std::string> inputs = {pdf, (dir / "show.tallowmark").string(),
                                             (dir / "show.tallowmark.bak3").string(),
                                             (dir / "show.tallowmark-run").string(), layout};
    std::vector<std::string> before;
    for (const std::string& file : inputs) before.push_back(testing::readText(file));

    const std::vector<std::pair<std::string, std::string>> rows = {
        {pdf, "kasikirjoituksen"},
        {(dir / "link" / "show.pdf").string(), "kasikirjoituksen"},
        {(dir / "show.tallowmark").string(), "sivutiedoston"},
        {(dir / "link" / "show.tallowmark.bak3").string(), "sivutiedoston varmuuskopion"},
        {(dir / "show.tallowmark-run").string(), "ajotiedoston"},
        {layout, "ladonnan"},
        {(dir / "link" / "layout.json").string(), "ladonnan"},
    };
    for (const auto& [target, what] : rows) {
        EXPECT_EQ(runMode({"--export-marked", pdf, target, layout}),
                  std::pair(std::optional(1), "virhe: vienti kirjoittaisi " + what + " paalle: " + target + "\n"));
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(testing::readText(inputs[i]), before[i]) << inputs[i];

    const auto [status, text] = runMode({"--export-marked", pdf, (dir / "link" / "marked.pdf").string(), layout});
    EXPECT_EQ(status, 0) << text;
    EXPECT_TRUE(testing::readText(out).starts_with("%PDF-"));
}

// What a person checks by hand: the file is sound, has one page per script
// page with the grown height, and its text can still be found.
TEST_F(ExportMarkedTest, WritesAPdfThatToolsAccept) {
    const auto [status, text] = runMode({"--export-marked", pdf, out, layout});
    ASSERT_EQ(status, 0) << text;
    EXPECT_EQ(text, "kirjoitettu: " + out + "\n");
    EXPECT_EQ(shell("qpdf --check '" + out + "' 2>&1").find("(exit status not 0)"), std::string::npos);
    const std::string info = shell("pdfinfo -l 2 '" + out + "'");
    EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
    const std::string words = shell("pdftotext '" + out + "' -");
    EXPECT_NE(words.find("Enter Prospero"), std::string::npos) << words;
    EXPECT_NE(words.find("Exeunt"), std::string::npos);

    setenv("TALLOWMARK_EXPORT_DEBUG", "1", 1);
    const auto [debugStatus, debugText] = runMode({"--export-marked", pdf, out, layout});
    unsetenv("TALLOWMARK_EXPORT_DEBUG");
    EXPECT_EQ(debugStatus, 0);
    EXPECT_TRUE(debugText.starts_with("sivu 1  rajaus x ")) << debugText;
    EXPECT_TRUE(debugText.ends_with("kirjoitettu: " + out + "\n"));

    // The second page is 1.5 times as tall as the first (both cropped alike).
    auto height = [&](int page) {
        const std::string key = "Page    " + std::to_string(page) + " size:";
        const auto at = info.find(key);
        if (at == std::string::npos) return 0.0;
        return std::strtod(info.c_str() + info.find(" x ", at) + 3, nullptr);
    };
    ASSERT_GT(height(1), 0);
    EXPECT_NEAR(height(2) / height(1), 1.5, 0.01);
}

// "--password" for the modes that open a script locked with one: the export's script, locked.
using LockedScriptModes = ExportMarkedTest;

TEST_F(LockedScriptModes, EveryModeThatOpensTheScriptTakesThePassword) {
    const std::string png = (dir / "p.png").string(), marked = out;
    std::filesystem::rename(pdf, dir / "plain.pdf");
    ASSERT_TRUE(testing::encryptPdf(dir / "plain.pdf", pdf, "sesame", "keeper"));

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
        // Between the mode's switch and its operands as well as after them: the
        // password's text is never read as an operand.
        std::vector<std::string> right = mode;
        right.insert(right.begin() + 1, {"--password", "sesame"});
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
