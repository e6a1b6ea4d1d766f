#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "core/json_helpers.hpp"
#include "document/document_store.hpp"
#include "support/config_home.hpp"
#include "support/mode_run.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::ConfigHome;
using testing::FixturePage;
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

// Each report line by line, as a pattern the whole line must match.
TEST_F(DocumentModesTest, ReportsPrintTheirLinesInShape) {
    const auto line = [](const char* text) {
        return std::string(R"(x \d\.\d{4}  y -?\d\.\d{4}  l \d\.\d{4}  k \d\.\d{4}  )") + text;
    };
    const std::string latency =
        R"(: \d+ kyselya, mediaani \d+\.\d ms, 95 % \d+\.\d ms, max \d+\.\d ms, yli 33 ms: \d+)";
    const std::pair<std::vector<std::string>, std::vector<std::string>> rows[] = {
        // Each line's text after its numbers, top of the page first; without a page operand, page 1.
        {{"--page-lines", pdf, "3"},
         {"sivu 3: 3 rivia", line("Alpha beta gamma"), line("Second line here"), line("3")}},
        {{"--page-lines", pdf}, {"sivu 1: 3 rivia", line("Alpha beta gamma"), line("Second line here"), line("1")}},
        {{"--lock-latency-test", pdf}, {"ilman renderointia " + latency, "renderointi taustalla" + latency}},
        // Two taps on each of the six lines; every tapped box is the same band.
        {{"--snap-test", pdf},
         {R"(12 napautusta  mediaani 0\.\d{5}  min 0\.\d{5}  max 0\.\d{5}  hajonta 0\.0 %  eri korkeuksia 1)",
          R"(\d+ vetoa sanan keskelta sanan keskelle  kokonaisiin sanoihin osui \d+ \(100 %\))", ".* sanavalia  min .*",
          R"(6 vetoa yhden rivin yli  korkeus \d\.\d\d-\d\.\d\d rivia  naapuriin tarttui 0 \(0 %\))",
          "tahallinen veto 1 rivivalia alas -> .*", ".*", "tahallinen veto 3 rivivalia alas -> .*"}},
        {{"--text-box", pdf},
         {R"(sivu  1  x 0\.100-0\.\d{3}  y 0\.100-0\.9\d\d  ala \d+\.\d %)", "ei tekstia sivulla 2",
          R"(sivu  3  x 0\.100-.*)", "",
          R"(yhdiste  x 0\.100-0\.\d{3}  y 0\.100-0\.9\d\d  ala \d+\.\d %  teksti kasvaisi \d+ %)",
          R"(sivukohtainen rajaus antaisi kertoimet \d\.\d\d-\d\.\d\d \(ero 0 %\))"}},
    };
    for (const auto& [arguments, patterns] : rows) {
        SCOPED_TRACE(arguments[0]);
        const auto [status, output] = runMode(arguments);
        EXPECT_EQ(status, 0);
        const auto lines = linesOf(output);
        ASSERT_EQ(lines.size(), patterns.size()) << output;
        for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_TRUE(matches(lines[i], patterns[i].c_str())) << lines[i];
    }
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

}  // namespace
}  // namespace tallowmark
