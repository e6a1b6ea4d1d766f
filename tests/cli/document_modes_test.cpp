#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "cli/command_line.hpp"
#include "core/json_helpers.hpp"
#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/config_home.hpp"
#include "support/mode_run.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::runMode;

using testing::FixturePage;
using testing::TempDir;

using testing::ConfigHome;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

bool matches(const std::string& line, const char* pattern) { return std::regex_match(line, std::regex(pattern)); }

class DocumentModesTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string pdf = (dir / "script.pdf").string();

    void SetUp() override {
        // Page 2 has no text; a page number sits alone at the foot of pages 1 and 3.
        const FixturePage text{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 56, "Second line here"}, {140, 370, "1"}}};
        FixturePage third = text;
        third.texts.back().text = "3";
        testing::writePdf(pdf, {text, {300, 400, {}}, third});
    }
};

TEST_F(DocumentModesTest, PageLines) {
    auto [status, output] = runMode({"--page-lines", pdf, "3"});
    EXPECT_EQ(status, 0);
    auto lines = linesOf(output);
    ASSERT_EQ(lines.size(), 4u) << output;
    EXPECT_EQ(lines[0], "sivu 3: 3 rivia");
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(matches(lines[i], R"(x \d\.\d{4}  y -?\d\.\d{4}  l \d\.\d{4}  k \d\.\d{4}  .+)")) << lines[i];
    // Each line's text after its numbers, top of the page first.
    EXPECT_TRUE(lines[1].ends_with("  Alpha beta gamma")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("  Second line here")) << lines[2];
    EXPECT_TRUE(lines[3].ends_with("  3")) << lines[3];
    // Without a page operand: page 1.
    EXPECT_TRUE(runMode({"--page-lines", pdf}).second.starts_with("sivu 1: 3 rivia\n"));
    EXPECT_EQ(runMode({"--page-lines", pdf, "4"}).first, 1);
}

TEST_F(DocumentModesTest, MaxTextDataAppliesAFourNumberCrop) {
    auto [status, output] = runMode({"--maxtext-data", pdf});
    EXPECT_EQ(status, 0);
    const auto data = parseJson(output);
    ASSERT_TRUE(data) << output;
    ASSERT_EQ((*data)["aspects"].size(), 3u);
    ASSERT_EQ((*data)["lines"].size(), 3u);
    EXPECT_EQ((*data)["lines"][0].size(), 3u);
    EXPECT_EQ((*data)["lines"][0][2][4], 1.0);  // the page number at the foot
    EXPECT_TRUE((*data)["lines"][1].empty());

    // The crop keeps the top half: the page numbers fall outside it.
    const auto cropped = parseJson(runMode({"--maxtext-data", pdf, "--maxtext-crop", "0,0,1,0.5"}).second);
    ASSERT_TRUE(cropped);
    EXPECT_GT((*cropped)["aspects"][0].get<double>(), (*data)["aspects"][0].get<double>());
    for (const char* notFour : {"0,0,1", "0,0,1,0.5,1", "0,x,1,0.5"}) {
        const auto whole = parseJson(runMode({"--maxtext-data", pdf, "--maxtext-crop", notFour}).second);
        ASSERT_TRUE(whole);
        EXPECT_EQ((*whole)["aspects"], (*data)["aspects"]) << notFour;
    }
}

TEST_F(DocumentModesTest, PageSizesFollowTheSavedPageNumberSetting) {
    std::filesystem::remove(ConfigHome::settingsFile());
    auto [status, output] = runMode({"--page-sizes", pdf});
    EXPECT_EQ(status, 0);
    const auto kept = parseJson(output);
    ASSERT_TRUE(kept && kept->is_array() && kept->size() == 3) << output;
    for (const auto& page : *kept) {
        ASSERT_EQ(page.size(), 3u);
        EXPECT_NEAR(page[0].get<double>() / page[1].get<double>(), page[2].get<double>(), 1e-9);
    }
    std::filesystem::create_directories(ConfigHome::settingsFile().parent_path());
    testing::writeText(ConfigHome::settingsFile(), R"({"dropPageNumbers": true})");
    const auto dropped = parseJson(runMode({"--page-sizes", pdf}).second);
    ASSERT_TRUE(dropped);
    // Without the foot numbers the crop ends under the text: a much lower page.
    EXPECT_LT((*dropped)[0][1].get<double>(), (*kept)[0][1].get<double>() / 4);
}

TEST_F(DocumentModesTest, LockLatencyReportsBothRuns) {
    auto [status, output] = runMode({"--lock-latency-test", pdf});
    EXPECT_EQ(status, 0);
    const auto lines = linesOf(output);
    ASSERT_EQ(lines.size(), 2u) << output;
    const char* shape = R"(: \d+ kyselya, mediaani \d+\.\d ms, 95 % \d+\.\d ms, max \d+\.\d ms, yli 33 ms: \d+)";
    EXPECT_TRUE(matches(lines[0], (std::string("ilman renderointia ") + shape).c_str())) << lines[0];
    EXPECT_TRUE(matches(lines[1], (std::string("renderointi taustalla") + shape).c_str())) << lines[1];
}

TEST_F(DocumentModesTest, SnapStatistics) {
    auto [status, output] = runMode({"--snap-test", pdf});
    EXPECT_EQ(status, 0);
    const auto lines = linesOf(output);
    ASSERT_EQ(lines.size(), 7u) << output;
    // Two taps on each of the six lines; every tapped box is the same band.
    EXPECT_TRUE(matches(lines[0], R"(12 napautusta  mediaani 0\.\d{5}  min 0\.\d{5}  max 0\.\d{5}  hajonta 0\.0 %  eri korkeuksia 1)"))
        << lines[0];
    EXPECT_TRUE(matches(lines[1], R"(\d+ vetoa sanan keskelta sanan keskelle  kokonaisiin sanoihin osui \d+ \(100 %\))"))
        << lines[1];
    EXPECT_TRUE(lines[2].find(" sanavalia  min ") != std::string::npos) << lines[2];
    EXPECT_TRUE(matches(lines[3], R"(6 vetoa yhden rivin yli  korkeus \d\.\d\d-\d\.\d\d rivia  naapuriin tarttui 0 \(0 %\))"))
        << lines[3];
    EXPECT_TRUE(lines[4].starts_with("tahallinen veto 1 rivivalia alas -> ")) << lines[4];
    EXPECT_TRUE(lines[6].starts_with("tahallinen veto 3 rivivalia alas -> ")) << lines[6];
}

TEST_F(DocumentModesTest, SnapAndLinesOnScriptLayouts) {
    // Name columns, a two-up spread and tight lines: whole-word drags and drags
    // down one and two lines of a column land exactly, and no line drag
    // catches a neighbour.
    const std::vector<std::pair<const char*, FixturePage>> scripts = {
        {"columns", testing::twoColumnScriptPage()}, {"spread", testing::spreadPage()}, {"tight", testing::tightSetPage()}};
    for (const auto& [name, page] : scripts) {
        SCOPED_TRACE(name);
        const std::string path = (dir / (std::string(name) + ".pdf")).string();
        testing::writePdf(path, {page});
        const auto lines = linesOf(runMode({"--snap-test", path}).second);
        ASSERT_EQ(lines.size(), 7u);
        EXPECT_TRUE(matches(lines[1], R"([1-9]\d* vetoa .* osui \d+ \(100 %\))")) << lines[1];
        EXPECT_TRUE(lines[3].ends_with("naapuriin tarttui 0 (0 %)")) << lines[3];
        EXPECT_TRUE(matches(lines[4], R"(tahallinen veto 1 rivivalia alas -> [1-9]\d* vetoa, \d+ rivia valittu oikein \(100 %\))"))
            << lines[4];
        EXPECT_TRUE(lines[5].ends_with("(100 %)")) << lines[5];
    }
    // Each line of the name column page reads on its own.
    const auto printed = linesOf(runMode({"--page-lines", (dir / "columns.pdf").string()}).second);
    ASSERT_GE(printed.size(), 3u);
    EXPECT_TRUE(printed[1].ends_with("  WARDEN")) << printed[1];
    EXPECT_TRUE(printed[2].ends_with("  Do not touch that.")) << printed[2];
    EXPECT_NE(std::find_if(printed.begin(), printed.end(), [](const std::string& l) { return l.ends_with("  vanha lautturi"); }),
              printed.end());
}

TEST_F(DocumentModesTest, TextBoxes) {
    auto [status, output] = runMode({"--text-box", pdf});
    EXPECT_EQ(status, 0);
    const auto lines = linesOf(output);
    ASSERT_EQ(lines.size(), 6u) << output;
    EXPECT_TRUE(matches(lines[0], R"(sivu  1  x 0\.100-0\.\d{3}  y 0\.100-0\.9\d\d  ala \d+\.\d %)")) << lines[0];
    EXPECT_EQ(lines[1], "ei tekstia sivulla 2");
    EXPECT_TRUE(lines[2].starts_with("sivu  3  x 0.100-")) << lines[2];
    EXPECT_EQ(lines[3], "");
    EXPECT_TRUE(matches(lines[4], R"(yhdiste  x 0\.100-0\.\d{3}  y 0\.100-0\.9\d\d  ala \d+\.\d %  teksti kasvaisi \d+ %)"))
        << lines[4];
    EXPECT_TRUE(matches(lines[5], R"(sivukohtainen rajaus antaisi kertoimet \d\.\d\d-\d\.\d\d \(ero 0 %\))")) << lines[5];
}

TEST_F(DocumentModesTest, PagelessScriptIsAnErrorInEveryModeThatWalksThePages) {
    const std::string empty = (dir / "empty.pdf").string();
    ASSERT_EQ(std::system(("qpdf --empty '" + empty + "'").c_str()), 0);  // a sound file whose page tree is empty
    // The file opens: the modes must not report statistics of nothing as a success.
    ASSERT_TRUE(DocumentStore().open(empty));
    for (const char* mode : {"--pdf-test", "--text-box", "--snap-test", "--lock-latency-test"}) {
        EXPECT_EQ(runMode({mode, empty}), std::pair(std::optional(1), std::string("virhe: PDF:ssa ei ole sivuja\n")))
            << mode;
    }
}

}  // namespace
}  // namespace tallowmark
