// The calls on the open script against real PDFs: what each hands on from the
// store (tests/document proves the store itself), in the page's shape.

#include <glib.h>

#include "bridge/page_image_server.hpp"
#include "bridge_fixture.hpp"
#include "document/document_store.hpp"

namespace tallowmark {
namespace {

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
    EXPECT_EQ(std::tie(opened["title"], opened["pageCount"]), std::tuple(Json("Show"), Json(2)));
    // Each page's frame, y down, in its displayed aspect; the first's is the automatic crop to the bit.
    const Json& rects = opened["cropRects"];
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0], opened["autoCrop"]);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_NEAR(rects[i][2].get<double>() * 3 / (rects[i][3].get<double>() * 4), opened["aspects"][i].get<double>(), 1e-9);
    call("reportPage", Json::array({1}));
    EXPECT_EQ(call("currentDocument").value["visiblePage"], 1);

    // The width is bounded to 64..8192 and rounded; the settings give the default.
    EXPECT_EQ(pngWidth(Json::array({0, 10})), 64);
    EXPECT_EQ(pngWidth(Json::array({1, 1000.6})), 1001);
    call("setSettings", Json::array({{{"renderWidth", 700}}}));
    EXPECT_EQ(pngWidth(Json::array({0})), 700);
    EXPECT_EQ(pngWidth(Json::array({9})), -1);

    // Each line as four numbers; in the list of all pages a fifth, 1 for a page number.
    const auto lines = store.pageLines(0);
    const Json page = call("pageLines", Json::array({0})).value, all = call("allPageLines").value;
    ASSERT_TRUE(lines.size() == 4u && page.size() == 4u && all.size() == 2u && all[1].size() == 2u);
    for (std::size_t i = 0; i < 4; ++i) {
        Json line = listOf(lines[i]);
        EXPECT_EQ(page[i], line);
        line.push_back(i == 3 ? 1.0 : 0.0);  // the number at the foot
        EXPECT_EQ(all[0][i], line);
    }
    EXPECT_TRUE(all[1][1][4] == 1.0 && call("pageLines", Json::array({1})).value.size() == 2u);
    const Json found = call("searchDocument", Json::array({"pursued"})).value;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::tie(found[0]["page"], found[0]["rect"]), std::tuple(Json(1), listOf(store.search("pursued", 10)[0].rect)));

    // A drag into the second line: the store's selection, whole words unless told otherwise.
    const ViewPoint from{lines[0].x + 0.3 * lines[0].width, lines[0].y + lines[0].height / 2};
    const ViewPoint to{lines[1].x + 0.5 * lines[1].width, lines[1].y + lines[1].height / 2};
    const auto selection = store.textSelection(0, from, to, true);
    ASSERT_TRUE(selection && selection->lines.size() == 2u);
    const Json rect = call("textRect", Json::array({0, from.x, from.y, to.x, to.y})).value;
    EXPECT_EQ(rect["rect"], listOf(selection->rect));
    EXPECT_EQ(rect["lines"], Json::array({listOf(selection->lines[0]), listOf(selection->lines[1])}));
    EXPECT_EQ(call("textRect", Json::array({0, 0.1, 0.02, 0.6, 0.02, "no"})).value["text"], "Enter the ghost");
    const std::string part = call("textRect", Json::array({0, 0.1, 0.02, 0.6, 0.02, false})).value["text"];
    EXPECT_EQ(part, store.textSelection(0, {0.1, 0.02}, {0.6, 0.02}, false)->text);
    EXPECT_FALSE(part.starts_with("Enter")) << part;

    // Dropping page numbers reads the open script again and tells the page.
    timeline.clear();
    call("setSettings", Json::array({{{"dropPageNumbers", true}}}));
    ASSERT_EQ(timeline, (std::vector<std::string>{"reply setSettings", "event documentChanged"}));
    const Json changed = view->events.back()["payload"];
    EXPECT_LT(changed["autoCrop"][3].get<double>(), opened["autoCrop"][3].get<double>());
    EXPECT_EQ(call("currentDocument").value["autoCrop"], changed["autoCrop"]);

    // A crop is kept in the marks file as sent, as is the page seen last; anything but four numbers is none.
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
    // A crop over no text shows every page whole.
    const Json whole = Json::array({0.0, 0.0, 1.0, 1.0});
    EXPECT_EQ(call("setCrop", Json::array({Json::array({0.6, 0.6, 0.3, 0.1})})).value["cropRects"],
              Json::array({whole, whole}));
}

TEST_F(DocumentCallsTest, ALongScriptAnswersBeforeItsLinesAndItsCropFollowsOnce) {
    // More pages than the store collects before it answers, each with its own text block.
    std::vector<testing::FixturePage> pages;
    for (int p = 0; p < 60; ++p)
        pages.push_back({300, 400, {{30, 60.0 + p % 5 * 12, "Scene " + std::to_string(p) + " the tide turns", 12},
                                    {30, 220, "Exit pursued", 12}}});
    testing::writePdf(dir / "Long.pdf", pages);
    const Json opened = open(dir / "Long.pdf").value;
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
    // Until the crop is in the page places nothing; then it gets the new geometry, once.
    const bool pending = opened.value("linesPending", false);
    EXPECT_EQ(pending, opened["autoCrop"].empty());
    if (pending) EXPECT_TRUE(testing::pumpMainUntil(collect, 60000));
    drainMainQueue();
    const Json current = call("currentDocument").value;
    ASSERT_EQ(current["autoCrop"].size(), 4u);
    EXPECT_FALSE(current.contains("linesPending"));
    // Lines that came in while the open was answered may still correct its aspects.
    collect();
    EXPECT_EQ(changes.size(), pending ? 1u : changes.size());
    EXPECT_LE(changes.size(), 1u);
    for (const Json& changed : changes) {
        EXPECT_EQ(changed["aspects"], current["aspects"]);
        EXPECT_NE(changed["aspects"], opened["aspects"]);
    }
}

// A Latin-1 name reaches the page in a form JSON carries, and names the file when handed back.
TEST_F(DocumentCallsTest, AScriptWhoseNameIsNotUtf8OpensAgainFromThePathThePageWasGiven) {
    const std::string name = "K\xe4sikirjoitus.pdf";
    std::filesystem::copy_file(script(), dir / name);
    const Json opened = call("openDocumentPath", Json::array({pathToJson((dir / name).string())})).value;
    ASSERT_EQ(opened["pageCount"], 2) << opened.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string sent, marks;
    ASSERT_TRUE(readPath(opened["path"], sent) && readPath(opened["state"]["sidecarPath"], marks));
    EXPECT_EQ(sent, (dir / name).string());
    EXPECT_EQ(settings->settings().recentDocuments.front(), (dir / name).string());
    EXPECT_EQ(marks, (dir / "K\xe4sikirjoitus.tallowmark").string());
    call("closeDocument");
    EXPECT_EQ(call("openDocumentPath", Json::array({opened["path"]})).value["pageCount"], 2);
}

// What the marks file made the engine say (here a repair) reaches the page with the script.
TEST_F(DocumentCallsTest, AMarksFileWarningTravelsWithTheDocument) {
    const auto pdf = script();
    for (const std::string label : {"Rain", "R\xffin"}) {
        testing::writeText(dir / "Show.tallowmark", R"({"cues":[{"id":"a","label":")" + label + "\"}]}");
        const Json opened = open(pdf).value;
        const std::string& warning = bridge->engine().loadWarning();
        ASSERT_EQ(warning.empty(), label == "Rain");
        EXPECT_EQ(opened.contains("warning"), label != "Rain");
        EXPECT_EQ(opened.value("warning", ""), warning);
        EXPECT_EQ(call("currentDocument").value.value("warning", ""), warning);
        call("closeDocument");
    }
}

using Parsed = std::variant<PageImageAddress, std::string>;

TEST(PageImageAddress, ReadsPagesOfTheOneHostAndRefusesEverythingElse) {
    const std::pair<std::string, PageImageAddress> good[] = {
        {"tallowmark-page://images/0/1600", {0, 1600}},
        {"TALLOWMARK-PAGE://images/12/64?v=k3x.7", {12, 64}},  // scheme in any case; query ignored
        {"tallowmark-page://images/499/8192#x", {499, 8192}},
    };
    for (const auto& [url, address] : good) EXPECT_EQ(parsePageImageURL(url), Parsed{address}) << url;
    const std::pair<const char*, std::vector<std::string>> bad[] = {
        {"virheellinen sivu", {"images/-1/1600", "images/x/1600", "images/+3/1600", "images/99999999999/1600"}},
        // outside the render bounds, not a plain number, missing
        {"virheellinen leveys", {"images/0/63", "images/0/8193", "images/0/1600px", "images/0/"}},
        {"virheellinen osoite", {"images/0"}},
        {"vieras osoite", {"evil/0/1600", "images.evil/0/1600", "user@images/0/1600", "images:80/0/1600"}},
    };
    for (const auto& [error, paths] : bad)
        for (const std::string& path : paths)
            EXPECT_EQ(parsePageImageURL("tallowmark-page://" + path), Parsed{std::string(error)}) << path;
    for (const char* foreign : {"tallowmark-pages://images/0/1600", "file:///images/0/1600", ""})
        EXPECT_EQ(parsePageImageURL(foreign), Parsed{std::string("vieras osoite")}) << foreign;
    EXPECT_EQ(parsePageImagePath("/3/800?v=1"), (Parsed{PageImageAddress{3, 800}}));
    EXPECT_EQ(parsePageImagePath("3/800"), (Parsed{std::string("virheellinen osoite")}));
}

TEST(PageImageServing, AnswersAPageOfTheOpenScriptAndAnErrorForAnythingElse) {
    testing::TempDir dir;
    auto store = std::make_shared<DocumentStore>();
    const auto serve = [&](const std::string& url) {
        std::optional<PageImageAnswer> answer;
        servePageImage(store, parsePageImageURL(url), [&](PageImageAnswer a) { answer = std::move(a); });
        EXPECT_TRUE(testing::pumpMainUntil([&] { return answer.has_value(); }));
        return answer.value_or(PageImageAnswer{});
    };
    EXPECT_EQ(serve("tallowmark-page://images/0/200").error, "ei avointa kasikirjoitusta");

    const auto pdf = dir / "s.pdf";
    testing::writePdf(pdf, {{300, 400, {{30, 40, "Alpha beta", 12}}}, {300, 400, {}}});
    ASSERT_TRUE(store->open(pdf));
    const PageImageAnswer page = serve("tallowmark-page://images/1/200?v=a.1");
    ASSERT_TRUE(page.image) << page.error;
    // A gray page as an 8-bit BMP, its width at byte 18, ending its run-length rows.
    EXPECT_EQ(page.image->mimeType, "image/bmp");
    const auto& bytes = page.image->bytes;
    ASSERT_GT(bytes.size(), 1078u);
    EXPECT_EQ(std::tuple(bytes[0], bytes[18] | bytes[19] << 8, bytes[bytes.size() - 2], bytes.back()),
              std::tuple('B', 200, 0, 1));

    EXPECT_EQ(serve("tallowmark-page://images/2/200").error, "sivua ei ole");
    EXPECT_EQ(serve("tallowmark-page://other/0/200").error, "vieras osoite");
    store->close();
    EXPECT_EQ(serve("tallowmark-page://images/0/200").error, "ei avointa kasikirjoitusta");
    store.reset();  // the store gone with a request still to come
    EXPECT_EQ(serve("tallowmark-page://images/0/200").error, "ei avointa kasikirjoitusta");
}

}  // namespace
}  // namespace tallowmark
