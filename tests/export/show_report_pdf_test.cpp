#include "export/show_report_pdf.hpp"

#include <glib.h>
#include <gtest/gtest.h>
#include <poppler.h>

#include <cmath>
#include <memory>
#include <vector>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;

// Noon UTC on Tuesday 8 December 2026: the same day in every time zone the
// tests may run in.
constexpr std::int64_t tuesdayNoonMs = 1796731200000;

// GOs at `at` seconds after `startMs`; a pause longer than `intervalSeconds`
// begins a new act, as the report log's reading does.
Performance performance(std::int64_t startMs, const std::vector<double>& at, double intervalSeconds) {
    Performance p;
    for (std::size_t i = 0; i < at.size(); ++i) {
        const std::int64_t wall = startMs + std::llround(at[i] * 1000);
        if (i == 0 || at[i] - at[i - 1] > intervalSeconds) {
            if (i > 0) p.intervals.push_back({p.acts.back().endWallMs, wall, at[i] - at[i - 1], 0});
            p.acts.push_back({wall, wall, 0, 0});
        }
        ReportSpan& act = p.acts.back();
        act.endWallMs = wall;
        act.seconds = double(wall - act.startWallMs) / 1000;
        ++act.goCount;
        const double held = i + 1 < at.size() ? at[i + 1] - at[i] : 0;
        p.cues.push_back({std::to_string(i + 1), "Cue " + std::to_string(i + 1), "lights", "key", wall, at[i], held,
                          int(p.acts.size()) - 1});
    }
    p.startWallMs = startMs + std::llround(at.front() * 1000);
    p.endWallMs = startMs + std::llround(at.back() * 1000);
    p.runningSeconds = at.back() - at.front();
    return p;
}

std::string localClock(std::int64_t wallMs) {
    GDateTime* time = g_date_time_new_from_unix_local(wallMs / 1000);
    gchar* text = g_date_time_format(time, "%H:%M:%S");
    std::string out = text;
    g_free(text);
    g_date_time_unref(time);
    return out;
}

struct Printed {
    int pages = -1;
    std::vector<std::string> text;
};

Printed readBack(const std::filesystem::path& path) {
    Printed printed;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    PopplerDocument* document = poppler_document_new_from_file(uri, nullptr, nullptr);
    g_free(uri);
    if (!document) return printed;
    printed.pages = poppler_document_get_n_pages(document);
    for (int i = 0; i < printed.pages; ++i) {
        PopplerPage* page = poppler_document_get_page(document, i);
        gchar* text = poppler_page_get_text(page);
        printed.text.emplace_back(text ? text : "");
        g_free(text);
        g_object_unref(page);
    }
    g_object_unref(document);
    return printed;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ShowReportPdf, OnePagePerPerformanceWithActsIntervalAndCues) {
    TempDir dir;
    // Act 1 of an hour and nine minutes, 21:30 of interval, a short act 2.
    std::vector<double> at;
    for (int i = 0; i <= 100; ++i) at.push_back(i * 41.45);
    for (int i = 0; i < 40; ++i) at.push_back(4145 + 1290 + i * 30);
    Performance evening = performance(tuesdayNoonMs, at, 600);
    evening.cues[11].number = "12.5";
    evening.cues[11].label = "Lights up on the garden";
    evening.backs = 3;
    const Performance single = performance(tuesdayNoonMs + 86'400'000, {0}, 600);
    ASSERT_EQ(evening.acts.size(), 2u);

    const std::vector<Performance> both{evening, single};
    std::string why;
    ASSERT_TRUE(writeShowReportPDF(both, "Midsummer.pdf", 10, dir / "report.pdf", &why)) << why;
    const Printed printed = readBack(dir / "report.pdf");
    ASSERT_EQ(printed.pages, 2);

    const std::string& first = printed.text[0];
    for (const std::string& part : std::vector<std::string>{
             "Midsummer.pdf", "Performance 1 of 2", "Tuesday 8 December 2026", "running time 1:50:05", "Act 2",
             "Interval", "0:21:30", "12.5", "Lights up on the garden", "101 cues", "GOs ignored by the guard",
             localClock(tuesdayNoonMs) + "\u2013" + localClock(tuesdayNoonMs + 4'145'000)})
        EXPECT_TRUE(has(first, part)) << part << "\n" << first;
    EXPECT_FALSE(has(first, "more cues"));
    EXPECT_FALSE(has(first, "Resumed after a crash"));

    const std::string& second = printed.text[1];
    for (const std::string& part :
         std::vector<std::string>{"Performance 2 of 2", "Wednesday 9 December 2026", "running time 0:00:00", "Cue 1",
                                  localClock(tuesdayNoonMs + 86'400'000)})
        EXPECT_TRUE(has(second, part)) << part << "\n" << second;
    EXPECT_FALSE(has(second, "Interval"));
}

// Large performances still make one page, quickly, and say what was left out.
TEST(ShowReportPdf, LargePerformancesStayOnOnePage) {
    std::vector<double> steady, scattered;
    for (int i = 0; i < 20'000; ++i) {
        steady.push_back(i * 1.5);
        scattered.push_back(i * 700.0);  // every GO its own act
    }
    Performance resumed = performance(tuesdayNoonMs, steady, 600);
    resumed.resumed = true;
    const struct {
        const char* name;
        Performance performance;
        const char* expected;
    } cases[] = {
        {"twenty thousand cues", resumed, "Resumed after a crash"},
        {"twenty thousand acts", performance(tuesdayNoonMs, scattered, 600), "more acts and intervals"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string why;
        ASSERT_TRUE(writeShowReportPDF({&c.performance, 1}, "Big", 10, dir / "big.pdf", &why)) << why;
        const Printed printed = readBack(dir / "big.pdf");
        ASSERT_EQ(printed.pages, 1);
        const std::string& text = printed.text[0];
        EXPECT_TRUE(has(text, "Cue 1\n") || has(text, "Cue 1 ")) << text;
        EXPECT_FALSE(has(text, "Cue 20000"));
        EXPECT_TRUE(has(text, "more cues \u2014 the CSV export has every cue")) << text;
        EXPECT_TRUE(has(text, c.expected));
        EXPECT_LT(std::filesystem::file_size(dir / "big.pdf"), 1u << 20);
    }
}

TEST(ShowReportPdf, HostileLabelIsPlainTextCutShort) {
    TempDir dir;
    Performance p = performance(tuesdayNoonMs, {0, 5, 9}, 600);
    p.cues[1].label = "<b>&amp;" + std::string(100'000, 'x') + "\n\xff\xfe";
    const std::string hostileName = "<i>Script" + std::string(100'000, 'y');
    std::string why;
    ASSERT_TRUE(writeShowReportPDF({&p, 1}, hostileName, 10, dir / "r.pdf", &why)) << why;
    const Printed printed = readBack(dir / "r.pdf");
    ASSERT_EQ(printed.pages, 1);
    const std::string& text = printed.text[0];
    EXPECT_TRUE(has(text, "<b>&amp;x")) << text;
    EXPECT_TRUE(has(text, "<i>Script"));
    EXPECT_TRUE(has(text, "Cue 3"));
    EXPECT_FALSE(has(text, std::string(200, 'x')));
    EXPECT_LT(text.size(), 20'000u);
}

TEST(ShowReportPdf, RefusalsLeaveNothing) {
    const Performance one = performance(tuesdayNoonMs, {0, 1}, 600);
    const std::vector<Performance> none, tooMany(maxReportPages + 1, one);
    const struct {
        const char* name;
        std::span<const Performance> performances;
        std::string file;
        std::string why;
    } cases[] = {
        {"no performances", none, "r.pdf", "No performances to print"},
        {"too many pages", tooMany, "r.pdf", "Too many performances"},
        {"missing folder", {&one, 1}, "missing/r.pdf", "Could not write r.pdf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string why;
        EXPECT_FALSE(writeShowReportPDF(c.performances, "S", 10, dir / c.file, &why));
        EXPECT_TRUE(has(why, c.why)) << why;
        EXPECT_EQ(dir.entries(), 0);
    }
}

}  // namespace
}  // namespace tallowmark
