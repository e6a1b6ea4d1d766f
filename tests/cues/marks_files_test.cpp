// The marks file, its backups and the writer, on real files in a scratch folder.
#include "cues/marks_files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <set>

#include "core/main_queue.hpp"
#include "cue_fixtures.hpp"
#include "support/fifo_watchdog.hpp"
#include "support/json_text.hpp"
#include "support/writer_gate.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::readText;
using testing::sidecarWithCues;
using testing::writeText;

class Files : public testing::ScriptFolder {
protected:
    MarksFiles files;
};

// A marks file with `count` empty records (or page texts, or numbers) under `key`.
std::string marksWith(const std::string& key, std::size_t count) {
    const bool texts = key == "pageTexts";
    std::string text = "{\"" + key + "\": " + (texts ? "{" : "[");
    for (std::size_t n = 0; n < count; ++n)
        text += (n ? "," : "") + (texts ? "\"" + std::to_string(n) + "\": \"\"" : key == "crop" ? "0" : "{}");
    return text + (texts ? "}}" : "]}");
}

TEST(MarksFileName, OnlyTheLastExtensionIsReplaced) {
    EXPECT_EQ(sidecarPathFor("/a/My.Show.pdf"), fs::path("/a/My.Show.tallowmark"));
    EXPECT_EQ(sidecarPathFor("/a/Show"), fs::path("/a/Show.tallowmark"));
    EXPECT_EQ(runFilePathFor("/a/Show.tallowmark"), fs::path("/a/Show.tallowmark-run"));
    EXPECT_EQ(MarksFiles::backupPath("/a/Show.tallowmark", 3), fs::path("/a/Show.tallowmark.bak3"));
}

// Every field of every record away from its default: a key lost or renamed shows as a changed byte.
TEST(MarksFileBytes, AFullRecordEncodesToTheKnownTextAndReadsBackEqual) {
    const CueSidecar sidecar{
        .version = 2, .documentName = "Sh\xF6w.pdf",  // Latin-1: stored in its escaped form
        .cues = {Cue{.id = "C1", .number = "12", .label = "Valot", .kind = "LX", .page = 3, .x = 0.25, .y = 0.75,
                     .w = 0.125, .h = 0.0625, .labelX = 0.5, .color = "#112233", .snippet = "ovi", .note = "hidas",
                     .padL = 0.01, .padR = 0.02, .insertID = "I1"}},
        .marks = {Mark{.id = "M1", .page = 1, .x = 0.125, .y = 0.25, .w = 0.375, .h = 0.5, .kind = "underline",
                       .text = "t", .color = "#445566", .group = "g", .carry = "changed"}},
        .flags = {Flag{.id = "F1", .page = 2, .x = 0.75, .y = 0.875, .text = "ovelle", .color = "red", .role = "actor"}},
        .memos = {Memo{.id = "N1", .page = 4, .x = 0.5, .y = 0.25, .w = 0.25, .h = 0.125, .text = "muista",
                       .color = "yellow"}},
        .inserts = {Insert{.id = "I1", .page = 3, .afterY = 0.5, .lineMidY = 0.53125, .lineH = 0.03125, .x = 0.0625,
                           .text = "lisatty"}},
        .pageTexts = {{"0", "eka"}, {"3", "neljas"}}, .pageLabelOffset = -2, .crop = {0.1, 0.2, 0.7, 0.6},
        .spreadOffset = 1};
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
        "marks": [{"carry": "changed", "color": "#445566", "group": "g", "h": 0.5, "id": "M1", "kind": "underline", "page": 1, "text": "t",
                   "w": 0.375, "x": 0.125, "y": 0.25}],
        "memos": [{"color": "yellow", "h": 0.125, "id": "N1", "page": 4, "text": "muista", "w": 0.25, "x": 0.5,
                   "y": 0.25}],
        "pageLabelOffset": -2, "pageTexts": {"0": "eka", "3": "neljas"}, "spreadOffset": 1, "version": 2})"));
    EXPECT_EQ(decodeSidecar(*text), sidecar);
}

// What a carry left for review reads back; any other value of the key reads as
// nothing to review, and never costs the rest of the file.
TEST(MarksFileBytes, TheCarryKeyReadsOnlyAsChangedOrReview) {
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {R"("review")", "review"}, {R"("changed")", "changed"}, {R"("placed")", std::nullopt},
        {"5", std::nullopt},       {"null", std::nullopt},      {R"({"a": [1]})", std::nullopt},
    };
    for (const auto& [value, expected] : rows) {
        const auto sidecar = decodeSidecar(std::string(R"({"cues": [{"id": "C", "number": "1", "carry": )") + value +
                                           R"(}], "memos": [{"id": "N", "carry": )" + value + "}]}");
        ASSERT_TRUE(sidecar) << value;
        EXPECT_EQ(sidecar->cues.at(0).carry, expected) << value;
        EXPECT_EQ(sidecar->memos.at(0).carry, expected) << value;
    }
}

// Every name in the folder with what it holds, for "nothing on disk changed".
std::string folderState(const fs::path& folder) {
    std::string text;
    for (const fs::path& name : std::set<fs::path>(fs::directory_iterator(folder), fs::directory_iterator()))
        text += name.filename().string() + "=" +
                (fs::is_fifo(name) ? "FIFO" : fs::is_directory(name) ? "[" + folderState(name) + "]" : readText(name)) + "; ";
    return text;
}

// A file not read whole may still hold every cue of the show: the first save, of either kind,
// keeps it as backup 1 (rotating once only), and when backup 1 cannot be made nothing writes
// over it. A file beyond the bounds is left as it is, whatever is saved while it is open.
TEST_F(Files, AFileNotReadWholeIsKeptAsBackup1OrLeftAsItIs) {
    enum Outcome { kept, notKept, refused };
    // What is in the file's place, whether the first save rotates, the line logged, the outcome, the warning.
    struct Row { std::string what; std::function<void()> place; bool rotating; std::string line; Outcome outcome;
                 std::string warning = ""; };
    const std::string damaged = R"({"cues": [{"id": "a", "label": "Valot sis)" "\xE4" R"(an"}, {"id": "b"}]})";
    const std::string notRead = "merkintatiedostoa ei voitu lukea, aloitetaan tyhjasta";
    const std::string notSaved = "lukukelvotonta merkintatiedostoa ei saatu varmuuskopioksi";
    const std::string repaired = "\"Show.tallowmark\" had damaged text; it was repaired and the file as it was is "
                                 "kept as backup 1 at the next save.";
    const auto holding = [this](const std::string& text) { return [this, text] { writeText(marks(), text); }; };
    std::vector<Row> rows = {
        {"garbage", holding("roskaa"), false, notRead, kept},
        {"a page not whole", holding(R"({"cues":[{"id":"a","number":"1"},{"id":"b","page":1.5}]})"), true, notRead, kept},
        {"a null cue", holding(R"({"cues":[null]})"), false, notRead, kept},
        {"a page text not text", holding(R"({"pageTexts":{"0":1}})"), false, notRead, kept},
        {"an escaped name cut short", holding(R"({"documentName": "\u0000K%E"})"), false, notRead, kept},
        // Both kinds of damage (a stray byte, an escaped lone surrogate) are read alike by the decoder's own test.
        {"damaged, plain save", holding(damaged), false, "TALLOWMARK: merkintatiedostossa oli vioittunutta tekstia",
         kept, repaired},
        {"damaged, rotating save", holding(damaged), true, "merkintatiedostossa oli vioittunutta tekstia", kept, repaired},
        {"a folder in its place", [this] { fs::create_directories(marks() / "inside"); }, true, notSaved, notKept},
        {"a FIFO in its place", [this] { ::mkfifo(marks().c_str(), 0644); }, true, notSaved, notKept},
        {"backup names held by folders", [this] {
             writeText(marks(), "roskaa");
             for (int n = 1; n <= 5; ++n) fs::remove(backup(n)), fs::create_directories(backup(n) / "keep");
         }, true, notSaved, notKept},
    };
    const std::pair<std::string, const char*> bounds[] = {
        {"cues", "holds more than 100,000 cues"},   {"marks", "holds more than 100,000 marks"},
        {"flags", "holds more than 100,000 flags"}, {"memos", "holds more than 100,000 memos"},
        {"inserts", "holds more than 100,000 inserted lines"}, {"pageTexts", "holds more than 100,000 page texts"},
        {"crop", "holds more than 100,000 crop values"}, {"", "is larger than 64 MB"},  // not even read
    };
    for (const auto& [key, holds] : bounds) {
        rows.push_back({"over the bound: " + key, [this, list = key] {
                            writeText(marks(), list.empty() ? "" : marksWith(list, maxRecordsPerList + 1));
                            if (list.empty()) fs::resize_file(marks(), maxSidecarBytes + 1);  // sparse: no disk needed
                        }, true,
                        "TALLOWMARK: merkintatiedostoa ei lueta: " + (key.empty() ? "yli 64 MiB" : "luettelossa \"" + key),
                        refused, "\"Show.tallowmark\" " + std::string(holds) +
                                     ", more than this program reads. It was left as it is; marks made now are not saved."});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        for (int n = 1; n <= 4; ++n) writeText(backup(n), "backup " + std::to_string(n));
        writeText(dir / "Other.tallowmark", *encodeSidecar(sidecarWithCues(2)));
        row.place();
        const std::string before = folderState(dir.path());
        const std::string original = fs::is_regular_file(marks()) ? readText(marks()) : "";
        ::testing::internal::CaptureStderr();
        CueSidecar opened, fresh;  // fresh: what a script opens with when its marks file gives nothing
        fresh.documentName = "Show.pdf";
        EXPECT_TRUE(testing::returnsWithoutHelp(marks(), [&] { opened = files.open(pdf()); }));
        EXPECT_EQ(files.loadWarning(), row.warning);
        if (row.warning != repaired) EXPECT_EQ(opened, fresh);
        else EXPECT_EQ(opened.cues.size() == 2 ? opened.cues[0].label : "", "Valot sis\xEF\xBF\xBD" "an") << "every cue";
        ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
        EXPECT_EQ(folderState(dir.path()), before) << "nothing is written at the opening";
        CueSidecar record = opened;
        record.crop = {0.1, 0.1, 0.8, 0.8};
        EXPECT_EQ(files.queueSave(record, row.rotating), row.outcome != refused);
        if (row.outcome == kept) {
            for (const bool again : {false, true}) {  // a later save follows the usual rule again
                ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
                EXPECT_EQ(readText(backup(1)), original);
                EXPECT_EQ(readText(backup(2)), "backup 1") << "rotated once only";
                EXPECT_EQ(decodeSidecar(readText(marks())), record);
                if (!again) files.queueSave(record, false);
            }
        } else {
            // Every other kind of save: rotating and plain, the operator's two saves, an import.
            for (int n = 0; n < 4; ++n) files.queueSave(record, n % 2);
            EXPECT_FALSE(files.save(record, true));
            std::optional<bool> answer;
            EXPECT_TRUE(files.saveInBackground(record, [&](bool written) { answer = written; }));
            EXPECT_EQ(files.readImport(dir / "Other.tallowmark").has_value(), row.outcome == notKept);
            ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
            drainMainQueue();
            EXPECT_EQ(answer, std::optional(false)) << "the background save answers too";
            EXPECT_EQ(folderState(dir.path()), before) << "no byte, backup or temporary changed";
            if (row.outcome == notKept && fs::is_regular_file(marks())) {
                fs::remove_all(backup(1));  // room again: the next save keeps the old file, then writes
                EXPECT_TRUE(files.save(record, false));
                EXPECT_EQ(readText(backup(1)), original);
            }
        }
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(row.line), std::string::npos) << err;
        const std::string refusal = "merkintoja ei tallenneta";
        EXPECT_EQ(err.find(refusal) != std::string::npos, row.outcome == refused) << err;
        EXPECT_EQ(err.find(refusal, err.find(refusal) + 1), std::string::npos) << "logged once: " << err;
        files.close();
        EXPECT_EQ(files.loadWarning(), "") << "closing the script ends what was said about it";
    }
    // At the bound itself everything is as usual.
    writeText(marks(), marksWith("cues", maxRecordsPerList));
    EXPECT_EQ(files.open(pdf()).cues.size(), maxRecordsPerList);
    EXPECT_EQ(files.loadWarning(), "");
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
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(decodeSidecar(readText(backup(n))), saved(7 - n, 8 - n)) << "the file before save " << n << " back";
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
    const std::string err = testing::stderrOf([&] { EXPECT_FALSE(files.save(sidecarWithCues(1), true)); });
    EXPECT_NE(err.find("TALLOWMARK: sivutiedoston tallennus epaonnistui: No such file or directory\n"),
              std::string::npos) << err;
}

TEST_F(Files, TheOperatorsSaveAnswersOnceWrittenWithoutHoldingTheMainThread) {
    std::optional<bool> answer;
    const auto done = [&](bool written) { answer = written; };
    EXPECT_FALSE(files.saveInBackground(sidecarWithCues(1), done)) << "no script open";
    (void)files.open(pdf());
    {
        testing::WriterGate gate(files.writer());
        ASSERT_TRUE(files.saveInBackground(sidecarWithCues(7), done));
        drainMainQueue();
        EXPECT_FALSE(answer) << "no answer while the writer is busy, and no wait for it";
    }
    ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
    drainMainQueue();
    EXPECT_EQ(answer, std::optional(true)) << "the answer comes once the writer is done";
    EXPECT_EQ(decodeSidecar(readText(marks())), sidecarWithCues(7));
}

TEST_F(Files, ImportReadsTheLastSaveDamagedTextAndNothingBeyondTheBounds) {
    (void)files.open(pdf());
    files.queueSave(sidecarWithCues(1), true);
    files.queueSave(sidecarWithCues(2), true);  // backup 1 holds cue 1 only, once the writer is done
    EXPECT_EQ(files.readImport(backup(1)), sidecarWithCues(1));

    writeText(dir / "Huge.tallowmark", marksWith("memos", maxRecordsPerList + 1));
    writeText(dir / "Damaged.tallowmark", "{\"cues\": [{\"number\": \"7\xFF\"}]}");
    const std::string err = testing::stderrOf([&] {
        EXPECT_FALSE(files.readImport(dir / "Huge.tallowmark"));
        EXPECT_EQ(files.readImport(dir / "Damaged.tallowmark").value().cues.at(0).number, "7\xEF\xBF\xBD");
    });
    EXPECT_NE(err.find("merkintoja ei tuotu: luettelossa \"memos\" on yli 100000 kohtaa"), std::string::npos) << err;
    EXPECT_NE(err.find("tuodussa merkintatiedostossa oli vioittunutta tekstia"), std::string::npos) << err;
}

TEST_F(Files, CrashDebrisOfTheScriptsFilesIsSweptWhenItOpensAndNothingElse) {
    writeText(marks(), *encodeSidecar(sidecarWithCues(3)));
    const auto longAgo = fs::file_time_type::clock::now() - 1h;
    // Debris of the marks file, the run file and the backups is swept; another file's is kept.
    const std::pair<const char*, bool> names[] = {
        {".Show.tallowmark.tmp-Ab3dE9", true},       {".Show.tallowmark-run.tmp-Q1w2E3", true},
        {".Show.tallowmark.bak1.tmp-x9Y8z7", true},  {".Show.tallowmark.bak5.tmp-000000", true},
        {".Other.tallowmark.tmp-Ab3dE9", false},     {".Show.pdf.tmp-Ab3dE9", false},
        {".Show.tallowmark.bak6.tmp-Ab3dE9", false},
    };
    for (const auto& [name, swept] : names) writeText(dir / name, "partial"), fs::last_write_time(dir / name, longAgo);
    // The script's own files under names like ours, through a link or a second hard link: never debris.
    fs::rename(marks(), dir / ".Show.tallowmark.tmp-Marks1");
    fs::create_symlink(".Show.tallowmark.tmp-Marks1", marks());
    fs::last_write_time(dir / ".Show.tallowmark.tmp-Marks1", longAgo);
    writeText(pdf(), "%PDF-1.4 the script");
    fs::create_hard_link(pdf(), dir / ".Show.tallowmark-run.tmp-Pdf001");
    fs::last_write_time(pdf(), longAgo);
    const long before = entries();
    EXPECT_EQ(files.open(pdf()).cues.size(), 3u) << "read through the link";
    ASSERT_TRUE(files.flush(FileWriter::shutdownWait));
    for (const auto& [name, swept] : names) EXPECT_EQ(fs::exists(dir / name), !swept) << name;
    EXPECT_EQ(readText(dir / ".Show.tallowmark-run.tmp-Pdf001"), "%PDF-1.4 the script");
    EXPECT_EQ(entries(), before - 4);
}

}  // namespace
}  // namespace tallowmark
