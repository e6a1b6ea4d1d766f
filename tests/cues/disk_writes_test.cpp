// The engine's files are written by its writer thread: GO and edits hand over
// the newest state and go on; closing, opening and destruction wait.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "core/fifo_watchdog.hpp"
#include "core/main_queue.hpp"
#include "cue_fixtures.hpp"
#include "support/writer_gate.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::numberedCue;
using testing::readText;
using testing::writeText;
using testing::WriterGate;

class DiskWrites : public testing::ShowFolder {
protected:
    void SetUp() override {
        writeText(marks(), *encodeSidecar(testing::sidecarWithCues(120)));
        engine.loadSidecar(pdf());
        ASSERT_TRUE(engine.flushWrites()) << "the sweep that opening queues";
    }
    // The run file as it is now, without waiting: "standby | count fired", or "no file".
    std::string runOnDisk() const {
        if (!fs::exists(runFile())) return "no file";
        const auto state = decodeRunState(readText(runFile()));
        if (!state) return "undecodable";
        return state->standbyID + " | " + std::to_string(state->fired.size()) + " fired";
    }
};

TEST_F(DiskWrites, ABurstOfGosIsOneWriteOfTheNewestStateAndNoGoWaitsForIt) {
    WriterGate gate(testing::EngineAccess::writer(engine));
    const auto before = testing::EngineAccess::writer(engine).jobsRun();
    go(100);
    EXPECT_EQ(runOnDisk(), "no file") << "a GO hands the state over and goes on";
    EXPECT_EQ(engine.savedRun()->fired.size(), 100u) << "the offer follows at once";
    gate.open();
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(runOnDisk(), "c101 | 100 fired");
    EXPECT_EQ(testing::EngineAccess::writer(engine).jobsRun() - before, 2u) << "the gate and one write";
}

TEST_F(DiskWrites, ADeleteIsNeverOvertakenByAnEarlierWrite) {
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"GO RESET", [&] { go(1); engine.reset("x"); }},
        {"GO GO BACK BACK", [&] { go(2); engine.back("x"); engine.back("x"); }},
        {"GO discard", [&] { go(1); engine.discardSavedRun(); }},
    };
    for (const auto& [steps, run] : cases) {
        go(3);
        ASSERT_TRUE(engine.flushWrites());
        ASSERT_EQ(runOnDisk(), "c4 | 3 fired");
        engine.reset("x");
        {
            WriterGate gate(testing::EngineAccess::writer(engine));
            run();
        }
        ASSERT_TRUE(engine.flushWrites());
        EXPECT_EQ(runOnDisk(), "no file") << steps;
    }
    {
        WriterGate gate(testing::EngineAccess::writer(engine));
        go(1);
        engine.reset("x");
        go(1);
    }
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(runOnDisk(), "c2 | 1 fired") << "a write after the delete brings the file back";
}

TEST_F(DiskWrites, ClosingOpeningAndDestructionWaitForPendingWrites) {
    // A slow disk: the writer is busy when the GOs come.
    const auto slowDisk = [](CueEngine& e) {
        testing::EngineAccess::writer(e).submit("slow", [] { std::this_thread::sleep_for(300ms); }, FileWriter::Merge::keeps);
    };
    const std::pair<const char*, std::function<void(std::unique_ptr<CueEngine>&)>> cases[] = {
        {"unload", [](auto& e) { e->unload(); }},
        {"opening another script", [&](auto& e) { e->loadSidecar(dir / "Other.pdf"); }},
        {"reopening the same script", [&](auto& e) { e->loadSidecar(pdf()); }},
        {"destruction", [](auto& e) { e.reset(); }},
    };
    for (const auto& [when, close] : cases) {
        fs::remove(runFile());
        auto other = std::make_unique<CueEngine>();
        other->loadSidecar(pdf());
        slowDisk(*other);
        for (int i = 0; i < 3; ++i) other->go("x");
        close(other);
        EXPECT_EQ(runOnDisk(), "c4 | 3 fired") << when;
        if (other && other->sidecarURL() == marks()) {
            EXPECT_EQ(other->savedRun()->fired.size(), 3u) << when;
        }
    }
}

TEST_F(DiskWrites, MarksSavesKeepTheirBackupsInOrderAndPlainSavesCoalesce) {
    const std::string original = readText(marks());
    const auto before = testing::EngineAccess::writer(engine).jobsRun();
    {
        WriterGate gate(testing::EngineAccess::writer(engine));
        for (int n = 1; n <= 4; ++n) {
            engine.upsert(numberedCue(200 + n));  // rotating: one job each
            engine.setCrop({0.1 * n, 0.1, 0.5, 0.5});
            engine.setPageText(n, "sivu");  // plain saves after a rotating one fold into one
        }
    }
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(testing::EngineAccess::writer(engine).jobsRun() - before, 1u + 4 * 2);
    EXPECT_EQ(readText(backup(4)), original);
    for (int n = 1; n <= 3; ++n) {
        const auto kept = decodeSidecar(readText(backup(n)));
        ASSERT_TRUE(kept) << n;
        EXPECT_EQ(kept->cues.size(), 124u - n) << "backup " << n << " is the file before the save " << n << " back";
        EXPECT_EQ(kept->pageTexts.size(), 4u - n) << n;
    }
    EXPECT_FALSE(fs::exists(backup(5)));
    EXPECT_EQ(decodeSidecar(readText(marks())).value(), engine.sidecar());
}

TEST_F(DiskWrites, WriteFailuresAreLoggedNotLost) {
    CueEngine elsewhere;
    elsewhere.loadSidecar(dir / "no-such-folder/Show.pdf");
    ::testing::internal::CaptureStderr();
    elsewhere.upsert(numberedCue(1));
    for (int i = 0; i < 3; ++i) elsewhere.go("x");
    ASSERT_TRUE(elsewhere.flushWrites());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TALLOWMARK: sivutiedoston tallennus epaonnistui: No such file or directory\n"),
              std::string::npos) << err;
    const std::string runLine = "TALLOWMARK: ajotiedoston tallennus epaonnistui: No such file or directory\n";
    const auto first = err.find(runLine);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(runLine, first + 1), std::string::npos) << "once, not once per GO";
}

TEST_F(DiskWrites, ARefusedSaveOfAnUnreadableMarksFileChangesNothingOnDisk) {
    // Five good backups that a rotation could move, and in the marks file's
    // place something whose content cannot be copied to backup 1.
    const std::pair<const char*, std::function<void()>> blockers[] = {
        {"folder", [&] {
             fs::create_directory(marks());
             writeText(marks() / "inside", "keep");
         }},
        {"FIFO", [&] { ::mkfifo(marks().c_str(), 0644); }},
    };
    for (const auto& [what, block] : blockers) {
        SCOPED_TRACE(what);
        fs::remove_all(marks());
        for (int n = 1; n <= 5; ++n) writeText(backup(n), "backup " + std::to_string(n) + " of a good show");
        block();
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(testing::returnsWithoutHelp(marks(), [&] { engine.loadSidecar(pdf()); }));
        for (int n = 1; n <= 5; ++n) engine.upsert(numberedCue(n));
        engine.setCrop({0.1, 0.1, 0.5, 0.5});
        EXPECT_FALSE(engine.saveSidecar(true));
        ASSERT_TRUE(engine.flushWrites());
        const std::string err = ::testing::internal::GetCapturedStderr();

        for (int n = 1; n <= 5; ++n) EXPECT_EQ(readText(backup(n)), "backup " + std::to_string(n) + " of a good show");
        EXPECT_EQ(entries(), 6) << "no temporaries or extra backups left behind";
        EXPECT_EQ(engine.sidecar().cues.size(), 5u) << "the edits stand in memory";
        EXPECT_NE(err.find("lukukelvotonta merkintatiedostoa ei saatu varmuuskopioksi"), std::string::npos) << err;
        if (fs::is_directory(marks())) {
            EXPECT_EQ(readText(marks() / "inside"), "keep");
        }
    }
}

TEST_F(DiskWrites, TheOperatorsSaveAnswersWhenWrittenWithoutHoldingTheMainThread) {
    const std::pair<const char*, bool> cases[] = {{"a marks file", true}, {"a folder in its place", false}};
    for (const auto& [what, writable] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(marks());
        engine.loadSidecar(pdf());
        engine.upsert(numberedCue(7));
        ASSERT_TRUE(engine.flushWrites());
        if (!writable) {
            fs::remove_all(marks());
            fs::create_directory(marks());
        }
        std::optional<bool> answer;
        {
            WriterGate gate(testing::EngineAccess::writer(engine));
            ::testing::internal::CaptureStderr();
            ASSERT_TRUE(engine.saveSidecarInBackground([&](bool written) { answer = written; }));
            drainMainQueue();
            EXPECT_FALSE(answer) << "no answer while the writer is busy, and no wait for it";
            go(1);
            gate.open();
            ASSERT_TRUE(engine.flushWrites());
            ::testing::internal::GetCapturedStderr();
        }
        drainMainQueue();
        ASSERT_TRUE(answer) << "the answer comes once the writer is done";
        EXPECT_EQ(*answer, writable);
        if (writable) {
            EXPECT_NE(readText(marks()).find("\"c7\""), std::string::npos);
        }
    }
    fs::remove_all(marks());
    engine.unload();
    bool called = false;
    EXPECT_FALSE(engine.saveSidecarInBackground([&](bool) { called = true; })) << "no script open";
    drainMainQueue();
    EXPECT_FALSE(called);
}

TEST_F(DiskWrites, AFifoInPlaceOfTheMarksOrRunFileDoesNotStopTheScriptOpening) {
    ASSERT_EQ(::mkfifo(runFile().c_str(), 0644), 0);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(testing::returnsWithoutHelp(runFile(), [&] { engine.loadSidecar(pdf()); }));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(engine.sidecar().cues.size(), 120u);
    EXPECT_FALSE(engine.resumeOffer());
    EXPECT_NE(err.find("TALLOWMARK: ajotiedostoa ei voitu lukea, jatkoa ei tarjota: " + runFile().string() +
                       ": not a regular file"),
              std::string::npos) << err;
    go(1);
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(runOnDisk(), "c2 | 1 fired") << "the next GO puts a real file in its place";

    fs::remove(marks());
    ASSERT_EQ(::mkfifo(marks().c_str(), 0644), 0);
    EXPECT_TRUE(testing::returnsWithoutHelp(marks(), [&] { engine.loadSidecar(pdf()); }));
    CueSidecar fresh;
    fresh.documentName = "Show.pdf";
    EXPECT_EQ(engine.sidecar(), fresh);
}

TEST_F(DiskWrites, ADamagedRunFileIsReadRepairedAndAnOvergrownOneOffersNothing) {
    std::string overgrown = R"({"standbyID": "c4", "fired": ["c1")";
    for (std::size_t n = 0; n < maxRecordsPerList; ++n) overgrown += R"(, "c2")";
    overgrown += "]}";
    // The run file, what is offered after opening, and the log line that says why. The kinds of
    // damaged text are the decoder's to tell apart; here one shows the run file is read repaired.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"{\"standbyID\": \"c4\", \"fired\": [\"c1\", \"c2\", \"c3\", \"c\xFF\"], \"savedAt\": 1}", "3 of 120, c4",
         "TALLOWMARK: ajotiedostossa oli vioittunutta tekstia, luettu korvausmerkein\n"},
        {overgrown, "no offer", "TALLOWMARK: ajotiedostossa on yli 100000 laukaistua iskua, jatkoa ei tarjota\n"},
    };
    for (const auto& [text, offered, line] : cases) {
        writeText(runFile(), text);
        ::testing::internal::CaptureStderr();
        engine.loadSidecar(pdf());
        const std::string err = ::testing::internal::GetCapturedStderr();
        const auto offer = engine.resumeOffer();
        EXPECT_EQ(offer ? std::to_string(offer->firedCount) + " of " + std::to_string(offer->total) + ", " +
                              offer->standby.id
                        : "no offer",
                  offered)
            << text.substr(0, 60);
        EXPECT_NE(err.find(line), std::string::npos) << err;
    }
}

TEST_F(DiskWrites, CrashDebrisIsSweptWhenItsOwnFileIsNextWritten) {
    const auto longAgo = fs::file_time_type::clock::now() - 1h;
    for (const fs::path& leftover : {dir / ".Show.tallowmark-run.tmp-Q1w2E3", dir / ".Show.tallowmark.bak1.tmp-x9Y8z7"}) {
        writeText(leftover, std::string(100000, '{'));
        fs::last_write_time(leftover, longAgo);
    }
    go(1);
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_FALSE(fs::exists(dir / ".Show.tallowmark-run.tmp-Q1w2E3")) << "swept when the run file was saved";
    EXPECT_TRUE(fs::exists(dir / ".Show.tallowmark.bak1.tmp-x9Y8z7")) << "not until backup 1 is made";

    engine.upsert(numberedCue(500));
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_FALSE(fs::exists(dir / ".Show.tallowmark.bak1.tmp-x9Y8z7"));
    EXPECT_EQ(decodeSidecar(readText(backup(1)))->cues.size(), 120u) << "a whole backup under its own name";
    EXPECT_EQ(entries(), 3) << "marks, run file, backup 1, and nothing else";
}

TEST_F(DiskWrites, CrashDebrisOfTheScriptsFilesIsSweptWhenItOpensAndNothingElse) {
    const auto longAgo = fs::file_time_type::clock::now() - 1h;
    const auto leave = [&](const std::string& name, bool old = true) {
        writeText(dir / name, "partial");
        if (old) fs::last_write_time(dir / name, longAgo);
    };
    // Debris of the marks file, the run file and the backups: swept.
    const char* debris[] = {".Show.tallowmark.tmp-Ab3dE9", ".Show.tallowmark-run.tmp-Q1w2E3",
                            ".Show.tallowmark.bak1.tmp-x9Y8z7", ".Show.tallowmark.bak5.tmp-000000"};
    for (const char* name : debris) leave(name);
    // Not ours, not this script's, or perhaps still being written: kept.
    const char* others[] = {".Other.tallowmark.tmp-Ab3dE9", "Show.tallowmark.tmp-Ab3dE9", ".Show.pdf.tmp-Ab3dE9",
                            ".Show.tallowmark.tmp-Ab3dE", ".Show.tallowmark.bak6.tmp-Ab3dE9"};
    for (const char* name : others) leave(name);
    leave(".Show.tallowmark.tmp-Fresh1", /*old=*/false);
    // The script's own files under names like ours: the marks file reached
    // through a link, the script as a second hard link. Never debris.
    fs::rename(marks(), dir / ".Show.tallowmark.tmp-Marks1");
    fs::create_symlink(".Show.tallowmark.tmp-Marks1", marks());
    fs::last_write_time(dir / ".Show.tallowmark.tmp-Marks1", longAgo);
    writeText(pdf(), "%PDF-1.4 the script");
    fs::create_hard_link(pdf(), dir / ".Show.tallowmark-run.tmp-Pdf001");
    fs::last_write_time(pdf(), longAgo);
    const long before = entries();

    engine.loadSidecar(pdf());
    ASSERT_TRUE(engine.flushWrites());
    for (const char* name : debris) EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const char* name : others) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::exists(dir / ".Show.tallowmark.tmp-Fresh1"));
    EXPECT_EQ(readText(dir / ".Show.tallowmark-run.tmp-Pdf001"), "%PDF-1.4 the script");
    EXPECT_EQ(engine.sidecar().cues.size(), 120u) << "read through the link";
    EXPECT_EQ(entries(), before - static_cast<long>(std::size(debris)));
}

}  // namespace
}  // namespace tallowmark
