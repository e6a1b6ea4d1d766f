// A run over marks held in memory, with its run file in a scratch folder.
#include "cues/show_run.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string_view>

#include "support/fifo_watchdog.hpp"
#include "cue_fixtures.hpp"
#include "support/writer_gate.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::writeText;

class Run : public testing::ScriptFolder {
protected:
    // What the run says: its log lines, and each change as the cues it touched and their fired status after it.
    Run() {
        run.onLog = [this](const std::string& text, const std::string&) { hear(text); };
        run.onRunChange = [this](const ShowRun::RunChange& change) {
            std::string text = change.clear ? "clear" : "";
            for (const std::string& id : change.touched)
                text += (text.empty() ? "" : " ") + id + (run.fired().contains(id) ? "+" : "-");
            hear("[" + text + "]");
        };
    }
    void hear(const std::string& text) { heard += (heard.empty() ? "" : " / ") + text; }
    // A script of `cues` numbered cues, opened: its run file is read as an offer, not applied.
    void open(int cues) {
        marks.load(testing::sidecarWithCues(cues));
        reopen();
    }
    void reopen() {
        ASSERT_TRUE(writer.flush(FileWriter::shutdownWait));
        run.start(runFile());
    }
    // Commands like "go, back, reset, discard, fire 2, standby 4, id c5", one after another.
    void play(std::string_view commands) {
        for (std::size_t at = 0; at <= commands.size();) {
            const std::size_t end = std::min(commands.find(", ", at), commands.size());
            const std::string_view command = commands.substr(at, end - at);
            const std::string_view verb = command.substr(0, command.find(' '));
            const std::string arg(command.substr(std::min(command.size(), verb.size() + 1)));
            if (verb == "go") run.go("x");
            else if (verb == "back") run.back("x");
            else if (verb == "reset") run.reset("x");
            else if (verb == "discard") run.discardSavedRun();
            else if (verb == "fire") run.fireCue(arg, "x");
            else if (verb == "standby") run.standbyByNumber(arg, "x");
            else if (verb == "id") run.standbyByID(arg);
            else ADD_FAILURE() << "no command " << command;
            at = end + 2;
        }
    }
    // "c2 | c1 (last c1)": standby, fired, and the cue fired last.
    std::string now() const { return testing::runOf(run) + " (last " + run.lastFiredID().value_or("none") + ")"; }
    static std::string text(const RunState* state) {
        if (!state) return "no file";
        std::string text = state->standbyID + " |";
        for (const std::string& id : state->fired) text += " " + id;
        return text;
    }
    std::string onDisk() {
        EXPECT_TRUE(writer.flush(FileWriter::shutdownWait));
        const auto state = fs::exists(runFile()) ? decodeRunState(readText(runFile())) : std::nullopt;
        return text(state ? &*state : nullptr);
    }
    // The resume offer as "fired/total standby", or "none".
    std::string offer() const {
        const auto o = run.resumeOffer();
        return o ? std::to_string(o->firedCount) + "/" + std::to_string(o->total) + " " + o->standby.id : "none";
    }

    FileWriter writer;
    MarksRecord marks;
    ShowRun run{marks, writer};
    std::string heard;
};

TEST_F(Run, Commands) {
    // Cues in the script, the commands, the run after them, and what the run said.
    const std::tuple<int, const char*, const char*, const char*> cases[] = {
        {3, "fire 2, go", "none | c2 c3 (last c3)", "GO 2 L2 / [c2+] / GO 3 L3 / [c3+]"},
        // Without a standby GO fires the first unfired cue; standby follows it in script order.
        {3, "fire 2, go, go", "c2 | c1 c2 c3 (last c1)", "GO 2 L2 / [c2+] / GO 3 L3 / [c3+] / GO 1 L1 / [c1+]"},
        {1, "go, go", "none | c1 (last c1)", "GO 1 L1 / [c1+] / GO ilman valmiutta - iskuja ei ole"},
        {2, "go, go, back", "c2 | c1 (last c2)", "GO 1 L1 / [c1+] / GO 2 L2 / [c2+] / BACK -> 2 / [c2-]"},  // from none
        {4, "go, back, back", "c1 | (last c1)", "GO 1 L1 / [c1+] / BACK -> 1 / [c1-] / BACK -> 1 / [c1-]"},
        {0, "back, go", "none | (last none)", "GO ilman valmiutta - iskuja ei ole"},
        {3, "go, go, fire 1", "c2 | c1 c2 (last c1)", "GO 1 L1 / [c1+] / GO 2 L2 / [c2+] / GO 1 L1 / [c1+]"},
        {5, "go, standby 4, id c5, id nope", "c5 | c1 (last c1)", "GO 1 L1 / [c1+] / STANDBY 4 / [] / []"},
        // The number as it was typed.
        {5, "standby  q7a, fire  9x ", "c1 | (last none)",
         "STANDBY \" q7a\" ei osunut mihinkaan / Cue \" 9x \" ei ole kasikirjoituksessa"},
    };
    for (const auto& [cues, commands, after, said] : cases) {
        open(cues);
        heard.clear();
        play(commands);
        EXPECT_EQ(now(), after) << commands;
        EXPECT_EQ(heard, said) << commands;
        play("reset");
    }
}

TEST_F(Run, AFreshRunStandsOnTheFirstCueInScriptOrderAndLogsStandInForAMissingNumberOrLabel) {
    Cue a = testing::numberedCue(1), b = testing::numberedCue(2);
    a.label = "", b.number = "";
    marks.load(testing::sidecarOf({b, a}));
    run.start(std::nullopt);
    EXPECT_EQ(now(), "c1 | (last none)");
    play("go, go, back, standby 1");
    EXPECT_EQ(heard, "GO 1  / [c1+] / GO L2 / [c2+] / BACK -> L2 / [c2-] / STANDBY 1 / []");
}

// The file follows every run change, compact; one that leaves nothing fired deletes it, and no
// earlier write overtakes the delete. Opening reads it back as an offer.
TEST_F(Run, TheRunFileFollowsEveryRunChange) {
    open(12);
    EXPECT_EQ(offer(), "none");
    EXPECT_EQ(onDisk(), "no file");
    // Each row behind a busy writer, from where the row before left the run.
    const std::pair<const char*, const char*> steps[] = {
        {"go, go, go, go, go, go, go, go, go, go", "c11 | c1 c10 c2 c3 c4 c5 c6 c7 c8 c9"},
        {"reset, go", "c2 | c1"}, {"go, go, go, back", "c4 | c1 c2 c3"}, {"standby 8", "c8 | c1 c2 c3"},
        {"id c5", "c5 | c1 c2 c3"}, {"reset", "no file"}, {"go, back", "no file"},  // the only cue unfired
        {"go, reset", "no file"}, {"go, discard", "no file"},
        {"reset, go, reset, go", "c2 | c1"},  // a write after the delete brings the file back
        {"go", "c3 | c1 c2"},
    };
    for (const auto& [commands, disk] : steps) {
        testing::WriterGate gate(writer);
        const auto before = writer.jobsRun();
        play(commands);
        EXPECT_EQ(text(run.savedRun()), disk) << "a GO hands the run over and goes on; the offer follows at once";
        gate.open();
        EXPECT_EQ(onDisk(), disk) << commands;
        EXPECT_LE(writer.jobsRun() - before, 3u) << "the gate and the newest write, or a write and a delete";
    }
    EXPECT_EQ(readText(runFile()).find('\n'), std::string::npos) << "compact";
    EXPECT_GT(decodeRunState(readText(runFile()))->savedAt, 1.7e9);
    reopen();
    EXPECT_EQ(offer(), "2/12 c3");
    heard.clear();
    play("discard, discard");
    EXPECT_EQ(heard, "[]") << "a second discard is no change";
    EXPECT_EQ(offer(), "none");
    EXPECT_EQ(onDisk(), "no file");
    EXPECT_FALSE(run.restoreRun());
}

// After a crash one stray GO from a desk must not fire cue 1 over the saved position: while
// the offer stands, every run command but RESET picks the saved run up first.
TEST_F(Run, RunCommandsWhileTheOfferIsOpenContinueTheSavedRun) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"go", "c5 | c1 c2 c3 c4", "c5 | c1 c2 c3 c4"},   {"fire 7", "c8 | c1 c2 c3 c7", "c8 | c1 c2 c3 c7"},
        {"back", "c3 | c1 c2", "c3 | c1 c2"},             {"standby 9", "c9 | c1 c2 c3", "c9 | c1 c2 c3"},
        {"id c6", "c6 | c1 c2 c3", "c6 | c1 c2 c3"},      {"reset", "c1 |", "no file"},
        {"discard, go", "c2 | c1", "c2 | c1"},
    };
    open(10);
    for (const auto& [commands, after, disk] : cases) {
        play("reset, go, go, go");
        reopen();
        ASSERT_TRUE(run.resumeOfferOpen()) << commands;
        heard.clear();
        play(commands);
        EXPECT_EQ(testing::runOf(run), after) << commands;
        EXPECT_EQ(onDisk(), disk) << commands;
        EXPECT_FALSE(run.resumeOfferOpen()) << commands;
        const bool continued = std::string_view(commands) != "reset" && std::string_view(commands) != "discard, go";
        EXPECT_EQ(heard.starts_with("Tallennettu ajo jatkuu - 3/10 laukaistu"), continued) << heard;
    }
}

// Restoring applies what of the run file is still in the marks, with no cue fired last.
TEST_F(Run, WhatARunFileOffersAndRestores) {
    std::string overgrown = R"({"standbyID": "c4", "fired": ["c1")";
    for (std::size_t n = 0; n < maxRecordsPerList; ++n) overgrown += R"(, "c2")";
    overgrown += "]}";
    // The file, what is offered, what restoring gives, and the log line that says why.
    const std::tuple<std::string, const char*, const char*, const char*> cases[] = {
        {R"({"standbyID":"c6","fired":["c1","c2","c3","c4","c5"]})", "5/10 c6", "c6 | c1 c2 c3 c4 c5 (last none)", ""},
        // Cues no longer in the marks are dropped, duplicates count once, a standby that is gone is refilled.
        {R"({"standbyID":"gone","fired":["c1","c1","c2","zz"]})", "2/10 c3", "c3 | c1 c2 (last none)", ""},
        {R"({"standbyID":"c1","fired":["zz"]})", "none", "refused", ""},
        // Every cue fired: nothing to offer, but the run can still be restored.
        {R"({"fired":["c1","c2","c3","c4","c5","c6","c7","c8","c9","c10"]})", "none",
         "none | c1 c10 c2 c3 c4 c5 c6 c7 c8 c9 (last none)", ""},
        {"roskaa", "none", "refused", ""}, {R"({"fired":[1]})", "none", "refused", ""},
        {R"({"fired":[],"standbyID":"c1"})", "none", "refused", ""},
        {"{\"standbyID\": \"c4\", \"fired\": [\"c1\", \"c2\", \"c3\", \"c\xFF\"], \"savedAt\": 1}", "3/10 c4",
         "c4 | c1 c2 c3 (last none)", "TALLOWMARK: ajotiedostossa oli vioittunutta tekstia, luettu korvausmerkein\n"},
        {overgrown, "none", "refused",
         "TALLOWMARK: ajotiedostossa on yli 100000 laukaistua iskua, jatkoa ei tarjota\n"},
    };
    marks.load(testing::sidecarWithCues(10));
    for (const auto& [text, offered, restored, line] : cases) {
        writeText(runFile(), text);
        const std::string err = testing::stderrOf([&] { reopen(); });
        EXPECT_EQ(offer(), offered) << text.substr(0, 60);
        EXPECT_EQ(now(), "c1 | (last none)");
        EXPECT_NE(err.find(line), std::string::npos) << err;
        EXPECT_EQ(run.restoreRun() ? now() : "refused", restored) << text.substr(0, 60);
    }
}

TEST_F(Run, RunFileTroubleNeverStopsTheShow) {
    marks.load(testing::sidecarWithCues(10));
    ASSERT_EQ(::mkfifo(runFile().c_str(), 0644), 0);
    std::string err = testing::stderrOf([&] { EXPECT_TRUE(testing::returnsWithoutHelp(runFile(), [&] { reopen(); })); });
    EXPECT_EQ(offer(), "none");
    const std::string fifo = "TALLOWMARK: ajotiedostoa ei voitu lukea, jatkoa ei tarjota: " + runFile().string();
    EXPECT_NE(err.find(fifo + ": not a regular file"), std::string::npos) << err;
    play("go");
    EXPECT_EQ(onDisk(), "c2 | c1") << "the next GO puts a real file in its place";

    run.start(dir / "no-such-folder/Show.tallowmark-run");
    err = testing::stderrOf([&] { play("go, go, go"), onDisk(); });
    const std::string line = "TALLOWMARK: ajotiedoston tallennus epaonnistui: No such file or directory\n";
    EXPECT_TRUE(err.find(line) != std::string::npos && err.find(line, err.find(line) + 1) == std::string::npos)
        << "once, not once per GO: " << err;
}

}  // namespace
}  // namespace tallowmark
