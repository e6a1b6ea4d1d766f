#include "app/model/picker_model.hpp"

#include <gtest/gtest.h>
#include <sys/time.h>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;
using testing::writeText;

void setModificationTime(const std::filesystem::path& path, std::int64_t seconds) {
    const timeval times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

TEST(PickerModel, LastWorkedTextInBritishEnglishByCalendarDayOfTheZone) {
    // Helsinki, just after midnight on the night clocks went forward (EET -> EEST).
    const std::int64_t now = 1774819800;  // 2026-03-30 00:30 local, 2026-03-29 21:30 UTC
    const char* const fi = "Europe/Helsinki";
    struct Case { std::int64_t when; const char* zone; const char* text; } cases[] = {
        {1774818300, fi, "Today 00:05"},
        {1774817400, fi, "Yesterday"}, {1774817400, "UTC", "Today 20:50"},  // same UTC day, yesterday in Helsinki
        {1774734600, fi, "28 Mar"},     // under 24 hours ago, yet two calendar days back
        {1774744200, fi, "Yesterday"},  // before the clock change on the previous day
        {1767607200, fi, "5 Jan"}, {1798747200, fi, "31 Dec"},  // later this year: a clock set wrong
        {1757221200, fi, "7 Sept 25"}, {1233648000, fi, "3 Feb 09"}, {1233648000, "+02:00", "3 Feb 09"},
    };
    for (const auto& c : cases) EXPECT_EQ(lastWorkedText(c.when, now, c.zone), c.text) << c.when << " " << c.zone;

    // Across the new year "Yesterday" wins over the year form.
    EXPECT_EQ(lastWorkedText(1767196800, 1767250800, fi), "Yesterday");
    EXPECT_EQ(lastWorkedText(1767196800 - 86400, 1767250800, fi), "30 Dec 25");
}

TEST(PickerModel, LastWorkedIsTheMarksFileWhenThereIsOneElseThePdf) {
    TempDir dir;
    const auto pdf = dir / "Show.pdf";
    const auto marks = dir / "Show.tallowmark";
    writeText(pdf, "%PDF-1.4");
    setModificationTime(pdf, 1000000000);
    EXPECT_EQ(lastWorkedTime(pdf), 1000000000);

    // Marks edited today, PDF older: the marks win, even when older than the PDF.
    writeText(marks, "{}");
    for (const std::int64_t when : {1774818300, 900000000}) {
        setModificationTime(marks, when);
        EXPECT_EQ(lastWorkedTime(pdf), when);
    }

    // A folder named like the marks file is not one.
    const auto odd = dir / "Odd.pdf";
    writeText(odd, "%PDF-1.4");
    setModificationTime(odd, 1100000000);
    std::filesystem::create_directory(dir / "Odd.tallowmark");
    EXPECT_EQ(lastWorkedTime(odd), 1100000000);

    EXPECT_EQ(lastWorkedTime(dir / "Gone.pdf"), std::nullopt);

    const auto rows = recentRows({pdf.string(), (dir / "Gone.pdf").string()}, 1774819800, "Europe/Helsinki");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::tie(rows[0].name, rows[0].detail, rows[1].name, rows[1].detail),
              std::tie("Show.pdf", "9 Jul 98", "Gone.pdf", ""));
}

TEST(PickerModel, FilterTrimsLowerCasesAndMatchesWithin) {
    const char* const hamlet = "Hamlet Act 2.pdf";
    struct Case { const char* name; const char* filter; bool kept; } cases[] = {
        {hamlet, "", true}, {hamlet, "   ", true}, {hamlet, "  hAMLET ", true}, {hamlet, "\tact 2\n", true},
        {hamlet, "act  2", false}, {hamlet, "macbeth", false},
        {"ÄÄNIKIRJA.pdf", "ääni", true},  // not only ASCII letters change case
        {"Ooppera.pdf", "\u00a0oop\u2003", true},  // no-break and em spaces are white space too
    };
    for (const auto& c : cases) EXPECT_EQ(filterMatches(c.name, c.filter), c.kept) << c.name << " / " << c.filter;
}

TEST(PickerModel, VisibleRowsFollowFilterAndCollapsedLimit) {
    std::vector<RecentRow> rows;
    for (int i = 0; i < 14; ++i) rows.push_back({"/s/" + std::to_string(i), (i % 2 ? "Act " : "Scene ") + std::to_string(i), ""});
    EXPECT_EQ(visibleRows(rows, "", true, 10).size(), 10u);
    EXPECT_EQ(visibleRows(rows, "", false, 10).size(), 14u);
    // The filter looks through all recent scripts, not only the ten shown.
    EXPECT_EQ(visibleRows(rows, " ACT", true, 3), (std::vector<std::size_t>{1, 3, 5}));
    EXPECT_EQ(visibleRows(rows, "scene 12", true, 10), (std::vector<std::size_t>{12}));
    EXPECT_TRUE(visibleRows({}, "", true, 10).empty());

    EXPECT_EQ(withoutRecent({"/a.pdf", "/b.pdf", "/a.pdf"}, "/a.pdf"), (std::vector<std::string>{"/b.pdf"}));
}

TEST(PickerModel, BuildLineAndThemeColours) {
    for (const char* none : {"", "0"}) EXPECT_EQ(buildLine(none), "DEVELOPMENT BUILD") << none;
    EXPECT_EQ(buildLine("202612061850"), "BUILD 202612061850");
    EXPECT_NE(pickerColours("light").panel, pickerColours("deep").panel);
    EXPECT_EQ(pickerColours("nonsense").panel, pickerColours("deep").panel);
}

}  // namespace
}  // namespace tallowmark
