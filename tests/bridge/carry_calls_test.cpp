// Another version's marks carried onto the open script through the page's calls.

#include "bridge_fixture.hpp"

namespace tallowmark {
namespace {

using testing::readText, testing::writePdf, testing::writeText;
namespace fs = std::filesystem;

class CarryCallsTest : public testing::BridgeFixture {
protected:
    void SetUp() override { bridge->setDialogs(dialogs); }

    // A cue dragged over `phrase` on the open script.
    void cueOn(const std::string& id, const std::string& phrase) {
        const Json hits = call("searchDocument", Json::array({phrase})).value;
        ASSERT_FALSE(hits.empty()) << phrase;
        const Json& r = hits[0]["rect"];
        const double y = r[1].get<double>() + r[3].get<double>() / 2;
        const Json drag = call("textRect", Json::array({hits[0]["page"], r[0].get<double>() + 0.002, y,
                                                        r[0].get<double>() + r[2].get<double>() - 0.002, y, true}))
                              .value;
        ASSERT_TRUE(drag.is_object()) << phrase;
        const Json& d = drag["rect"];
        call("upsertCue", Json::array({{{"id", id}, {"number", id}, {"page", hits[0]["page"]}, {"x", d[0]},
                                        {"y", d[1]}, {"w", d[2]}, {"h", d[3]}, {"snippet", drag["text"]}}}));
    }
    Json throughPanel(const std::string& name, const fs::path& path) {
        dialogs->chosen = path.string();
        return call(name).value;
    }
    Json cue(const Json& state, const std::string& id) {
        for (const Json& c : state["cues"])
            if (c["id"] == id) return c;
        return nullptr;
    }
};

TEST_F(CarryCallsTest, MarksFollowTheirWordsIntoTheNewDraftAsOneUndoableStep) {
    const fs::path old = dir / "Storm v1.pdf", draft = dir / "Storm v2.pdf";
    writePdf(old, {{300, 400,
                    {{20, 40, "Enter the ghost of the old king"},
                     {20, 70, "The storm breaks over the house"},
                     {20, 100, "Exit pursued by a hungry bear"},
                     {20, 130, "Lights fade slowly to black"}}}});
    // A line added above, one word changed, one line cut.
    writePdf(draft, {{300, 400,
                      {{20, 40, "A bell rings somewhere far away"},
                       {20, 70, "Enter the ghost of the old king"},
                       {20, 100, "The tempest breaks over the house"},
                       {20, 130, "Lights fade slowly to black"}}}});
    ASSERT_TRUE(open(old).value.is_object());
    cueOn("ghost", "ghost of the old king");
    cueOn("storm", "storm breaks over the house");
    cueOn("bear", "pursued by a hungry bear");
    cueOn("fade", "fade slowly to black");
    ASSERT_EQ(call("saveSidecar").value, "Storm v1.tallowmark");
    const std::string oldMarks = readText(dir / "Storm v1.tallowmark");

    ASSERT_TRUE(open(draft).value.is_object());
    view->events.clear();
    const Json carried = throughPanel("importSidecar", old);
    ASSERT_TRUE(carried.is_object());
    EXPECT_EQ(carried["carried"],
              (Json{{"mode", "words"}, {"placed", 2}, {"changed", 1}, {"review", 1}, {"message", ""}}));
    EXPECT_TRUE(std::any_of(view->events.begin(), view->events.end(), [](const Json& e) { return e["name"] == "carryProgress"; }));
    // Placed on its own words, which moved down a line; the changed line kept; the cut one left for review.
    const Json ghost = cue(carried, "ghost");
    const Json hit = call("searchDocument", Json::array({"ghost of the old king"})).value[0];
    const auto middle = [](const Json& y, const Json& h) { return y.get<double>() + h.get<double>() / 2; };
    EXPECT_NEAR(middle(ghost["y"], ghost["h"]), middle(hit["rect"][1], hit["rect"][3]), 0.005);
    EXPECT_FALSE(ghost.contains("carry"));
    EXPECT_EQ(cue(carried, "storm")["carry"], "changed");
    EXPECT_EQ(cue(carried, "bear")["carry"], "review");
    ASSERT_TRUE(bridge->engine().flushWrites());
    EXPECT_EQ(readText(dir / "Storm v1.tallowmark"), oldMarks) << "the old version's marks are never written";
    EXPECT_NE(readText(dir / "Storm v2.tallowmark").find("\"carry\": \"review\""), std::string::npos);

    // Accepting clears the flags in one step; one undo takes it back, the next the whole carry.
    call("acceptCarried", Json::array({Json::array({"storm", "bear"})}));
    const Json accepted = call("getState").value;
    EXPECT_FALSE(cue(accepted, "storm").contains("carry") || cue(accepted, "bear").contains("carry"));
    EXPECT_EQ(cue(call("undo").value, "bear")["carry"], "review");
    EXPECT_TRUE(call("undo").value["cues"].empty());

    // Marks alone, their script nowhere: asked for, and without it copied by position, saying so.
    fs::create_directory(dir / "elsewhere");
    fs::copy_file(dir / "Storm v1.tallowmark", dir / "elsewhere" / "Stray.tallowmark");
    fs::remove(dir / "Storm v1.pdf");
    dialogs->hold = true;
    const auto reply = send("importSidecar");
    ASSERT_TRUE(testing::pumpMainUntil([&] { return !dialogs->held.empty(); }));
    dialogs->choose(dir / "elsewhere" / "Stray.tallowmark");
    ASSERT_TRUE(testing::pumpMainUntil([&] { return !dialogs->held.empty(); })) << "the script is asked for";
    auto cancel = std::move(dialogs->held.front());
    dialogs->held.pop_front();
    cancel(std::nullopt);
    const Json copied = settle(reply).value;
    EXPECT_EQ(copied["carried"]["mode"], "positions");
    EXPECT_EQ(copied["carried"]["message"], "No script was chosen for these marks. The marks were copied by page and position.");
    EXPECT_EQ(cue(copied, "bear")["page"], 0);
}

}  // namespace
}  // namespace tallowmark
