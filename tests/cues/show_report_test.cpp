#include "cues/show_report.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using Kind = ReportEntry::Kind;
namespace fs = std::filesystem;

// An entry `minutes` into the show of launch "a" (steady and wall clocks agree).
ReportEntry at(Kind kind, double minutes, std::string number = {}, std::string launch = "a") {
    ReportEntry e;
    e.kind = kind;
    e.wallMs = 1'700'000'000'000 + static_cast<std::int64_t>(minutes * 60'000);
    e.monoUs = static_cast<std::int64_t>(minutes * 60'000'000);
    e.launch = std::move(launch);
    e.source = "key";
    e.number = std::move(number);
    return e;
}

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ShowReport, LinesRoundTripAndForeignOrTornLinesAreSkipped) {
    ReportEntry e = at(Kind::ignored, 3, "12");
    e.label = std::string(100'000, 'x') + "<b>&";
    e.type = "LX";
    e.sinceMs = 140;
    const std::string line = encodeEntry(e);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_LT(line.size(), 600u) << "a hostile label is cut";
    const auto back = decodeEntry(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, Kind::ignored);
    EXPECT_EQ(back->sinceMs, 140);
    EXPECT_EQ(back->number, "12");
    EXPECT_EQ(back->label.substr(0, 10), std::string(10, 'x'));

    for (const std::string_view bad : {std::string_view(line).substr(0, 30), std::string_view("[1,2]"),
                                       std::string_view("{\"k\":\"dance\",\"t\":1}"), std::string_view("{\"k\":\"go\"}"),
                                       std::string_view("{\"k\":\"go\",\"t\":\"noon\"}"), std::string_view("")})
        EXPECT_FALSE(decodeEntry(bad)) << bad;
}

TEST(ShowReport, PerformancesSplitByOpenAndResetJoinByResumeAndMarkIntervals) {
    const std::vector<ReportEntry> entries = {
        at(Kind::open, 0),
        at(Kind::standby, 1, "1"),  // before the first GO: no performance yet
        at(Kind::go, 2, "1"), at(Kind::go, 3, "2"), at(Kind::ignored, 3.001), at(Kind::back, 4, "2"),
        at(Kind::go, 5, "2"),
        at(Kind::go, 15, "3"),  // 10 minutes later: an interval
        at(Kind::go, 20, "4"),
        // A crash: the next launch opens and picks the run up.
        at(Kind::open, 23, {}, "b"), at(Kind::resume, 23.5, {}, "b"), at(Kind::go, 25, "5", "b"),
        at(Kind::reset, 50, {}, "b"),
        at(Kind::go, 60, "1", "b"),  // a second performance of one GO
        at(Kind::open, 70, {}, "c"),
    };
    const std::vector<Performance> shows = performancesOf(entries, 8);
    ASSERT_EQ(shows.size(), 2u);

    const Performance& first = shows[0];
    EXPECT_TRUE(first.resumed);
    EXPECT_EQ(first.cues.size(), 6u);
    EXPECT_EQ(first.backs, 1);
    EXPECT_EQ(first.ignored, 1);
    EXPECT_EQ(first.resets, 1);
    ASSERT_EQ(first.acts.size(), 2u);
    ASSERT_EQ(first.intervals.size(), 1u);
    EXPECT_EQ(first.acts[0].goCount, 3);
    EXPECT_DOUBLE_EQ(first.acts[0].seconds, 180);
    EXPECT_DOUBLE_EQ(first.intervals[0].seconds, 600);
    EXPECT_EQ(first.acts[1].goCount, 3);
    EXPECT_DOUBLE_EQ(first.runningSeconds, 23 * 60);  // across launches by the wall clock
    EXPECT_DOUBLE_EQ(first.cues[1].heldSeconds, 120);
    EXPECT_EQ(first.cues[3].act, 1);
    EXPECT_DOUBLE_EQ(first.cues.back().heldSeconds, 0);

    const Performance& second = shows[1];
    EXPECT_FALSE(second.resumed);
    EXPECT_EQ(second.cues.size(), 1u);
    EXPECT_DOUBLE_EQ(second.runningSeconds, 0);
    EXPECT_EQ(second.acts.size(), 1u);

    // A steady clock that disagrees with the wall clock wins within one launch.
    std::vector<ReportEntry> clockSet = {at(Kind::go, 0, "1"), at(Kind::go, 1, "2")};
    clockSet[1].wallMs += 3'600'000;  // the clock was put forward an hour
    EXPECT_EQ(performancesOf(clockSet, 8)[0].intervals.size(), 0u);
    // An absurd interval setting neither overflows nor splits.
    EXPECT_EQ(performancesOf(clockSet, INT64_MAX)[0].acts.size(), 1u);
}

TEST(ShowReport, CsvQuotesTextsAndDefusesFormulas) {
    std::vector<ReportEntry> entries = {at(Kind::go, 0, "1"), at(Kind::go, 1, "=2+2")};
    entries[0].label = "Lights, \"slow\"";
    const std::vector<Performance> shows = performancesOf(entries, 8);
    const std::string csv = reportCSV(shows, "Demo");
    EXPECT_NE(csv.find("\"Lights, \"\"slow\"\"\""), std::string::npos) << csv;
    EXPECT_NE(csv.find("\"'=2+2\""), std::string::npos) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
}

TEST(ShowReportLog, AppendsInOrderAndATornLineNeverJoinsTheNext) {
    testing::TempDir dir;
    const fs::path file = ShowReportLog::fileFor(dir.path() / "reports", dir.path() / "Hamlet.pdf");
    EXPECT_EQ(file, ShowReportLog::fileFor(dir.path() / "reports", dir.path() / "x" / ".." / "Hamlet.pdf"));
    EXPECT_NE(file, ShowReportLog::fileFor(dir.path() / "reports", dir.path() / "other" / "Hamlet.pdf"));
    {
        ShowReportLog log(file);
        for (int i = 0; i < 50; ++i) log.append(at(Kind::go, i, std::to_string(i)));
        ASSERT_TRUE(log.flush(std::chrono::seconds(5)));
    }
    // A kill in the middle of a line: the torn tail is skipped, the next line is whole.
    { std::ofstream(file, std::ios::app) << "{\"k\":\"go\",\"t\":17"; }
    {
        ShowReportLog log(file);
        log.append(at(Kind::reset, 60));
        std::vector<ReportEntry> seen;
        log.readInOrder([&](const std::vector<ReportEntry>& entries) { seen = entries; });
        ASSERT_TRUE(log.flush(std::chrono::seconds(5)));
        ASSERT_EQ(seen.size(), 51u);
        EXPECT_EQ(seen[49].number, "49");
        EXPECT_EQ(seen[50].kind, Kind::reset);
        EXPECT_EQ(ShowReportLog::read(file), seen) << "the file says what the writer holds";
    }
}

TEST(ShowReportLog, AKillDuringTheShowLosesAtMostTheLineBeingWritten) {
    testing::TempDir dir;
    const fs::path file = dir.path() / "show.report";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ShowReportLog log(file);
        for (int i = 0;; ++i) {
            log.append(at(Kind::go, i, std::to_string(i)));
            if (i % 64 == 0) log.flush(std::chrono::seconds(1));
        }
    }
    // Until the file has grown a while, then without warning.
    for (int i = 0; i < 500; ++i) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(file, error);
        if (!error && size > 40'000) break;
        usleep(2000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    const std::string bytes = slurp(file);
    const auto whole = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    const std::vector<ReportEntry> entries = ShowReportLog::read(file);
    ASSERT_GT(entries.size(), 100u);
    EXPECT_EQ(entries.size(), whole) << "every whole line reads";
    for (std::size_t i = 0; i < entries.size(); ++i) ASSERT_EQ(entries[i].number, std::to_string(i));
}

TEST(ShowReportLog, StaysBoundedAndRefusesWhatIsNotAFile) {
    testing::TempDir dir;
    const fs::path file = dir.path() / "big.report";
    {
        std::ofstream out(file, std::ios::binary);
        const std::string line = encodeEntry(at(Kind::go, 1, "7"));
        for (std::uintmax_t written = 0; written <= ShowReportLog::maxBytes; written += line.size()) out << line;
    }
    {
        ShowReportLog log(file);
        log.append(at(Kind::go, 2, "last"));
        // What the writer keeps in memory follows the shortened file.
        std::size_t held = 0;
        log.readInOrder([&](const std::vector<ReportEntry>& entries) { held = entries.size(); });
        ASSERT_TRUE(log.flush(std::chrono::seconds(10)));
        EXPECT_EQ(held, ShowReportLog::read(file).size());
    }
    EXPECT_LE(fs::file_size(file), ShowReportLog::maxBytes / 2 + 1024);
    const std::vector<ReportEntry> kept = ShowReportLog::read(file);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back().number, "last");
    EXPECT_EQ(kept.front().number, "7") << "the cut falls between lines";

    // A FIFO in its place is neither waited on nor written.
    const fs::path fifo = dir.path() / "fifo.report";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ShowReportLog log(fifo);
    log.append(at(Kind::go, 1, "1"));
    EXPECT_TRUE(log.flush(std::chrono::seconds(5)));
    EXPECT_TRUE(ShowReportLog::read(fifo).empty());
}

}  // namespace
}  // namespace tallowmark
