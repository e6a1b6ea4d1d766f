#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "cues/cue_sidecar.hpp"
#include "support/json_text.hpp"
#include "support/mode_run.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::runMode;
namespace fs = std::filesystem;

class CarryModeTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    fs::path oldPdf = dir / "Act 1 v1.pdf", newPdf = dir / "Act 1 v2.pdf";
    fs::path oldMarks = dir / "Act 1 v1.tallowmark", newMarks = dir / "Act 1 v2.tallowmark";

    // The folder the other tests of the program share comes back afterwards.
    const std::string sharedConfigHome = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    void TearDown() override { setenv("XDG_CONFIG_HOME", sharedConfigHome.c_str(), 1); }

    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);  // settings of this test only
        testing::writePdf(oldPdf, {{300, 400, {{20, 40, "The storm breaks over the old house"},
                                               {20, 70, "Exit pursued by a hungry bear"}}}});
        testing::writePdf(newPdf, {{300, 400, {{20, 40, "A bell rings far away"},
                                               {20, 70, "The storm breaks over the old house"}}}});
        CueSidecar marks;
        // One cue on the first line's words, one on the line the new draft cut.
        marks.cues.push_back(Cue{.id = "A", .number = "1", .page = 0, .x = 0.0, .y = 0.0, .w = 1, .h = 0.06,
                                 .snippet = "The storm breaks"});
        marks.cues.push_back(Cue{.id = "B", .number = "2", .kind = "LX", .page = 0, .x = 0.0, .y = 0.5, .w = 1,
                                 .h = 0.5, .snippet = "Exit pursued"});
        testing::writeText(oldMarks, *encodeSidecar(marks));
    }
    std::pair<std::optional<int>, std::string> carry(std::vector<std::string> more = {}) {
        std::vector<std::string> arguments = {"--carry-marks", oldPdf.string(), newPdf.string()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return runMode(arguments);
    }
};

TEST_F(CarryModeTest, WritesTheNewVersionsMarksAndNamesWhatToReview) {
    const std::string before = testing::readText(oldMarks);
    const auto [status, printed] = carry();
    EXPECT_EQ(status, 0) << printed;
    EXPECT_EQ(printed, "tarkistettava: Cue 2 LX, sivu 1: Exit pursued\n"
                       "siirretty: 1 paikallaan, 0 muuttunut, 1 tarkistettavana\n"
                       "kirjoitettu: " + newMarks.string() + "\n");
    const auto carried = decodeSidecar(testing::readText(newMarks));
    ASSERT_TRUE(carried);
    EXPECT_EQ(carried->documentName, "Act 1 v2.pdf");
    EXPECT_EQ(carried->cues.at(0).carry, std::nullopt);
    EXPECT_EQ(carried->cues.at(1).carry, "review");
    EXPECT_GT(carried->cues.at(0).y, 0.1) << "the line moved down below the new one";
    EXPECT_EQ(testing::readText(oldMarks), before);

    // Again: the marks are there now, and only --replace replaces them (with a backup).
    EXPECT_EQ(carry(), std::pair(std::optional(1), "virhe: uudella versiolla on jo merkinnat: " + newMarks.string() +
                                                       " - korvaa valitsimella --replace\n"));
    EXPECT_EQ(carry({"--replace"}).first, 0);
    EXPECT_TRUE(fs::exists(dir / "Act 1 v2.tallowmark.bak1"));
}

// Nothing is written over either script's files, whatever NEW's marks file is under another name.
TEST_F(CarryModeTest, RefusesToWriteOverTheScriptsOwnFilesOrToWait) {
    const std::string oldBefore = testing::readText(oldMarks);
    const fs::path link = dir / "Link.pdf", linkMarks = dir / "Link.tallowmark";
    const std::vector<std::tuple<std::string, std::function<void()>, std::string>> rows = {
        {"the same script", [&] { fs::create_symlink(oldPdf, link); },
         "virhe: vanha ja uusi versio ovat sama tiedosto\n"},
        {"marks linked onto the old marks", [&] { fs::copy_file(newPdf, link); fs::create_symlink(oldMarks, linkMarks); },
         "virhe: vanha ja uusi versio ovat sama tiedosto\n"},
        {"marks linked onto the old script", [&] { fs::copy_file(newPdf, link); fs::create_symlink(oldPdf, linkMarks); },
         "virhe: merkinnat kirjoittaisivat vanhan PDF:n paalle: " + linkMarks.string() + "\n"},
        {"a FIFO as the marks", [&] { fs::copy_file(newPdf, link); mkfifo(linkMarks.c_str(), 0600); },
         "virhe: ei tavallinen tiedosto: " + linkMarks.string() + "\n"},
        {"old marks missing", [&] { fs::copy_file(newPdf, link); fs::rename(oldMarks, dir / "away"); },
         "virhe: vanhan version merkintoja ei loytynyt tai ne eivat jasenny: " + oldMarks.string() + "\n"},
    };
    for (const auto& [what, arrange, expected] : rows) {
        SCOPED_TRACE(what);
        fs::remove(link);
        fs::remove(linkMarks);
        if (fs::exists(dir / "away")) fs::rename(dir / "away", oldMarks);
        arrange();
        EXPECT_EQ(runMode({"--carry-marks", oldPdf.string(), link.string(), "--replace"}),
                  std::pair(std::optional(1), expected));
    }
    fs::rename(dir / "away", oldMarks);
    EXPECT_EQ(runMode({"--carry-marks", oldPdf.string()}),
              std::pair(std::optional(1), std::string("virhe: --carry-marks <vanha.pdf> <uusi.pdf> [--replace]\n")));
    EXPECT_EQ(testing::readText(oldMarks), oldBefore);
    EXPECT_TRUE(fs::exists(oldPdf) && !fs::is_symlink(oldPdf));
}

}  // namespace
}  // namespace tallowmark
