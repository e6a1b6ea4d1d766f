// The calls on the open script against real PDFs: its dictionary, its pages'
// images, lines, words and crops, each as the store has them.

#include <glib.h>

#include <array>

#include "bridge_fixture.hpp"
#include "document/document_store.hpp"

namespace tallowmark {
namespace {

using testing::Reply;

Json listOf(const ViewFraction& f) { return Json::array({f.x, f.y, f.width, f.height}); }

class DocumentCallsTest : public testing::BridgeFixture {
protected:
    int pngWidth(Json body) {
        const Json r = call("renderPage", std::move(body)).value;
        if (!r.is_object()) return -1;
        gsize size = 0;
        guchar* bytes = g_base64_decode(r["png"].get<std::string>().c_str(), &size);
        const auto bitmap = testing::decodePng(std::vector<std::uint8_t>(bytes, bytes + size));
        g_free(bytes);
        return bitmap.width;
    }
};

TEST_F(DocumentCallsTest, OpensDrawsSearchesAndSelectsAsTheStoreDoes) {
    EXPECT_EQ(call("currentDocument").value, nullptr);
    EXPECT_EQ(open(dir / "Gone.pdf").value["error"], "\"Gone.pdf\" was not found \u2014 it may have been moved or deleted.");
    const auto path = script();
    DocumentStore store;
    ASSERT_TRUE(store.open(path));
    const Json opened = open(path).value;
    EXPECT_EQ(opened["title"], "Show");
    EXPECT_EQ(opened["pageCount"], 2);
    call("reportPage", Json::array({1}));
    EXPECT_EQ(call("currentDocument").value["visiblePage"], 1);

    // The width is bounded to 64..8192 and rounded; the settings give the default.
    EXPECT_EQ(pngWidth(Json::array({0, 10})), 64);
    EXPECT_EQ(pngWidth(Json::array({1, 1000.6})), 1001);
    call("setSettings", Json::array({{{"renderWidth", 700}}}));
    EXPECT_EQ(pngWidth(Json::array({0})), 700);
    EXPECT_EQ(pngWidth(Json::array({9})), -1);

    // Each line as four numbers; in the list of all pages then 1 for a page number, 0 for the rest.
    const auto lines = store.pageLines(0);
    const auto pages = store.allPageLines();
    ASSERT_TRUE(lines.size() == 4u && pages && pages->size() == 2u);
    const Json all = call("allPageLines").value;
    ASSERT_EQ(all.size(), 2u);
    for (std::size_t p = 0; p < 2; ++p) {
        Json page = call("pageLines", Json::array({p})).value;
        ASSERT_EQ(page.size(), (*pages)[p].size());
        for (std::size_t i = 0; i < page.size(); ++i) {
            EXPECT_EQ(page[i], listOf((*pages)[p][i].rect));
            page[i].push_back((*pages)[p][i].pageNumber ? 1.0 : 0.0);
        }
        EXPECT_EQ(all[p], page) << "page " << p;
        EXPECT_EQ(all[p].back().back(), 1.0) << "the number at the foot of page " << p;
    }

    const auto hits = store.search("pursued", 10);
    ASSERT_EQ(hits.size(), 1u);
    const Json found = call("searchDocument", Json::array({"pursued"})).value;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["page"], 1);
    EXPECT_EQ(found[0]["rect"], listOf(hits[0].rect));

    // A drag from the first line into the second.
    const ViewPoint from{lines[0].x + 0.3 * lines[0].width, lines[0].y + lines[0].height / 2};
    const ViewPoint to{lines[1].x + 0.5 * lines[1].width, lines[1].y + lines[1].height / 2};
    const auto selection = store.textSelection(0, from, to, true);
    ASSERT_TRUE(selection && selection->lines.size() == 2u);
    const Json rect = call("textRect", Json::array({0, from.x, from.y, to.x, to.y})).value;
    EXPECT_EQ(rect["rect"], listOf(selection->rect));
    EXPECT_EQ(rect["lines"], Json::array({listOf(selection->lines[0]), listOf(selection->lines[1])}));
    // From inside "Enter" to inside "ghost": whole words unless told otherwise.
    EXPECT_EQ(call("textRect", Json::array({0, 0.1, 0.02, 0.6, 0.02, "no"})).value["text"], "Enter the ghost");
    const std::string part = call("textRect", Json::array({0, 0.1, 0.02, 0.6, 0.02, false})).value["text"];
    EXPECT_EQ(part, store.textSelection(0, {0.1, 0.02}, {0.6, 0.02}, false)->text);
    EXPECT_FALSE(part.starts_with("Enter")) << part;

    // Dropping page numbers reads the open script again and tells the page.
    view->events.clear();
    call("setSettings", Json::array({{{"dropPageNumbers", true}}}));
    EXPECT_EQ(view->names(), std::vector<std::string>{"documentChanged"});
    const Json changed = view->events[0]["payload"];
    EXPECT_LT(changed["autoCrop"][3].get<double>(), opened["autoCrop"][3].get<double>());
    EXPECT_EQ(call("currentDocument").value["autoCrop"], changed["autoCrop"]);

    // A crop goes into the marks file as the page sent it and comes back on
    // the next open; anything but four numbers is none. The page seen last is kept.
    const Json crop = Json::array({0.125, 0.25, 0.5, 0.625});
    EXPECT_EQ(call("setCrop", Json::array({crop})).value["crop"], crop);
    EXPECT_EQ(call("closeDocument").value["sidecarPath"], "");
    EXPECT_EQ(call("currentDocument").value, nullptr);
    EXPECT_EQ(open(path).value["crop"], crop);
    EXPECT_EQ(call("currentDocument").value["visiblePage"], 1);
    for (const Json& bad : {Json::array({0.1, 0.2, 0.5}), Json::array({0.1, "0.1", 0.5, 0.5})}) {
        call("setCrop", Json::array({crop}));
        EXPECT_EQ(call("setCrop", Json::array({bad})).value["crop"], Json::array()) << bad;
    }
}

// Each page's crop as a frame of its whole page, y down: the first page's is
// the automatic crop, every frame has its page's displayed aspect, a manual
// crop holds them all, and one over no text leaves every page whole. The
// first page's text ends where measuring its frame from the top in two
// different orders rounds apart in the last bit.
TEST_F(DocumentCallsTest, CropRectsAreEachPagesFrameOfItsWholePage) {
    const auto path = dir / "Frames.pdf";
    testing::writePdf(path, {{300, 400, {{30, 40, "Alpha beta gamma"}, {30, 210, "Middle words here"}}},
                             {300, 400, {{60, 300, "Low line only"}}}});
    ASSERT_TRUE(open(path).value.is_object());
    struct Row { Json crop; std::array<double, 4> within; bool whole; };  // frames lie within; pages shown whole
    const std::vector<Row> rows = {
        {nullptr, {0, 0, 1, 1}, false},
        {Json::array({0.05, 0.05, 0.9, 0.85}), {0.05, 0.05, 0.9, 0.85}, false},
        {Json::array({0.6, 0.6, 0.3, 0.1}), {0, 0, 1, 1}, true},
    };
    for (const Row& row : rows) {
        const Json doc = call("setCrop", Json::array({row.crop})).value;
        ASSERT_TRUE(doc.is_object()) << row.crop;
        const Json& rects = doc["cropRects"];
        ASSERT_EQ(rects.size(), 2u) << row.crop;
        if (row.crop.is_null()) EXPECT_EQ(rects[0], doc["autoCrop"]);
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const double x = rects[i][0], y = rects[i][1], w = rects[i][2], h = rects[i][3];
            EXPECT_NEAR(w * 300 / (h * 400), doc["aspects"][i].get<double>(), 1e-9) << row.crop << " page " << i;
            if (row.whole) {
                EXPECT_EQ(rects[i], Json::array({0.0, 0.0, 1.0, 1.0})) << row.crop;
                continue;
            }
            EXPECT_LT(w, 1.0) << row.crop;
            EXPECT_GE(x, row.within[0] - 1e-9) << row.crop;
            EXPECT_GE(y, row.within[1] - 1e-9) << row.crop;
            EXPECT_LE(x + w, row.within[0] + row.within[2] + 1e-9) << row.crop;
            EXPECT_LE(y + h, row.within[1] + row.within[3] + 1e-9) << row.crop;
        }
        // The second page's text sits low: its frame starts lower than the first's.
        if (!row.whole) EXPECT_GT(rects[1][1].get<double>(), rects[0][1].get<double>()) << row.crop;
    }
}

TEST_F(DocumentCallsTest, ALongScriptAnswersBeforeItsLinesAndItsCropFollowsOnce) {
    // More pages than the store collects before it answers, each with its own text block.
    std::vector<testing::FixturePage> pages;
    for (int p = 0; p < 60; ++p)
        pages.push_back({300, 400, {{30, 60.0 + p % 5 * 12, "Scene " + std::to_string(p) + " the tide turns", 12},
                                    {30, 220, "Exit pursued", 12}}});
    const auto path = dir / "Long.pdf";
    testing::writePdf(path, pages);
    const Json opened = open(path).value;
    ASSERT_EQ(opened["pageCount"], 60);
    // A page the collection may not have reached yet is laid out on its own.
    EXPECT_EQ(call("pageLines", Json::array({59})).value.size(), 2u);

    std::vector<Json> changes;  // the payloads of the page's documentChanged events
    const auto collect = [&] {
        changes.clear();
        for (const Json& e : view->events)
            if (e["name"] == "documentChanged") changes.push_back(e["payload"]);
        return !changes.empty();
    };
    // Until the crop is in, the page is told not to place anything; then it
    // gets the new geometry, once.
    const bool pending = opened.value("linesPending", false);
    EXPECT_EQ(pending, opened["autoCrop"].empty());
    if (pending) EXPECT_TRUE(testing::pumpMainUntil(collect, 60000));
    drainMainQueue();
    const Json current = call("currentDocument").value;
    ASSERT_EQ(current["autoCrop"].size(), 4u);
    EXPECT_FALSE(current.contains("linesPending"));
    // Lines that came in while the open was answered may still correct its aspects.
    collect();
    EXPECT_LE(changes.size(), 1u);
    if (pending) EXPECT_EQ(changes.size(), 1u);
    for (const Json& changed : changes) {
        EXPECT_EQ(changed["aspects"], current["aspects"]);
        EXPECT_NE(changed["aspects"], opened["aspects"]);
    }
}

// A script on an older disk may have a Latin-1 name. The page gets its path in
// a form JSON can carry and hands that back; the bytes must still name the file.
TEST_F(DocumentCallsTest, AScriptWhoseNameIsNotUtf8OpensAgainFromThePathThePageWasGiven) {
    const std::string name = "K\xe4sikirjoitus.pdf";
    std::filesystem::copy_file(script(), dir / name);
    const Json opened = call("openDocumentPath", Json::array({pathToJson((dir / name).string())})).value;
    ASSERT_EQ(opened["pageCount"], 2) << opened.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string sent, marks;
    ASSERT_TRUE(readPath(opened["path"], sent));
    EXPECT_EQ(sent, (dir / name).string());
    EXPECT_EQ(settings->settings().recentDocuments.front(), (dir / name).string());
    ASSERT_TRUE(readPath(opened["state"]["sidecarPath"], marks));
    EXPECT_EQ(marks, (dir / "K\xe4sikirjoitus.tallowmark").string());

    call("closeDocument");
    EXPECT_EQ(call("openDocumentPath", Json::array({opened["path"]})).value["pageCount"], 2);
}

// What the marks file made the engine say (a repair, a file too large to
// read) reaches the page with the script; a sound file says nothing.
TEST_F(DocumentCallsTest, AMarksFileWarningTravelsWithTheDocument) {
    const auto pdf = script();
    const std::pair<std::string, bool> files[] = {{R"({"cues":[{"id":"a","label":"Rain"}]})", false},
                                                  {"{\"cues\":[{\"id\":\"a\",\"label\":\"R\xffin\"}]}", true}};
    for (const auto& [text, repaired] : files) {
        testing::writeText(dir / "Show.tallowmark", text);
        const Json opened = open(pdf).value;
        const std::string& warning = bridge->engine().loadWarning();
        ASSERT_EQ(warning.empty(), !repaired);
        EXPECT_EQ(opened.contains("warning"), repaired);
        EXPECT_EQ(opened.value("warning", ""), warning);
        EXPECT_EQ(call("currentDocument").value.value("warning", ""), warning);
        call("closeDocument");
    }
}

}  // namespace
}  // namespace tallowmark
