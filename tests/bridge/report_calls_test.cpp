// The show report through the page's calls: what the engine recorded, as the
// sheet reads it and as it is exported.

#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

using testing::readText;
namespace fs = std::filesystem;

class ReportCallsTest : public testing::BridgeFixture {
protected:
    void SetUp() override { bridge->setDialogs(dialogs); }

    fs::path openWithCues() {
        const fs::path pdf = script();
        EXPECT_TRUE(open(pdf).value.is_object());
        for (const char* n : {"1", "2", "3"})
            call("upsertCue", Json::array({{{"id", std::string("Q") + n}, {"number", n}, {"label", "Cue " + std::string(n)}}}));
        return pdf;
    }
};

TEST_F(ReportCallsTest, TheSheetGetsThePerformancesNewestFirst) {
    EXPECT_EQ(call("showReport").error, "no open script");
    openWithCues();
    for (const char* run : {"go", "go", "back", "go", "go", "reset", "go"}) call(run);

    const Json report = call("showReport").value;
    ASSERT_EQ(report["performances"].size(), 2u) << report.dump();
    const Json& newest = report["performances"][0];
    const Json& first = report["performances"][1];
    EXPECT_EQ(newest["cueCount"], 1);
    EXPECT_EQ(first["cueCount"], 4);
    EXPECT_EQ(first["backs"], 1);
    EXPECT_EQ(first["acts"].size(), 1u);
    // The cues go with the performance shown: the newest, or the one asked for by its place.
    EXPECT_EQ(newest["cues"].size(), 1u);
    EXPECT_FALSE(first.contains("cues"));
    const Json asked = call("showReport", Json::array({1})).value["performances"];
    EXPECT_FALSE(asked[0].contains("cues"));
    ASSERT_EQ(asked[1]["cues"].size(), 4u);
    EXPECT_EQ(asked[1]["cues"][2]["number"], "2");  // BACK put 2 in standby again
    EXPECT_EQ(asked[1]["cues"][3]["label"], "Cue 3");
    EXPECT_EQ(report["script"], "Show");

    // Locked, the show still reports: reading is not editing.
    call("setShowLocked", Json::array({true}));
    EXPECT_EQ(call("showReport").value["performances"].size(), 2u);
}

TEST_F(ReportCallsTest, ExportsWriteCsvAndPagesButNeverTheScriptsOwnFiles) {
    const fs::path pdf = openWithCues();
    call("go");
    call("go");
    const std::string before = readText(pdf);

    EXPECT_EQ(call("exportShowReport", Json::array({"xls"})).value, false);
    dialogs->chosen.reset();
    EXPECT_EQ(call("exportShowReport", Json::array({"csv"})).value, false);  // cancelled

    dialogs->chosen = (dir / "report").string();
    EXPECT_EQ(call("exportShowReport", Json::array({"csv"})).value, true);
    const std::string csv = readText(dir / "report.csv");
    EXPECT_NE(csv.find("Cue 2"), std::string::npos) << csv;

    dialogs->chosen = (dir / "report.pdf").string();
    EXPECT_EQ(call("exportShowReport", Json::array({"pdf"})).value, true);
    EXPECT_EQ(readText(dir / "report.pdf").substr(0, 5), "%PDF-");

    // The script chosen for the printed report is refused; a marks file chosen
    // for the CSV gets the CSV's own extension and stays as it was.
    const std::string marks = readText(dir / "Show.tallowmark");
    dialogs->chosen = pdf.string();
    EXPECT_EQ(call("exportShowReport", Json::array({"pdf"})).error,
              "That is the script itself - choose a new name or folder");
    dialogs->chosen = (dir / "Show.tallowmark").string();
    EXPECT_EQ(call("exportShowReport", Json::array({"csv"})).value, true);
    EXPECT_EQ(readText(dir / "Show.tallowmark"), marks);
    EXPECT_NE(readText(dir / "Show.tallowmark.csv").find("Cue 1"), std::string::npos);
    EXPECT_EQ(readText(pdf), before);
}

}  // namespace
}  // namespace tallowmark
