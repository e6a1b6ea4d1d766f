#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "core/json_helpers.hpp"
#include "document/document_store.hpp"
#include "support/config_home.hpp"
#include "support/mode_run.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/scan_fixtures.hpp"
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
    const std::string pdf = dir / "script.pdf", lined = dir / "lined.pdf", png = dir / "p.png";

    void SetUp() override {
        testing::writePdf(pdf, {{300, 400, {{30, 40, "Alpha beta"}}}, {400, 300, {{30, 40, "Gamma"}}}});
        // Page 2 has no text; a page number sits alone at the foot of pages 1 and 3.
        const FixturePage text{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 56, "Second line here"}, {140, 370, "1"}}};
        FixturePage third = text;
        third.texts.back().text = "3";
        testing::writePdf(lined, {text, {300, 400, {}}, third});
    }
};
using DocumentModesTest = CommandLineTest;

// The first switch in the mode table that has its operands runs; one without them is passed over, and with none left
// the program starts (no status).
TEST_F(CommandLineTest, TheEarlierSwitchInTheTableWinsAndOneWithoutOperandsIsPassedOver) {
    for (const auto& alone : std::vector<std::vector<std::string>>{{"--render-page", pdf, "2"}, {"--pdf-test"},
             {"--open", pdf}, {"--page-lines"}, {"--maxtext-data"}, {"--page-sizes"}, {"--lock-latency-test"},
             {"--snap-test"}, {"--text-box"}}) {
        EXPECT_EQ(runMode(alone), std::pair(std::optional<int>(), std::string())) << alone[0];
    }
    const std::string other = (dir / "Other").string();
    const std::tuple<std::vector<std::string>, std::string, bool> rows[] = {  // arguments, printed, PNG written
        {{"--render-page", pdf, "1", png, "--pdf-test", pdf, "50"}, "renderointileveys:  50\n", false},
        {{"--text-box", pdf, "--page-lines"}, "sivu  1  x", false},
        {{"--text-box", pdf, "--page-lines", pdf}, "sivu 1: 1 rivia", false},
        {{"--render-page", pdf, "1", png, "--snap-test", pdf}, "napautusta", false},
        {{"--export-marked", "--page-lines", pdf}, "sivu 1: 1 rivia", false},
        {{"--make-demo", other, "--render-page", pdf, "1", png, "100"}, "sivu 1, kuvasuhde", true},
    };
    for (const auto& [arguments, printed, writesPng] : rows) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto [status, output] = runMode(arguments);
        EXPECT_EQ(status, 0);
        EXPECT_NE(output.find(printed), std::string::npos) << output;
        EXPECT_EQ(std::filesystem::remove(png), writesPng);
    }
    EXPECT_FALSE(std::filesystem::exists(other));
}

// Every mode that reads the script exits 1 when it is not a PDF; so does a page beyond the script, and a sound file
// whose page tree is empty in every mode that walks the pages: statistics of nothing are no success.
TEST_F(CommandLineTest, AnUnreadablePdfOrPageExitsOneInEveryMode) {
    const std::string bad = (dir / "bad.pdf").string(), empty = (dir / "empty.pdf").string();
    testing::writeText(bad, "not a pdf");
    ASSERT_EQ(std::system(("qpdf --empty '" + empty + "'").c_str()), 0);
    ASSERT_TRUE(DocumentStore().open(empty));
    const std::string pageless = "virhe: PDF:ssa ei ole sivuja\n", unopened = "virhe: PDF:aa ei voitu avata\n";
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--render-page", bad, "1", png}, unopened}, {{"--page-lines", bad}, unopened},
        {{"--text-box", bad}, "PDF ei aukea\n"}, {{"--pdf-test", bad}, ""}, {{"--maxtext-data", bad}, ""},
        {{"--page-sizes", bad}, ""}, {{"--lock-latency-test", bad}, ""}, {{"--snap-test", bad}, ""},
        {{"--render-page", pdf, "9", png}, "virhe: renderointi epaonnistui\n"},
        {{"--page-lines", pdf, "3"}, "virhe: sivua 3 ei ole (2 sivua)\n"},
        {{"--pdf-test", empty}, pageless}, {{"--text-box", empty}, pageless},
        {{"--snap-test", empty}, pageless}, {{"--lock-latency-test", empty}, pageless},
    };
    for (const auto& [arguments, printed] : rows) {
        const auto [status, output] = runMode(arguments);
        EXPECT_EQ(status, 1) << arguments[0];
        EXPECT_TRUE(printed.empty() || output == printed) << arguments[0] << ": " << output;
    }
    EXPECT_FALSE(std::filesystem::exists(png));
}

// A page operand below 1 or not a number is page 1; a width that is no number is the default.
TEST_F(CommandLineTest, RenderPageOperands) {
    const auto info = DocumentStore().open(pdf);
    ASSERT_TRUE(info);
    const std::tuple<const char*, const char*, int, int> rows[] = {  // page, width, page drawn, PNG width
        {"0", "120", 1, 120}, {"-3", "120", 1, 120}, {"abc", "120", 1, 120}, {"2", "x", 2, 1600}, {"2", "", 2, 1600},
    };
    for (const auto& [page, width, drawn, pixels] : rows) {
        SCOPED_TRACE(::testing::Message() << page << " " << width);
        std::vector<std::string> arguments{"--render-page", pdf, page, png, width};
        if (!*width) arguments.pop_back();
        const auto [status, output] = runMode(arguments);
        EXPECT_EQ(status, 0);
        char expected[64];
        std::snprintf(expected, sizeof expected, "sivu %d, kuvasuhde %.4f\n", drawn, info->aspects[drawn - 1]);
        EXPECT_TRUE(output.starts_with(expected + ("kirjoitettu: " + png + " ("))) << output;
        const std::string bytes = testing::readText(png);
        EXPECT_EQ(testing::decodePng({bytes.begin(), bytes.end()}).width, pixels);
    }
}

// Each report line by line, as a pattern the whole line must match (a dot never takes a line break).
TEST_F(DocumentModesTest, ReportsPrintTheirLinesInShape) {
    const auto line = [](const char* text) {
        return std::string(R"(x \d\.\d{4}  y -?\d\.\d{4}  l \d\.\d{4}  k \d\.\d{4}  )") + text;
    };
    const std::string latency =
        R"(: \d+ kyselya, mediaani \d+\.\d ms, 95 % \d+\.\d ms, max \d+\.\d ms, yli 33 ms: \d+)";
    const std::string rendered = R"(sivu +[123] +\d+\.\d ms +\d+\.\d kB PNG +\d+\.\d kB base64)";
    const std::string drags = R"(\d+ vetoa sanan keskelta sanan keskelle  kokonaisiin sanoihin osui \d+ \(100 %\))";
    const std::string oneLine =
        R"(6 vetoa yhden rivin yli  korkeus \d\.\d\d-\d\.\d\d rivia  naapuriin tarttui 0 \(0 %\))";
    const std::pair<std::vector<std::string>, std::vector<std::string>> rows[] = {
        // Each line's text after its numbers, top of the page first; without a page operand, page 1.
        {{"--page-lines", lined, "3"},
         {"sivu 3: 3 rivia", line("Alpha beta gamma"), line("Second line here"), line("3")}},
        {{"--page-lines", lined}, {"sivu 1: 3 rivia", line("Alpha beta gamma"), line("Second line here"), line("1")}},
        {{"--lock-latency-test", lined}, {"ilman renderointia " + latency, "renderointi taustalla" + latency}},
        {{"--pdf-test", lined, "200"},
         {R"(avaus \+ geometria: +\d+\.\d ms  3 sivua)", "renderointileveys:  200", rendered, rendered, rendered,
          R"(keskiarvo: +\d+\.\d ms/sivu)", R"(hitain: +\d+\.\d ms  \(sivu [123]\))", R"(keskikoko: +\d+\.\d kB PNG)",
          R"(valimuistista: +\d+\.\d{3} ms/sivu  \(\d+x nopeampi\))",
          R"(OK - sivunvaihto pysyy 100 ms budjetissa \(\d+ % kaytossa\)|HUOM - keskiarvo ylittaa 100 ms .*)",
          R"(nayttokuva: +\d+\.\d ms/sivu +\d+\.\d kB)"}},
        // With rounds, each page's CPU time and the medians besides.
        {{"--pdf-test", lined, "200", "2"},
         {R"(avaus \+ geometria: +\d+\.\d ms  3 sivua)", "renderointileveys:  200",
          R"(kierroksia: +2  \(valimuisti tyhjana joka kierroksella\))", rendered + R"(  suoritin +\d+\.\d ms)",
          rendered + R"(  suoritin +\d+\.\d ms)", rendered + R"(  suoritin +\d+\.\d ms)",
          R"(keskiarvo: +\d+\.\d ms/sivu)", R"(hitain: +\d+\.\d ms  \(sivu [123]\))", R"(keskikoko: +\d+\.\d kB PNG)",
          R"(suoritinaika: +\d+\.\d ms/sivu mediaani  \(piirto \+ pakkaus, +\d+\.\d ms suurin\))",
          R"(seinakelloaika: +\d+\.\d ms/sivu mediaani)", R"(valimuistista: +\d+\.\d{3} ms/sivu  \(\d+x nopeampi\))",
          R"(OK - sivunvaihto pysyy 100 ms budjetissa \(\d+ % kaytossa\)|HUOM - keskiarvo ylittaa 100 ms .*)",
          R"(nayttokuva: +\d+\.\d ms/sivu +\d+\.\d kB)"}},
        // Two taps on each of the six lines; every tapped box is the same band.
        {{"--snap-test", lined},
         {R"(12 napautusta  mediaani 0\.\d{5}  min 0\.\d{5}  max 0\.\d{5}  hajonta 0\.0 %  eri korkeuksia 1)", drags,
          ".* sanavalia  min .*", oneLine, "tahallinen veto 1 rivivalia alas -> .*", ".*",
          "tahallinen veto 3 rivivalia alas -> .*"}},
        {{"--text-box", lined},
         {R"(sivu  1  x 0\.100-0\.\d{3}  y 0\.100-0\.9\d\d  ala \d+\.\d %)", "ei tekstia sivulla 2",
          R"(sivu  3  x 0\.100-.*)", "",
          R"(yhdiste  x 0\.100-0\.\d{3}  y 0\.100-0\.9\d\d  ala \d+\.\d %  teksti kasvaisi \d+ %)",
          R"(sivukohtainen rajaus antaisi kertoimet \d\.\d\d-\d\.\d\d \(ero 0 %\))"}},
    };
    for (const auto& [arguments, patterns] : rows) {
        SCOPED_TRACE(arguments[0] + " " + arguments[1]);
        const auto [status, output] = runMode(arguments);
        EXPECT_EQ(status, 0);
        std::string whole;
        for (const std::string& line : patterns) whole += "(?:" + line + ")\n";
        EXPECT_TRUE(std::regex_match(output, std::regex(whole))) << output;
    }
}

TEST_F(DocumentModesTest, MaxTextDataAppliesAFourNumberCropAndPageSizesFollowTheSavedSetting) {
    const auto data = parseJson(runMode({"--maxtext-data", lined}).second);
    ASSERT_TRUE(data && (*data)["aspects"].size() == 3 && (*data)["lines"].size() == 3);
    EXPECT_EQ((*data)["lines"][0][2][4], 1.0);  // the page number at the foot
    // The crop keeps the top half: the page numbers fall outside it.
    const auto cropped = parseJson(runMode({"--maxtext-data", lined, "--maxtext-crop", "0,0,1,0.5"}).second);
    ASSERT_TRUE(cropped);
    EXPECT_GT((*cropped)["aspects"][0].get<double>(), (*data)["aspects"][0].get<double>());

    std::filesystem::remove(ConfigHome::settingsFile());
    const auto kept = parseJson(runMode({"--page-sizes", lined}).second);
    ASSERT_TRUE(kept && kept->is_array() && kept->size() == 3);
    for (const Json& page : *kept) EXPECT_NEAR(page.at(0).get<double>() / page.at(1).get<double>(), page.at(2), 1e-9);
    std::filesystem::create_directories(ConfigHome::folder());
    testing::writeText(ConfigHome::settingsFile(), R"({"dropPageNumbers": true})");
    const auto dropped = parseJson(runMode({"--page-sizes", lined}).second);
    ASSERT_TRUE(dropped);
    // Without the foot numbers the crop ends under the text: a much lower page.
    EXPECT_LT((*dropped)[0][1].get<double>(), (*kept)[0][1].get<double>() / 4);
}

// A scanned page has the words recognition reads, in the lines and the search, unless told not to; a language
// that is not installed is an error line.
TEST_F(DocumentModesTest, ScannedPagesAreReadAsTheProgramReadsThem) {
    testing::writePdf(dir / "play.pdf", {testing::playPage()});
    testing::Scan scan{dir / "scan.pdf", 150};
    testing::scanPdf(dir / "play.pdf", scan);
    const std::string scanned = scan.pdf.string();
    const auto [status, lines] = runMode({"--page-lines", scanned});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(lines.find("Your father knew the river.") != std::string::npos) << lines;
    EXPECT_EQ(runMode({"--page-lines", scanned, "--no-ocr"}).second, "sivu 1: 0 rivia\n");
    // As many hits as on the printed page, each on page 1.
    const auto hits = [](const std::string& output) {
        std::smatch count;
        return std::regex_search(output, count, std::regex(": (\\d+) osumaa\n")) ? std::stoi(count[1]) : -1;
    };
    const std::string read = runMode({"--search", scanned, "warden"}).second;
    EXPECT_EQ(hits(read), hits(runMode({"--search", (dir / "play.pdf").string(), "WARDEN"}).second));
    EXPECT_GT(hits(read), 0);
    EXPECT_NE(read.find("osumaa\nsivu 1  x "), std::string::npos) << read;
    EXPECT_EQ(runMode({"--search", scanned, "W"}),
              std::pair(std::optional(1), std::string("virhe: haettavassa tekstissa pitaa olla vahintaan kaksi merkkia\n")));

    std::filesystem::create_directories(ConfigHome::folder());
    testing::writeText(ConfigHome::settingsFile(), R"({"ocrLanguages": "eng+zzz"})");
    const auto [missing, why] = runMode({"--search", scanned, "WARDEN"});
    std::filesystem::remove(ConfigHome::settingsFile());
    EXPECT_EQ(missing, 1);
    EXPECT_TRUE(why.starts_with("virhe: skannattuja sivuja ei voi lukea: ") && why.find("zzz") != std::string::npos)
        << why;
}

}  // namespace
}  // namespace tallowmark
