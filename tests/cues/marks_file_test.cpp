#include <gtest/gtest.h>

#include <regex>

#include "core/json_helpers.hpp"
#include "cue_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::numberedCue;
using testing::readText;
using testing::TempDir;
using testing::writeText;

class MarksFile : public ::testing::Test {
protected:
    fs::path pdf() const { return dir / "Show.pdf"; }
    fs::path marks() const { return dir / "Show.tallowmark"; }
    fs::path backup(int n) const { return CueEngine::backupPath(marks(), n); }
    int backupsPresent() const {
        int count = 0;
        for (int n = 1; n <= 6; ++n) count += fs::exists(backup(n));
        return count;
    }

    TempDir dir;
    CueEngine engine;
};

TEST(MarksFileName, OnlyTheLastExtensionIsReplaced) {
    EXPECT_EQ(sidecarPathFor("/a/Show.pdf"), fs::path("/a/Show.tallowmark"));
    EXPECT_EQ(sidecarPathFor("/a/My.Show.pdf"), fs::path("/a/My.Show.tallowmark"));
    EXPECT_EQ(sidecarPathFor("/a/Show"), fs::path("/a/Show.tallowmark"));
    EXPECT_EQ(runFilePathFor("/a/Show.tallowmark"), fs::path("/a/Show.tallowmark-run"));
    EXPECT_EQ(CueEngine::backupPath("/a/Show.tallowmark", 3), fs::path("/a/Show.tallowmark.bak3"));
}

TEST_F(MarksFile, MissingKeysTakeTheirDefaultsAtEveryLevel) {
    writeText(marks(), R"({"cues":[{"number":"5"}], "memos":[{"text":null}], "documentName":null})");
    engine.loadSidecar(pdf());
    const CueSidecar& s = engine.sidecar();
    EXPECT_EQ(s.version, 1);
    EXPECT_EQ(s.documentName, "") << "a record read from a file keeps what it had";
    ASSERT_EQ(s.cues.size(), 1u);
    const Cue& cue = s.cues[0];
    EXPECT_TRUE(std::regex_match(cue.id, std::regex("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")));
    EXPECT_EQ(cue.number, "5");
    EXPECT_EQ(cue.kind, "SFX");
    EXPECT_EQ(cue.page, 0);
    EXPECT_DOUBLE_EQ(cue.x, 0.5);
    EXPECT_DOUBLE_EQ(cue.y, 0.5);
    EXPECT_DOUBLE_EQ(cue.w, 0.18);
    EXPECT_DOUBLE_EQ(cue.h, 0.016);
    EXPECT_DOUBLE_EQ(cue.padL, -1);
    EXPECT_DOUBLE_EQ(cue.padR, -1);
    ASSERT_EQ(s.memos.size(), 1u);
    EXPECT_DOUBLE_EQ(s.memos[0].w, 0.3);
    EXPECT_TRUE(s.marks.empty() && s.flags.empty() && s.inserts.empty() && s.pageTexts.empty());
    EXPECT_EQ(engine.standbyID(), cue.id);
}

TEST_F(MarksFile, RoundTripWritesEveryFieldSortedAndReadsBackEqual) {
    engine.loadSidecar(pdf());
    Cue cue = numberedCue(7);
    cue.note = "valo \"sisaan\"\n";
    cue.color = "#123456";
    cue.padL = 0.01;
    engine.upsert(cue);
    Mark mark;
    mark.id = "m1";
    mark.group = "g";
    engine.upsert(mark);
    Flag flag;
    flag.role = "actor";
    engine.upsert(flag);
    Memo memo;
    memo.text = "muista";
    engine.upsert(memo);
    Insert insert;
    insert.text = "lisatty repliikki";
    insert.lineH = 0.02;
    engine.upsert(insert);
    engine.setPageText(3, "sivu");
    engine.setCrop({0.1, 0.2, 0.7, 0.6});
    engine.setSpreadOffset(1);
    engine.setPageLabelOffset(-2);

    const std::string text = readText(marks());
    auto json = parseJson(text);
    ASSERT_TRUE(json);
    EXPECT_NE(text.find("\n  "), std::string::npos) << "pretty printed";
    EXPECT_EQ((*json)["cues"][0].size(), 16u) << "every field, defaults included";
    EXPECT_EQ((*json)["documentName"], "Show.pdf");
    std::vector<std::string> keys;
    for (auto it = json->begin(); it != json->end(); ++it) keys.push_back(it.key());
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));

    CueEngine other;
    other.loadSidecar(pdf());
    EXPECT_EQ(other.sidecar(), engine.sidecar());
}

TEST_F(MarksFile, UndecodableFilesGiveAFreshRecordNamedAfterThePdf) {
    const std::string cases[] = {
        "roskaa",
        R"({"cues":[{"page":1.5}]})",
        R"({"cues":[null]})",
        R"({"pageTexts":{"0":1}})",
        R"({"cues":[{"x":1e999}]})",
        std::string(200000, '[') + std::string(200000, ']'),
    };
    for (const std::string& text : cases) {
        writeText(marks(), text);
        engine.loadSidecar(pdf());
        EXPECT_EQ(engine.sidecar().documentName, "Show.pdf") << text.substr(0, 40);
        EXPECT_TRUE(engine.sidecar().cues.empty());
        EXPECT_EQ(engine.sidecar().version, 1);
        EXPECT_EQ(readText(marks()), text) << "nothing is written at load";
    }
}

TEST_F(MarksFile, UnreadableFileSurvivesANonRotatingSave) {
    // One bad value must not cost the operator every cue: the first save after
    // such a load keeps the old content as backup 1, even for a crop change.
    const std::string broken = R"({"cues":[{"id":"a","number":"1"},{"id":"b","page":1.5}]})";
    writeText(marks(), broken);
    engine.loadSidecar(pdf());
    engine.setCrop({0.1, 0.1, 0.8, 0.8});
    EXPECT_EQ(readText(backup(1)), broken);
    ASSERT_TRUE(decodeSidecar(readText(marks())));

    engine.setCrop({0.2, 0.1, 0.7, 0.8});  // later saves follow the usual rule again
    EXPECT_EQ(readText(backup(1)), broken);
    EXPECT_FALSE(fs::exists(backup(2)));
}

TEST_F(MarksFile, UnreadableFileIsRotatedOnceWhenTheSaveRotatesToo) {
    writeText(marks(), "roskaa");
    writeText(backup(1), "older");
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    EXPECT_EQ(readText(backup(1)), "roskaa");
    EXPECT_EQ(readText(backup(2)), "older");
    EXPECT_FALSE(fs::exists(backup(3)));
}

TEST_F(MarksFile, UnreadableFileIsNotOverwrittenWhenItCannotBeKept) {
    // Backup names taken by folders that cannot be moved or removed: the
    // rotation cannot make backup 1, so the broken file must stay as it is.
    for (int n = 1; n <= 5; ++n) {
        fs::create_directory(backup(n));
        writeText(backup(n) / "keep", "x");
    }
    writeText(marks(), "{\"cues\":[{\"page\":0.5}]}");
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    EXPECT_FALSE(engine.saveSidecar(false));
    EXPECT_EQ(readText(marks()), "{\"cues\":[{\"page\":0.5}]}");
    EXPECT_EQ(engine.sidecar().cues.size(), 1u) << "the change stands in memory";

    fs::remove_all(backup(1));  // room again: the next save keeps the old file and writes
    EXPECT_TRUE(engine.saveSidecar(false));
    EXPECT_EQ(readText(backup(1)), "{\"cues\":[{\"page\":0.5}]}");
    EXPECT_EQ(decodeSidecar(readText(marks()))->cues.size(), 1u);
}

TEST_F(MarksFile, BackupsRotateAndAtMostFiveAreKept) {
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));  // no file before: no backup
    EXPECT_EQ(backupsPresent(), 0);
    const std::string afterFirst = readText(marks());
    engine.upsert(numberedCue(2));
    EXPECT_EQ(readText(backup(1)), afterFirst);

    for (int n = 3; n <= 8; ++n) engine.upsert(numberedCue(n));
    EXPECT_EQ(backupsPresent(), 5);
    EXPECT_FALSE(fs::exists(backup(6)));
    auto oldest = decodeSidecar(readText(backup(5)));
    ASSERT_TRUE(oldest);
    EXPECT_EQ(oldest->cues.size(), 3u) << "backup 5 is the file as it was five saves ago";
}

TEST_F(MarksFile, NoScriptOpenNothingIsWritten) {
    EXPECT_FALSE(engine.saveSidecar(true));
    engine.upsert(numberedCue(1));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u) << "the change stands in memory";
    engine.loadFromMemoryForTesting(testing::sidecarWithCues(2));
    EXPECT_FALSE(engine.saveSidecar(false));
    engine.go("x");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(MarksFile, EncodingFailureAndWriteFailureReturnFalse) {
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    const std::string before = readText(marks());
    Cue bad = numberedCue(2);
    bad.w = std::numeric_limits<double>::infinity();
    engine.upsert(bad);
    EXPECT_EQ(readText(marks()), before) << "a record that cannot be encoded is not written";

    CueEngine elsewhere;
    elsewhere.loadSidecar(dir / "no-such-folder/Show.pdf");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(elsewhere.saveSidecar(false));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("TALLOWMARK: sivutiedoston tallennus epaonnistui: No such file or directory"),
              std::string::npos)
        << err;
}

TEST_F(MarksFile, ImportTakesMarksKeepsScriptSettingsAndCanBeUndone) {
    CueSidecar theirs = testing::sidecarWithCues(3);
    theirs.documentName = "Other.pdf";
    theirs.crop = {0.5, 0.5, 0.1, 0.1};
    theirs.spreadOffset = 0;
    theirs.pageLabelOffset = 4;
    theirs.pageTexts["1"] = "x";
    writeText(dir / "Other.tallowmark", *encodeSidecar(theirs));

    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(9));
    engine.setCrop({0.1, 0.1, 0.8, 0.8});
    engine.setSpreadOffset(1);
    const CueSidecar mine = engine.sidecar();

    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    const CueSidecar& now = engine.sidecar();
    EXPECT_EQ(now.cues, theirs.cues);
    EXPECT_EQ(now.pageLabelOffset, 4);
    EXPECT_EQ(now.pageTexts, theirs.pageTexts);
    EXPECT_EQ(now.documentName, "Show.pdf");
    EXPECT_EQ(now.crop, mine.crop);
    EXPECT_EQ(now.spreadOffset, 1);
    EXPECT_EQ(engine.standbyID(), "c1") << "the old standby cue is gone";
    EXPECT_EQ(decodeSidecar(readText(backup(1)))->cues, mine.cues) << "replaced marks become backup 1";

    ASSERT_TRUE(engine.undo());
    EXPECT_EQ(engine.sidecar(), mine);
}

TEST_F(MarksFile, ImportOfOwnBackupAndFailures) {
    engine.loadSidecar(pdf());
    engine.upsert(numberedCue(1));
    engine.upsert(numberedCue(2));  // backup 1 holds cue 1 only
    const auto depth = engine.undoDepth();
    ASSERT_TRUE(engine.importSidecar(backup(1)));
    EXPECT_EQ(engine.sidecar().cues.size(), 1u);
    EXPECT_EQ(engine.undoDepth(), depth + 1);

    writeText(dir / "bad.tallowmark", "{\"cues\":5}");
    const CueSidecar before = engine.sidecar();
    EXPECT_FALSE(engine.importSidecar(dir / "bad.tallowmark"));
    EXPECT_FALSE(engine.importSidecar(dir / "missing.tallowmark"));
    EXPECT_EQ(engine.sidecar(), before);
    EXPECT_EQ(engine.undoDepth(), depth + 1) << "a failed import takes no undo step";

    CueEngine closed;
    EXPECT_FALSE(closed.importSidecar(marks()));
    EXPECT_EQ(closed.undoDepth(), 0u);
}

TEST_F(MarksFile, ImportKeepsStandbyWhenItsCueStillExists) {
    CueSidecar theirs = testing::sidecarWithCues(4);
    writeText(dir / "Other.tallowmark", *encodeSidecar(theirs));
    engine.loadSidecar(pdf());
    for (int n = 1; n <= 4; ++n) engine.upsert(numberedCue(n));
    engine.go("x");
    engine.standbyByID("c3");
    ASSERT_TRUE(engine.importSidecar(dir / "Other.tallowmark"));
    EXPECT_EQ(engine.standbyID(), "c3");
    EXPECT_TRUE(engine.fired().contains("c1")) << "import does not clear the run";
}

}  // namespace
}  // namespace tallowmark
