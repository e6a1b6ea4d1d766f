// The marks file, its backups and the writer, on real files in a scratch folder.
#include "cues/marks_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "support/fifo_watchdog.hpp"
#include "core/main_queue.hpp"
#include "cue_fixtures.hpp"
#include "support/json_text.hpp"
#include "support/writer_gate.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::numberedCue;
using testing::readText;
using testing::sidecarWithCues;
using testing::writeText;

class Files : public testing::ScriptFolder {
protected:
    MarksFiles files;
};

// The record a script opens with when its marks file gives nothing.
CueSidecar freshFor(const std::string& pdfName) {
    CueSidecar sidecar;
    sidecar.documentName = pdfName;
    return sidecar;
}

// A marks file with `count` empty records (or page texts, or numbers) under `key`.
std::string marksWith(const std::string& key, std::size_t count) {
    const bool texts = key == "pageTexts";
    const bool numbers = key == "crop";
    std::string text = "{\"" + key + "\": " + (texts ? "{" : "[");
    for (std::size_t n = 0; n < count; ++n) {
        if (n) text += ",";
        text += texts ? "\"" + std::to_string(n) + "\": \"\"" : numbers ? "0" : "{}";
    }
    return text + (texts ? "}}" : "]}");
}

TEST(MarksFileName, OnlyTheLastExtensionIsReplaced) {
    EXPECT_EQ(sidecarPathFor("/a/My.Show.pdf"), fs::path("/a/My.Show.tallowmark"));
    EXPECT_EQ(sidecarPathFor("/a/Show"), fs::path("/a/Show.tallowmark"));
    EXPECT_EQ(runFilePathFor("/a/Show.tallowmark"), fs::path("/a/Show.tallowmark-run"));
    EXPECT_EQ(MarksFiles::backupPath("/a/Show.tallowmark", 3), fs::path("/a/Show.tallowmark.bak3"));
}

TEST_F(Files, MissingKeysTakeTheirDefaultsAtEveryLevel) {
    writeText(marks(), R"({"cues":[{"number":"5"},{}], "memos":[{"text":null}], "documentName":null})");
    const CueSidecar s = files.open(pdf());
    EXPECT_EQ(s.version, 1);
    EXPECT_EQ(s.documentName, "") << "a record read from a file keeps what it had";
    ASSERT_EQ(s.cues.size(), 2u);
    const Cue& cue = s.cues[0];
    EXPECT_TRUE(std::regex_match(cue.id, std::regex("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")));
    EXPECT_NE(cue.id, s.cues[1].id) << "every record gets a fresh one";
    EXPECT_EQ(std::tuple(cue.number, cue.kind, cue.page, cue.x, cue.y, cue.w, cue.h, cue.padL, cue.padR),
              std::tuple("5", "SFX", 0, 0.5, 0.5, 0.18, 0.016, -1.0, -1.0));
    ASSERT_EQ(s.memos.size(), 1u);
    EXPECT_EQ(s.memos[0].w, 0.3);
    EXPECT_TRUE(s.marks.empty() && s.flags.empty() && s.inserts.empty() && s.pageTexts.empty());
}

// Every field of every record set away from its default, so a key lost from
// or renamed in any record shows as a changed byte.
CueSidecar everyFieldSet() {
    CueSidecar s;
    s.version = 2;
    s.documentName = "Sh\xF6w.pdf";  // Latin-1: stored in its escaped form
    s.cues.push_back(Cue{.id = "C1", .number = "12", .label = "Valot", .kind = "LX", .page = 3, .x = 0.25,
                         .y = 0.75, .w = 0.125, .h = 0.0625, .labelX = 0.5, .color = "#112233",
                         .snippet = "ovi", .note = "hidas", .padL = 0.01, .padR = 0.02, .insertID = "I1"});
    s.marks.push_back(Mark{.id = "M1", .page = 1, .x = 0.125, .y = 0.25, .w = 0.375, .h = 0.5,
                           .kind = "underline", .text = "t", .color = "#445566", .group = "g"});
    s.flags.push_back(Flag{.id = "F1", .page = 2, .x = 0.75, .y = 0.875, .text = "ovelle", .color = "red",
                           .role = "actor"});
    s.memos.push_back(Memo{.id = "N1", .page = 4, .x = 0.5, .y = 0.25, .w = 0.25, .h = 0.125, .text = "muista",
                           .color = "yellow"});
    s.inserts.push_back(Insert{.id = "I1", .page = 3, .afterY = 0.5, .lineMidY = 0.53125, .lineH = 0.03125,
                               .x = 0.0625, .text = "lisatty"});
    s.pageTexts = {{"0", "eka"}, {"3", "neljas"}};
    s.pageLabelOffset = -2;
    s.crop = {0.1, 0.2, 0.7, 0.6};
    s.spreadOffset = 1;
    return s;
}

TEST(MarksFileBytes, AFullRecordEncodesToTheKnownTextAndReadsBackEqual) {
    const CueSidecar sidecar = everyFieldSet();
    const auto text = encodeSidecar(sidecar);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, testing::prettyJson(R"({"crop": [0.1, 0.2, 0.7, 0.6],
        "cues": [{"color": "#112233", "h": 0.0625, "id": "C1", "insertID": "I1", "kind": "LX", "label": "Valot",
                  "labelX": 0.5, "note": "hidas", "number": "12", "padL": 0.01, "padR": 0.02, "page": 3,
                  "snippet": "ovi", "w": 0.125, "x": 0.25, "y": 0.75}],
        "documentName": "\u0000Sh%F6w.pdf",
        "flags": [{"color": "red", "id": "F1", "page": 2, "role": "actor", "text": "ovelle", "x": 0.75, "y": 0.875}],
        "inserts": [{"afterY": 0.5, "id": "I1", "lineH": 0.03125, "lineMidY": 0.53125, "page": 3, "text": "lisatty",
                     "x": 0.0625}],
        "marks": [{"color": "#445566", "group": "g", "h": 0.5, "id": "M1", "kind": "underline", "page": 1, "text": "t",
                   "w": 0.375, "x": 0.125, "y": 0.25}],
        "memos": [{"color": "yellow", "h": 0.125, "id": "N1", "page": 4, "text": "muista", "w": 0.25, "x": 0.5,
                   "y": 0.25}],
        "pageLabelOffset": -2, "pageTexts": {"0": "eka", "3": "neljas"}, "spreadOffset": 1, "version": 2})"));
    EXPECT_EQ(decodeSidecar(*text), sidecar);
}

TEST_F(Files, UndecodableFilesGiveAFreshRecordNamedAfterThePdf) {
    for (const std::string text : {"roskaa", R"({"cues":[{"page":1.5}]})", R"({"cues":[null]})",
                                   R"({"pageTexts":{"0":1}})",
                                   R"({"documentName": "\u0000K%E"})"}) {  // an escaped name cut short
        writeText(marks(), text);
        EXPECT_EQ(files.open(pdf()), freshFor("Show.pdf")) << text;
        EXPECT_EQ(readText(marks()), text) << "nothing is written at load";
    }
}

// Every name in the folder with what it holds, for "nothing on disk changed".
std::string folderState(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    std::string text;
    for (const fs::path& name : names) {
        text += name.filename().string() + "=" +
                (fs::is_fifo(name) ? "FIFO" : fs::is_directory(name) ? "[" + folderState(name) + "]" : readText(name)) +
                "; ";
    }
    return text;
}

// A file that was not read whole may still hold every cue of the show, and a repair loses
// the text as it was: the first save, of either kind, keeps the file as backup 1 and rotates
// once only. When backup 1 cannot be made, nothing writes over the file at all.
TEST_F(Files, AFileNotReadWholeIsKeptAsBackup1BeforeAnythingWritesOverIt) {
    const std::string unreadable = R"({"cues":[{"id":"a","number":"1"},{"id":"b","page":1.5}]})";
    // Both kinds of damage (a stray byte, an escaped lone surrogate) are read alike by the decoder's own test.
    const std::string damaged = R"({"cues": [{"id": "a", "label": "Valot sis)" "\xE4" R"(an"}, {"id": "b"}]})";
    const std::string notKept = "lukukelvotonta merkintatiedostoa ei saatu varmuuskopioksi";
    const auto holding = [&](const std::string& text) { return [&, text] { writeText(marks(), text); }; };
    const std::tuple<const char*, std::function<void()>, bool, std::string> cases[] = {
        {"unreadable, plain save", holding(unreadable), false, "merkintatiedostoa ei voitu lukea, aloitetaan tyhjasta"},
        {"unreadable, rotating save", holding(unreadable), true, "merkintatiedostoa ei voitu lukea"},
        {"damaged, plain save", holding(damaged), false, "TALLOWMARK: merkintatiedostossa oli vioittunutta tekstia"},
        {"damaged, rotating save", holding(damaged), true, "merkintatiedostossa oli vioittunutta tekstia"},
        {"a folder in its place", [&] {
             fs::create_directory(marks());
             writeText(marks() / "inside", "keep");
         }, true, notKept},
        {"a FIFO in its place", [&] { ::mkfifo(marks().c_str(), 0644); }, true, notKept},
        {"backup names held by folders", [&] {
             writeText(marks(), unreadable);
             for (int n = 1; n <= 5; ++n) {
                 fs::remove(backup(n));
                 fs::create_directories(backup(n) / "keep");
             }
         }, true, notKept},
    };
    CueSidecar record;
    for (const auto& [what, place, rotating, line] : cases) {
        SCOPED_TRACE(what);
        const bool wasDamaged = std::string_view(what).starts_with("damaged");
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        for (int n = 1; n <= 4; ++n) writeText(backup(n), "backup " + std::to_string(n));
        place();
        const std::string before = folderState(dir.path());
        ::testing::internal::CaptureStderr();
        CueSidecar opened;
        EXPECT_TRUE(testing::returnsWithoutHelp(marks(), [&] { opened = files.open(pdf()); }));
        record = opened;
        record.crop = {0.1, 0.1, 0.8, 0.8};
        files.queueSave(record, rotating);
        if (line == notKept) {
            for (int n = 0; n < 4; ++n) files.queueSave(record, n % 2);
            EXPECT_FALSE(files.save(record, true));
        }
        EXPECT_TRUE(files.flush(FileWriter::shutdownWait));
        EXPECT_NE(::testing::internal::GetCapturedStderr().find(line), std::string::npos);
        if (wasDamaged) {
            EXPECT_EQ(opened.cues.size(), 2u) << "every cue is read";
            EXPECT_EQ(opened.cues.at(0).label, "Valot sis\xEF\xBF\xBD" "an");
            EXPECT_EQ(files.loadWarning(), "\"Show.tallowmark\" had damaged text; it was repaired and the file "
                                           "as it was is kept as backup 1 at the next save.");
        } else {
            EXPECT_EQ(opened, freshFor("Show.pdf"));
        }
        if (line == notKept) {
            EXPECT_EQ(folderState(dir.path()), before) << "no byte, backup or temporary changed";
            continue;
        }
        for (const bool again : {false, true}) {  // a later save follows the usual rule again
            EXPECT_TRUE(readText(backup(1)) == (wasDamaged ? damaged : unreadable));
            EXPECT_EQ(readText(backup(2)), "backup 1") << "rotated once only";
            EXPECT_EQ(decodeSidecar(readText(marks())), record);
            if (!again) files.queueSave(record, false);
            ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
        }
    }
    fs::remove_all(backup(1));  // room again: the next save keeps the old file and writes
    EXPECT_TRUE(files.save(record, false));
    EXPECT_EQ(readText(backup(1)), unreadable);
    EXPECT_EQ(decodeSidecar(readText(marks())), record);
}

TEST_F(Files, BackupsRotateInOrderAtMostFiveAreKeptAndPlainSavesCoalesce) {
    (void)files.open(pdf());
    const auto saved = [](int cues, int texts) {
        CueSidecar record = sidecarWithCues(cues);
        for (int n = 0; n < texts; ++n) record.pageTexts[std::to_string(n)] = "sivu";
        return record;
    };
    files.queueSave(saved(1, 1), true);  // no file before: no backup
    ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
    EXPECT_FALSE(fs::exists(backup(1)));
    const auto before = files.writer().jobsRun();
    {
        testing::WriterGate gate(files.writer());
        for (int n = 2; n <= 7; ++n) {
            files.queueSave(saved(n, n - 1), true);  // rotating: one job each
            files.queueSave(saved(n, n), false);     // plain saves after a rotating one fold into one
            files.queueSave(saved(n, n + 1), false);
        }
    }
    ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
    EXPECT_EQ(files.writer().jobsRun() - before, 1u + 6 * 2);
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(decodeSidecar(readText(backup(n))), saved(7 - n, 8 - n)) << "the file before save " << n << " back";
    }
    EXPECT_FALSE(fs::exists(backup(6)));
    EXPECT_EQ(decodeSidecar(readText(marks())), saved(7, 8));
}

TEST_F(Files, ARecordThatCannotBeEncodedIsNotWrittenAndAFailedWriteIsLogged) {
    (void)files.open(pdf());
    ASSERT_TRUE(files.save(sidecarWithCues(1), true));
    const std::string before = readText(marks());
    CueSidecar bad = sidecarWithCues(2);
    bad.cues[1].w = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(files.save(bad, false));
    EXPECT_EQ(readText(marks()), before);

    (void)files.open(dir / "no-such-folder/Show.pdf");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(files.save(sidecarWithCues(1), true));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TALLOWMARK: sivutiedoston tallennus epaonnistui: No such file or directory\n"),
              std::string::npos) << err;
}

TEST_F(Files, TheOperatorsSaveAnswersOnceWrittenWithoutHoldingTheMainThread) {
    bool called = false;
    EXPECT_FALSE(files.saveInBackground(sidecarWithCues(1), [&](bool) { called = true; })) << "no script open";
    drainMainQueue();
    EXPECT_FALSE(called);
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "a marks file" : "a folder in its place");
        (void)files.open(pdf());
        if (!writable) {
            fs::remove(marks());
            fs::create_directory(marks());
        }
        std::optional<bool> answer;
        {
            testing::WriterGate gate(files.writer());
            ::testing::internal::CaptureStderr();
            ASSERT_TRUE(files.saveInBackground(sidecarWithCues(7), [&](bool written) { answer = written; }));
            drainMainQueue();
            EXPECT_FALSE(answer) << "no answer while the writer is busy, and no wait for it";
            gate.open();
            EXPECT_TRUE(files.flush(FileWriter::shutdownWait));
            ::testing::internal::GetCapturedStderr();
        }
        drainMainQueue();
        EXPECT_EQ(answer, std::optional(writable)) << "the answer comes once the writer is done";
        if (writable) {
            EXPECT_EQ(decodeSidecar(readText(marks())), sidecarWithCues(7));
        }
    }
}

TEST_F(Files, AFileBeyondTheBoundsIsLeftAsItIsWhateverIsSavedWhileItIsOpen) {
    const std::pair<const char*, const char*> kinds[] = {
        {"cues", "holds more than 100,000 cues"},   {"marks", "holds more than 100,000 marks"},
        {"flags", "holds more than 100,000 flags"}, {"memos", "holds more than 100,000 memos"},
        {"inserts", "holds more than 100,000 inserted lines"}, {"pageTexts", "holds more than 100,000 page texts"},
        {"crop", "holds more than 100,000 crop values"},
        {"", "is larger than 64 MB"},  // not even read
    };
    const CueSidecar record = sidecarWithCues(1);
    for (const auto& [key, holds] : kinds) {
        SCOPED_TRACE(key);
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        writeText(marks(), *key ? marksWith(key, maxRecordsPerList + 1) : "");
        if (!*key) fs::resize_file(marks(), maxSidecarBytes + 1);  // sparse: no disk needed
        writeText(dir / "Other.tallowmark", *encodeSidecar(sidecarWithCues(2)));
        const std::string before = folderState(dir.path());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(files.open(pdf()), freshFor("Show.pdf"));
        EXPECT_EQ(files.loadWarning(), std::string("\"Show.tallowmark\" ") + holds +
                                           ", more than this program reads. It was left as it is; marks made "
                                           "now are not saved.");
        // Every kind of save: rotating and plain, the operator's saves, an import.
        EXPECT_FALSE(files.queueSave(record, true) || files.queueSave(record, false) || files.save(record, true));
        std::optional<bool> answer;
        EXPECT_TRUE(files.saveInBackground(record, [&](bool written) { answer = written; }));
        EXPECT_FALSE(files.readImport(dir / "Other.tallowmark"));
        ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
        drainMainQueue();
        const std::string err = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(answer, std::optional(false)) << "the background save answers too";
        EXPECT_TRUE(folderState(dir.path()) == before) << "byte for byte, and no backups or temporaries";
        const std::string refusal = "merkintoja ei tallenneta";
        ASSERT_NE(err.find(refusal), std::string::npos) << err;
        EXPECT_EQ(err.find(refusal, err.find(refusal) + 1), std::string::npos) << "logged once: " << err;
        EXPECT_NE(err.find(std::string("TALLOWMARK: merkintatiedostoa ei lueta: ") +
                           (*key ? "luettelossa \"" + std::string(key) : "yli 64 MiB")),
                  std::string::npos) << err;
        files.close();
        EXPECT_EQ(files.loadWarning(), "") << "closing the script ends what was said about it";
    }
    // At the bound itself everything is as usual.
    writeText(marks(), marksWith("cues", maxRecordsPerList));
    EXPECT_EQ(files.open(pdf()).cues.size(), maxRecordsPerList);
    EXPECT_EQ(files.loadWarning(), "");
}

TEST_F(Files, ImportReadsTheLastSaveDamagedTextAndNothingBeyondTheBounds) {
    (void)files.open(pdf());
    files.queueSave(sidecarWithCues(1), true);
    files.queueSave(sidecarWithCues(2), true);  // backup 1 holds cue 1 only, once the writer is done
    EXPECT_EQ(files.readImport(backup(1)), sidecarWithCues(1));

    writeText(dir / "Huge.tallowmark", marksWith("memos", maxRecordsPerList + 1));
    writeText(dir / "Damaged.tallowmark", "{\"cues\": [{\"number\": \"7\xFF\"}]}");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(files.readImport(dir / "Huge.tallowmark"));
    const auto damaged = files.readImport(dir / "Damaged.tallowmark");
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(damaged && damaged->cues.size() == 1);
    EXPECT_EQ(damaged->cues[0].number, "7\xEF\xBF\xBD");
    EXPECT_NE(err.find("merkintoja ei tuotu: luettelossa \"memos\" on yli 100000 kohtaa"), std::string::npos) << err;
    EXPECT_NE(err.find("tuodussa merkintatiedostossa oli vioittunutta tekstia"), std::string::npos) << err;
}

TEST_F(Files, CrashDebrisOfTheScriptsFilesIsSweptWhenItOpensAndNothingElse) {
    writeText(marks(), *encodeSidecar(sidecarWithCues(3)));
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

    EXPECT_EQ(files.open(pdf()).cues.size(), 3u) << "read through the link";
    ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
    for (const char* name : debris) EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const char* name : others) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::exists(dir / ".Show.tallowmark.tmp-Fresh1"));
    EXPECT_EQ(readText(dir / ".Show.tallowmark-run.tmp-Pdf001"), "%PDF-1.4 the script");
    EXPECT_EQ(entries(), before - static_cast<long>(std::size(debris)));
}

}  // namespace
}  // namespace tallowmark
