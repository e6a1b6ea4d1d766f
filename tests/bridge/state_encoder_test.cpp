#include "bridge/state_encoder.hpp"

#include <gtest/gtest.h>

#include "../cues/cue_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

// Records whose texts need escaping, so the kept text and a fresh encoding
// must agree byte for byte, not just by value.
CueSidecar awkwardMarks() {
    CueSidecar s = testing::sidecarWithCues(6);
    s.cues[1].label = "Quote \" backslash \\ tab \t newline \n";
    s.cues[2].note = "V\u00e4in\u00f6 \u2028 \U0001F3AD";
    s.cues[3].x = 0.1 + 0.2;  // a real that needs every digit
    s.marks = {Mark{.id = "m1", .x = 0.1, .kind = "region", .text = "A"}};
    s.flags = {Flag{.id = "f1", .role = "LX"}};
    s.memos = {Memo{.id = "n1", .text = "Check the haze"}};
    s.inserts = {Insert{.id = "i1", .text = "Added line"}};
    return s;
}

// The text sent to the page must be exactly what encoding the whole state
// dictionary gives, in every state a show passes through, and follow each
// change even though the bulk of it is kept between changes.
TEST(StateEncoder, TextIsTheDictionarysOwnEncodingThroughAShow) {
    testing::TempDir dir;
    CueEngine engine;
    StateEncoder encoder;
    auto check = [&](const char* step) {
        const auto text = encoder.encode(engine);
        ASSERT_TRUE(text) << step;
        EXPECT_EQ(*text, dumpJson(stateDictionary(engine), -1)) << step;
    };
    check("nothing open");
    engine.loadSidecar(dir / "Show.pdf");
    check("opened without marks");
    const CueSidecar marks = awkwardMarks();
    engine.upsert(marks.cues);
    for (const Mark& m : marks.marks) engine.upsert(m);
    engine.upsert(marks.flags[0]);
    engine.upsert(marks.memos[0]);
    engine.upsert(marks.inserts[0]);
    engine.setPageText(12, "twelve");
    engine.setPageLabelOffset(2);
    check("marked");
    engine.go("test");
    engine.go("test");
    check("two fired");
    Cue relabelled = engine.ordered()[0];
    relabelled.label = "Changed";
    engine.upsert(relabelled);
    check("a cue edited");
    engine.removeMemo("n1");
    engine.setPageText(0, "zero");
    check("a memo removed and a page text added");
    engine.back("test");
    check("back");
    engine.undo();
    check("undone");
    engine.go("test");
    engine.loadSidecar(dir / "Show.pdf");  // reopened: a saved run to offer
    ASSERT_TRUE(engine.resumeOffer());
    check("reopened with an offer");
    engine.reset("test");
    check("reset");
    engine.unload();
    check("closed");
}

// An event payload without a JSON form is not sent, and logged.
TEST(StateEncoder, AnUnwritableRealGivesNoTextAsTheDictionaryWouldGiveNoEvent) {
    CueEngine engine;
    CueSidecar s = testing::sidecarWithCues(2);
    s.cues[0].w = std::numeric_limits<double>::infinity();
    testing::EngineAccess::loadFromMemory(engine, s);
    EXPECT_FALSE(StateEncoder().encode(engine));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(BridgeEvents::payloadText("cueState", stateDictionary(engine)));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("failed to encode event 'cueState'"), std::string::npos);
    EXPECT_EQ(*BridgeEvents::payloadText("dimCommand", {{"dim", true}}), "{\"dim\":true}");
}

}  // namespace
}  // namespace tallowmark
