#include "demo/demo_script_maker.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "demo/demo_play.hpp"
#include "document/document_store.hpp"
#include "support/mode_run.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;

long filesIn(const std::filesystem::path& folder) { return std::distance(std::filesystem::directory_iterator(folder), {}); }

TEST(DemoScriptMakerTest, WritesTheScriptWithEveryCueFoundOnIt) {
    TempDir dir;
    const std::filesystem::path folder = dir / "nested/Demo";
    testing::Printed out;
    DemoScriptMaker maker(out.file());
    ASSERT_EQ(maker.run(folder), 0) << out.text();
    const std::filesystem::path pdf = maker.lastWrittenPDF().value_or("");
    EXPECT_EQ(pdf, folder / "Lantern at Skerrow Head - rehearsal script.pdf");
    const std::filesystem::path marks = folder / "Lantern at Skerrow Head - rehearsal script.tallowmark";

    const std::string printed = out.text();
    EXPECT_TRUE(printed.starts_with("valmis ") && printed.find("HUOM") == std::string::npos) << printed;
    EXPECT_NE(printed.find("\n  " + pdf.string() + "  (" + std::to_string(maker.pageCount()) + " sivua)\n  " +
                           marks.string() + "  (22 iskua)\n\nKansio EI nay"),
              std::string::npos) << printed;

    // Every page carries the running header; the faces resolved to the serif family.
    DocumentStore store;
    const auto info = store.open(pdf);
    ASSERT_TRUE(info && maker.pageCount() >= 3);
    EXPECT_EQ(info->pageCount, maker.pageCount());
    for (int page = 0; page < info->pageCount; ++page)
        EXPECT_NE(store.pageText(page).find("Lantern at Skerrow Head"), std::string::npos) << page;
    // The page opens a script at a size reckoned from this crop (web/tests/layout.test.ts):
    // no wider than 360 pt of the 595, the 352 pt text column with the crop's margins.
    const double cropWidth = store.pageCrop(0).value_or(PageCrop{}).width * 595.0;
    EXPECT_TRUE(cropWidth >= 300 && cropWidth <= 360) << cropWidth;
    const std::string bytes = testing::readText(pdf);
    for (const char* face : {"LiberationSerif-Bold", "LiberationSerif-Italic"})
        EXPECT_NE(bytes.find(face), std::string::npos) << face;

    const auto sidecar = decodeSidecar(testing::readText(marks));
    ASSERT_TRUE(sidecar);
    EXPECT_EQ(sidecar->documentName, pdf.filename().string());
    ASSERT_EQ(sidecar->cues.size(), 22u);
    std::vector<Cue> ordered = sidecar->cues;
    std::stable_sort(ordered.begin(), ordered.end(), inScriptOrder);
    int withNotes = 0;
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        const Cue& cue = ordered[i];
        // Script order is the numbering: every trigger is found where the play calls it.
        EXPECT_EQ(cue.number, std::to_string(i + 1)) << cue.snippet;
        EXPECT_EQ(cue.id, "demo-" + cue.number);
        EXPECT_FALSE(cue.x == 0.12 && cue.y == 0.12) << cue.number;
        EXPECT_TRUE(cue.w > 0 && cue.h > 0 && cue.x + cue.w <= 1.0 && cue.labelX >= cue.x && cue.padL == -1) << cue.number;
        withNotes += cue.note.empty() ? 0 : 1;
    }
    EXPECT_EQ(withNotes, 10);
    EXPECT_EQ(demoCueID("1.5"), "demo-1-5");
    EXPECT_EQ(filesIn(folder), 2);

    // A second run, from the command line with "~", replaces both files and leaves nothing else behind.
    testing::writeText(marks, "not a marks file");
    const testing::HomeIn home(dir.path());
    const auto [status, printedAgain] = testing::runMode({"--make-demo", "~/nested/Demo"});
    EXPECT_EQ(status, 0) << printedAgain;
    EXPECT_EQ(decodeSidecar(testing::readText(marks)).value_or(CueSidecar{}).cues.size(), 22u);
    EXPECT_EQ(filesIn(folder), 2);
}

TEST(DemoScriptMakerTest, TriggersMissingFromTheScriptParkTheirCues) {
    TempDir dir;
    const std::filesystem::path pdf = dir / "other.pdf";
    testing::writePdf(pdf, {{595, 842, {{80, 100, "Interval."}}},  //
                            {595, 842, {{80, 300, "The radio crackles twice."}}}});
    testing::Printed out;
    const CueSidecar sidecar = DemoScriptMaker(out.file()).demoSidecar("other.pdf", pdf);
    ASSERT_EQ(sidecar.cues.size(), 22u);
    std::string expected = "  HUOM: liipaisutekstia ei loytynyt iskuille ";
    for (int number = 1; number <= 22; ++number)
        if (number != 12) expected += std::to_string(number) + (number == 22 ? "\n" : ", ");
    EXPECT_EQ(out.text(), expected);
    EXPECT_EQ(sidecar.cues[11].page, 1);
    EXPECT_GT(sidecar.cues[11].y, 0.2);
    const Cue& parked = sidecar.cues[0];
    EXPECT_EQ(std::tuple(parked.page, parked.x, parked.y, parked.w), std::tuple(0, 0.12, 0.12, 0.2));
}

TEST(MakeDemoModeTest, SaysWhyItCouldNotWrite) {
    using testing::runMode;
    TempDir dir;
    // A folder that cannot be made: a file stands where a parent should be.
    testing::writeText(dir / "file", "x");
    const auto [status, printed] = runMode({"--make-demo", (dir / "file/Demo").string()});
    EXPECT_TRUE(status == 1 && printed.starts_with("virhe: kansiota ei voitu luoda: ") &&
                printed.find('\n') == printed.size() - 1) << printed;

    // A script that cannot be written: a folder holds its name.
    std::filesystem::create_directories(dir / "Blocked/Lantern at Skerrow Head - rehearsal script.pdf/x");
    EXPECT_EQ(runMode({"--make-demo", (dir / "Blocked").string()}),
              std::pair(std::optional(1), std::string("virhe: PDF:n kirjoitus epaonnistui\n")));
    EXPECT_FALSE(std::filesystem::exists(dir / "Blocked/Lantern at Skerrow Head - rehearsal script.tallowmark"));
}

}  // namespace
}  // namespace tallowmark
