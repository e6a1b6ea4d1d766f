#include <gtest/gtest.h>

#include <regex>

#include "core/main_queue.hpp"
#include "cue_fixtures.hpp"
#include "support/json_text.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::numberedCue;
using testing::readText;
using testing::writeText;

using MarksFile = testing::ShowFolder;

// The record a script opens with when its marks file gives nothing.
CueSidecar freshFor(const std::string& pdfName) {
    CueSidecar sidecar;
    sidecar.documentName = pdfName;
    return sidecar;
}

TEST(MarksFileName, OnlyTheLastExtensionIsReplaced) {
    EXPECT_EQ(sidecarPathFor("/a/My.Show.pdf"), fs::path("/a/My.Show.tallowmark"));
    EXPECT_EQ(sidecarPathFor("/a/Show"), fs::path("/a/Show.tallowmark"));
    EXPECT_EQ(runFilePathFor("/a/Show.tallowmark"), fs::path("/a/Show.tallowmark-run"));
    EXPECT_EQ(CueEngine::backupPath("/a/Show.tallowmark", 3), fs::path("/a/Show.tallowmark.bak3"));
}

TEST_F(MarksFile, MissingKeysTakeTheirDefaultsAtEveryLevel) {
    writeText(marks(), R"({"cues":[{"number":"5"},{}], "memos":[{"text":null}], "documentName":null})");
    engine.loadSidecar(pdf());
    const CueSidecar& s = engine.sidecar();
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

TEST_F(MarksFile, UndecodableFilesGiveAFreshRecordNamedAfterThePdf) {
    for (const std::string text : {"roskaa", R"({"cues":[{"page":1.5}]})", R"({"cues":[null]})",
                                   R"({"pageTexts":{"0":1}})",
                                   R"({"documentName": "\u0000K%E"})"}) {  // an escaped name cut short
        writeText(marks(), text);
        engine.loadSidecar(pdf());
        EXPECT_EQ(engine.sidecar(), freshFor("Show.pdf")) << text;
        EXPECT_EQ(readText(marks()), text) << "nothing is written at load";
    }
}

TEST_F(MarksFile, AFileReadWithLossIsKeptAsBackup1ByTheFirstSaveRotatingOrNot) {
    // One bad value must not cost the operator every cue, nor a repair the text as it was: the first save
    // after such a load keeps the old content as backup 1, even for a crop change, and rotates once only.
    // Both kinds of damage (a stray byte, an escaped lone surrogate) are read alike by the decoder's own test.
    const std::string repaired = "Valot sis\xEF\xBF\xBD" "an";
    const std::pair<std::string, const char*> files[] = {
        {R"({"cues":[{"id":"a","number":"1"},{"id":"b","page":1.5}]})",
         "merkintatiedostoa ei voitu lukea, aloitetaan tyhjasta"},
        {R"({"cues": [{"id": "a", "label": "Valot sis)" "\xE4" R"(an"}, {"id": "b"}]})",
         "TALLOWMARK: merkintatiedostossa oli vioittunutta tekstia"},
    };
    for (const auto& [text, line] : files) {
        const bool damaged = text.find("label") != std::string::npos;
        for (const bool rotating : {false, true}) {
            SCOPED_TRACE(std::string(damaged ? "damaged" : "unreadable") + (rotating ? ", rotating save" : ", crop save"));
            writeText(marks(), text);
            writeText(backup(1), "older");
            fs::remove(backup(2));
            ::testing::internal::CaptureStderr();
            engine.loadSidecar(pdf());
            const std::string err = ::testing::internal::GetCapturedStderr();
            EXPECT_NE(err.find(line), std::string::npos) << err;
            if (damaged) {
                ASSERT_EQ(engine.sidecar().cues.size(), 2u) << "every cue is read";
                EXPECT_EQ(engine.sidecar().cues[0].label, repaired);
                EXPECT_EQ(engine.loadWarning(), "\"Show.tallowmark\" had damaged text; it was repaired and the file "
                                                "as it was is kept as backup 1 at the next save.");
            }

            rotating ? engine.upsert(numberedCue(1)) : engine.setCrop({0.1, 0.1, 0.8, 0.8});
            ASSERT_TRUE(engine.flushWrites());
            EXPECT_TRUE(readText(backup(1)) == text);
            EXPECT_EQ(readText(backup(2)), "older");
            EXPECT_FALSE(fs::exists(backup(3))) << "rotated once only";
            const auto saved = decodeSidecar(readText(marks()));
            ASSERT_TRUE(saved);
            if (damaged) EXPECT_EQ(saved->cues[0].label, repaired);

            engine.setCrop({0.2, 0.1, 0.7, 0.8});  // later saves follow the usual rule again
            ASSERT_TRUE(engine.flushWrites());
            EXPECT_TRUE(readText(backup(1)) == text);
            EXPECT_FALSE(fs::exists(backup(3)));
        }
    }
}

TEST_F(MarksFile, UnreadableFileIsNotOverwrittenWhenItCannotBeKept) {
    // Backup names taken by folders that cannot be moved or removed: the
    // rotation cannot make backup 1, so the broken file must stay as it is.
    for (int n = 1; n <= 5; ++n) {
        fs::create_directory(backup(n));
        writeText(backup(n) / "keep", "x");
    }
    const std::string broken = R"({"cues":[{"page":0.5}]})";
    writeText(marks(), broken);
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    EXPECT_FALSE(engine.saveSidecar(false));
    EXPECT_EQ(readText(marks()), broken);
    EXPECT_EQ(engine.sidecar().cues.size(), 1u) << "the change stands in memory";

    fs::remove_all(backup(1));  // room again: the next save keeps the old file and writes
    EXPECT_TRUE(engine.saveSidecar(false));
    EXPECT_EQ(readText(backup(1)), broken);
    EXPECT_EQ(decodeSidecar(readText(marks()))->cues.size(), 1u);
}

TEST_F(MarksFile, BackupsRotateAndAtMostFiveAreKept) {
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));  // no file before: no backup
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_FALSE(fs::exists(backup(1)));
    const std::string afterFirst = readText(marks());
    engine.upsert(numberedCue(2));
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(readText(backup(1)), afterFirst);

    for (int n = 3; n <= 8; ++n) engine.upsert(numberedCue(n));  // queued one after another
    ASSERT_TRUE(engine.flushWrites());
    for (int n = 1; n <= 5; ++n) EXPECT_TRUE(fs::exists(backup(n))) << n;
    EXPECT_FALSE(fs::exists(backup(6)));
    EXPECT_EQ(decodeSidecar(readText(backup(5))).value().cues.size(), 3u)
        << "backup 5 is the file as it was five saves ago";
}

TEST_F(MarksFile, NoScriptOpenNothingIsWrittenOrImported) {
    EXPECT_FALSE(engine.saveSidecar(true));
    engine.upsert(numberedCue(1));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u) << "the change stands in memory";
    writeText(dir / "Other.tallowmark", *encodeSidecar(testing::sidecarWithCues(2)));
    EXPECT_FALSE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u);
    EXPECT_EQ(engine.undoDepth(), 1u) << "the refused import takes no undo step";
    testing::EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(2));
    EXPECT_FALSE(engine.saveSidecar(false));
    engine.go("x");
    EXPECT_EQ(entries(), 1) << "Other only";
}

TEST_F(MarksFile, ARecordThatCannotBeEncodedIsNotWritten) {
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    ASSERT_TRUE(engine.flushWrites());
    const std::string before = readText(marks());
    Cue bad = numberedCue(2);
    bad.w = std::numeric_limits<double>::infinity();
    engine.upsert(bad);
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(readText(marks()), before);
}

TEST_F(MarksFile, ImportTakesMarksKeepsScriptSettingsAndTheRunAndCanBeUndone) {
    CueSidecar theirs = testing::sidecarWithCues(3);
    theirs.documentName = "Other.pdf";
    theirs.crop = {0.5, 0.5, 0.1, 0.1};
    theirs.pageLabelOffset = 4;
    theirs.pageTexts["1"] = "x";
    writeText(dir / "Other.tallowmark", *encodeSidecar(theirs));

    engine.loadSidecar(pdf());
    engine.upsert(std::vector<Cue>{numberedCue(2), numberedCue(9)});
    engine.setCrop({0.1, 0.1, 0.8, 0.8});
    engine.setSpreadOffset(1);
    engine.go("x");  // fires c2; standby c9, which the import takes away
    const CueSidecar mine = engine.sidecar();

    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    const CueSidecar& now = engine.sidecar();
    EXPECT_EQ(now.cues, theirs.cues);
    EXPECT_EQ(now.pageLabelOffset, 4);
    EXPECT_EQ(now.pageTexts, theirs.pageTexts);
    EXPECT_EQ(now.documentName, "Show.pdf");
    EXPECT_EQ(now.crop, mine.crop);
    EXPECT_EQ(now.spreadOffset, 1);
    EXPECT_EQ(engine.fired(), CueEngine::IdSet{"c2"}) << "import does not clear the run";
    EXPECT_EQ(engine.standbyID(), "c1") << "the first unfired cue replaces a standby cue that is gone";
    ASSERT_TRUE(engine.flushWrites());
    EXPECT_EQ(decodeSidecar(readText(backup(1)))->cues, mine.cues) << "replaced marks become backup 1";

    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(engine.sidecar(), mine);
    engine.standbyByID("c2");
    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(engine.standbyID(), "c2") << "a standby cue that is still there stays";
}

TEST_F(MarksFile, ImportOfOwnBackupAndFailures) {
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    engine.upsert(numberedCue(2));  // backup 1 holds cue 1 only
    ASSERT_TRUE(engine.importSidecar(backup(1)));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u);
    EXPECT_EQ(engine.undoDepth(), 3u);

    writeText(dir / "bad.tallowmark", "{\"cues\":5}");
    const CueSidecar before = engine.sidecar();
    EXPECT_FALSE(engine.importSidecar(dir / "bad.tallowmark"));
    EXPECT_FALSE(engine.importSidecar(dir / "missing.tallowmark"));
    EXPECT_EQ(engine.sidecar(), before);
    EXPECT_EQ(engine.undoDepth(), 3u) << "a failed import takes no undo step";
}

// A marks file with `count` empty records (or page texts) under `key`.
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

TEST_F(MarksFile, AFileBeyondTheBoundsIsLeftAsItIsWhateverIsDoneWhileItIsOpen) {
    const std::pair<const char*, const char*> kinds[] = {
        {"cues", "cues"},   {"marks", "marks"},         {"flags", "flags"},         {"memos", "memos"},
        {"inserts", "inserted lines"}, {"pageTexts", "page texts"}, {"crop", "crop values"},
    };
    for (const auto& [key, noun] : kinds) {
        SCOPED_TRACE(key);
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        const std::string huge = marksWith(key, maxRecordsPerList + 1);
        writeText(marks(), huge);
        ::testing::internal::CaptureStderr();
        engine.loadSidecar(pdf());
        EXPECT_EQ(engine.sidecar(), freshFor("Show.pdf"));
        EXPECT_EQ(engine.loadWarning(), std::string("\"Show.tallowmark\" holds more than 100,000 ") + noun +
                                            ", more than this program reads. It was left as it is; marks made "
                                            "now are not saved.");

        // Every kind of save: rotating and plain edits, the operator's saves, an import.
        engine.upsert(numberedCue(1));
        engine.setCrop({0.1, 0.1, 0.8, 0.8});
        EXPECT_FALSE(engine.saveSidecar(true));
        std::optional<bool> answer;
        EXPECT_TRUE(engine.saveSidecarInBackground([&](bool written) { answer = written; }));
        writeText(dir / "Other.tallowmark", *encodeSidecar(testing::sidecarWithCues(2)));
        EXPECT_FALSE(engine.importSidecar(dir / "Other.tallowmark"));
        ASSERT_TRUE(engine.flushWrites());
        drainMainQueue();
        const std::string err = ::testing::internal::GetCapturedStderr();

        EXPECT_EQ(answer, std::optional(false)) << "the background save answers too";
        EXPECT_EQ(engine.sidecar().cues.size(), 1u) << "the edits stand in memory";
        EXPECT_TRUE(readText(marks()) == huge) << "byte for byte";
        EXPECT_EQ(entries(), 2) << "marks and Other: no backups, no temporaries";
        const std::string refusal = "merkintoja ei tallenneta";
        ASSERT_NE(err.find(refusal), std::string::npos) << err;
        EXPECT_EQ(err.find(refusal, err.find(refusal) + 1), std::string::npos) << "logged once: " << err;
        EXPECT_NE(err.find(std::string("TALLOWMARK: merkintatiedostoa ei lueta: luettelossa \"") + key), std::string::npos)
            << err;

        engine.unload();
        EXPECT_EQ(engine.loadWarning(), "") << "closing the script ends what was said about it";
    }
    // Past the byte limit: not even read, and left alone the same way.
    writeText(marks(), "");
    fs::resize_file(marks(), maxSidecarBytes + 1);  // sparse: no disk needed
    const auto written = fs::last_write_time(marks());
    engine.loadSidecar(pdf());
    EXPECT_EQ(engine.loadWarning(), "\"Show.tallowmark\" is larger than 64 MB, more than this program reads. It was "
                                    "left as it is; marks made now are not saved.");
    engine.upsert(numberedCue(1));
    EXPECT_FALSE(engine.saveSidecar(false));
    EXPECT_EQ(fs::file_size(marks()), maxSidecarBytes + 1);
    EXPECT_EQ(fs::last_write_time(marks()), written);
    EXPECT_FALSE(fs::exists(backup(1)));

    // At the bound itself, and once the file is gone, everything is as usual.
    writeText(marks(), marksWith("cues", maxRecordsPerList));
    engine.loadSidecar(pdf());
    EXPECT_EQ(engine.sidecar().cues.size(), maxRecordsPerList);
    EXPECT_EQ(engine.loadWarning(), "");
    fs::remove(marks());
    engine.loadSidecar(pdf());
    testing::EngineAccess::loadFromMemory(engine, testing::sidecarWithCues(1));
    EXPECT_EQ(engine.loadWarning(), "");
}

TEST_F(MarksFile, ImportReadsDamagedTextAndRefusesAFileBeyondTheBounds) {
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    writeText(dir / "Huge.tallowmark", marksWith("memos", maxRecordsPerList + 1));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(engine.importSidecar(dir / "Huge.tallowmark"));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u);
    EXPECT_EQ(engine.undoDepth(), 1u) << "no undo step";

    writeText(dir / "Damaged.tallowmark", "{\"cues\": [{\"number\": \"7\xFF\"}]}");
    ASSERT_TRUE(engine.importSidecar(dir / "Damaged.tallowmark"));
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(engine.sidecar().cues.size(), 1u);
    EXPECT_EQ(engine.sidecar().cues[0].number, "7\xEF\xBF\xBD");
    EXPECT_NE(err.find("merkintoja ei tuotu: luettelossa \"memos\" on yli 100000 kohtaa"), std::string::npos) << err;
    EXPECT_NE(err.find("tuodussa merkintatiedostossa oli vioittunutta tekstia"), std::string::npos) << err;
}

}  // namespace
}  // namespace tallowmark
