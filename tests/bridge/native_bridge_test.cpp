#include <glib.h>

#include <algorithm>
#include <set>

#include "bridge_fixture.hpp"
#include "support/pdf_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::pageURL;
using testing::Reply;

// A web view that records the events of each batch it is handed, decoded the
// way the page's hook function decodes them, and takes every batch at once.
class RecordingView : public EventTransport {
public:
    explicit RecordingView(std::vector<std::string>& timeline) : timeline_(timeline) {}
    void deliverEvents(const std::string& batch, std::function<void()> taken) override {
        for (const Json& envelope : Json::parse(batch)) {
            events.push_back(envelope);
            timeline_.push_back("event " + envelope["name"].get<std::string>());
        }
        postToMain(std::move(taken));
    }
    std::vector<Json> events;

private:
    std::vector<std::string>& timeline_;
};

class NativeBridgeTest : public testing::BridgeFixture {
protected:
    NativeBridgeTest() {
        bridge->setWebView(view);
        bridge->setDemoFolderForTesting(dir / "demo");
    }
    void replied(const std::string& name) override { timeline.push_back("reply " + name); }

    std::filesystem::path script() {
        const auto path = dir / "Show.pdf";
        testing::writePdf(path, {{300, 400, {{30, 40, "Enter the ghost", 12}, {30, 80, "Thunder offstage", 12}, {145, 370, "1", 12}}},
                                 {300, 400, {{30, 120, "Exit pursued", 12}, {145, 370, "7", 12}}}});
        return path;
    }

    std::vector<std::string> eventNames() const {
        std::vector<std::string> names;
        for (const Json& e : view->events) names.push_back(e["name"]);
        return names;
    }

    std::vector<std::string> timeline;
    std::shared_ptr<RecordingView> view = std::make_shared<RecordingView>(timeline);
};

TEST_F(NativeBridgeTest, OnlyTheMainFrameOfTheGuardedPageMayCall) {
    ::testing::internal::CaptureStderr();
    const Reply embedded = call("getState", Json::array(), false);
    const Reply elsewhere = call("getState", Json::array(), true, "https://example.org/");
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(embedded.error, "ei sallittu");
    EXPECT_EQ(elsewhere.error, "ei sallittu");
    EXPECT_NE(log.find(std::string("TALLOWMARK: siltakutsu hylatty: getState ") + pageURL), std::string::npos);
    EXPECT_NE(log.find("siltakutsu hylatty: getState https://example.org/"), std::string::npos);

    bridge->setPageGuard(nullptr);
    EXPECT_EQ(call("getState").error, "ei sallittu");
    bridge->setPageGuard(std::make_shared<PageGuard>(pageURL));
    EXPECT_FALSE(call("getState").error);
    EXPECT_EQ(call("GetState").error, "tuntematon funktio: GetState");
    const auto names = NativeBridge::callNames();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << "a name listed twice";
}

TEST_F(NativeBridgeTest, EveryCallAnswersOnceWhateverItIsSent) {
    Json huge = Json::array();
    for (int i = 0; i < 20000; ++i) huge.push_back(i % 2 ? Json("x") : Json{{"page", i}});
    const std::vector<Json> bodies = {
        Json(nullptr), Json("go"), Json::object(), Json::array(), Json::array({nullptr, nullptr, nullptr}),
        Json::array({std::nan(""), INFINITY, -1e308, "", Json::object(), Json::array()}),
        Json::array({-9e18, 9e18, 1.5, true, false, 3, 4, 5}), Json::array({huge}), huge};
    ASSERT_TRUE(call("openDocumentPath", Json::array({script().string()})).value.is_object());
    for (const std::string& name : NativeBridge::callNames()) {
        for (const Json& body : bodies) {
            const Reply r = call(name, body);
            EXPECT_TRUE(r.done) << name << " " << body.dump().substr(0, 80);
            // Closing the script is among the calls; importing then has nothing to import into.
            EXPECT_TRUE(!r.error || *r.error == "no open script" || *r.error == "no layout") << name << " " << body.dump().substr(0, 80);
        }
    }
}

TEST_F(NativeBridgeTest, CuesArePlacedUndoneAndRunWithEventsAfterTheReply) {
    const Json opened = call("openDocumentPath", Json::array({script().string()})).value;
    ASSERT_EQ(opened["pageCount"], 2);
    auto monitor = std::make_shared<RecordingView>(timeline);
    bridge->setConfidenceWebView(monitor);
    timeline.clear();

    const Reply placed = call("upsertCue", Json::array({{{"number", "1"}, {"page", 0}, {"y", 0.2}}}));
    ASSERT_TRUE(placed.value.is_string());
    EXPECT_EQ(timeline, (std::vector<std::string>{"reply upsertCue", "event cueState", "event cueState"}));
    EXPECT_EQ(view->events.back()["payload"]["cues"][0]["id"], placed.value);
    EXPECT_EQ(monitor->events.back(), view->events.back());
    monitor.reset();  // the monitor closed: its events are dropped, the main view's still arrive

    const Json ids = call("upsertCues", Json::array({Json::array({{{"id", "C2"}, {"number", "2"}, {"y", 0.6}},
                                                                 {{"id", "C3"}, {"page", 1}}})})).value;
    EXPECT_EQ(ids, Json::array({"C2", "C3"}));
    EXPECT_EQ(call("upsertCues", Json::array({Json::array({Json::object(), "C4"})})).value, Json::array());
    EXPECT_EQ(call("upsertCue").value, false);
    EXPECT_EQ(call("removeCue").value, true);
    EXPECT_EQ(call("getState").value["cues"].size(), 3u);
    // No id must not mean "every cue that is not on an inserted line".
    EXPECT_EQ(call("removeInsert").value, false);
    EXPECT_EQ(call("removeInsert", Json::array({""})).value, false);
    EXPECT_EQ(call("getState").value["cues"].size(), 3u);

    // The run calls answer with their run change alone, and the page hears of
    // it as "runState", never as the whole state.
    timeline.clear();
    Json run = call("go").value;
    EXPECT_EQ(run["lastFiredID"], placed.value);
    EXPECT_EQ(run["standbyID"], "C2");
    EXPECT_EQ(run["fired"], Json::array({placed.value}));
    EXPECT_EQ(run["seq"].get<int>(), run["from"].get<int>() + 1);
    EXPECT_FALSE(run.contains("cues"));
    EXPECT_EQ(timeline, (std::vector<std::string>{"reply go", "event runState"}));
    run = call("go", Json::array({"osc"})).value;
    EXPECT_EQ(run["fired"], Json::array({"C2"}));
    EXPECT_EQ(run["firedCount"], 2);
    EXPECT_EQ(run["total"], 3);
    run = call("back").value;
    EXPECT_EQ(run["standbyID"], "C2");
    EXPECT_EQ(run["unfired"], Json::array({"C2"}));
    EXPECT_EQ(run["firedCount"], 1);
    run = call("reset").value;
    EXPECT_EQ(run["clear"], true);
    EXPECT_EQ(run["fired"], Json::array());
    EXPECT_EQ(run["firedCount"], 0);
    Json state = call("getState").value;
    EXPECT_EQ(state["seq"], run["seq"]);

    call("removeCues", Json::array({Json::array({"C2", "C3"})}));
    EXPECT_EQ(call("getState").value["cues"].size(), 1u);
    state = call("undo").value;
    EXPECT_EQ(state["cues"].size(), 3u);
    EXPECT_EQ(state["canRedo"], true);
    EXPECT_EQ(call("redo").value["cues"].size(), 1u);

    EXPECT_EQ(call("setSpreadOffset", Json::array({1.4})).value, 1);
    call("setPageText", Json::array({1, "Scene two"}));
    call("setPageLabelOffset", Json::array({-2}));
    const Json memoID = call("upsertMemo", Json::array({{{"text", "check"}}})).value;
    EXPECT_EQ(call("upsertMemo", Json::array({"text"})).value, nullptr);
    EXPECT_EQ(call("upsertFlag", Json::array({{{"id", "F"}, {"role", "warn"}}})).value, "F");
    EXPECT_EQ(call("upsertMark", Json::array({{{"id", "M"}, {"w", 0.3}}})).value, "M");
    state = call("getState").value;
    EXPECT_EQ(state["spreadOffset"], 1);
    EXPECT_EQ(state["pageLabelOffset"], -2);
    EXPECT_EQ(state["pageTexts"]["1"], "Scene two");
    EXPECT_EQ(state["memos"][0]["id"], memoID);
    EXPECT_EQ(state["flags"][0]["role"], "warn");
    EXPECT_EQ(state["marks"][0]["w"], 0.3);
    EXPECT_NE(state["sidecarPath"], "");
}

// A script on an older disk may have a Latin-1 name. The page gets its path in
// a form JSON can carry and hands that back; the bytes must still name the file.
TEST_F(NativeBridgeTest, ALongScriptAnswersBeforeItsLinesAndItsCropFollowsOnce) {
    // More pages than the store collects before it answers, each with its own text block.
    std::vector<testing::FixturePage> pages;
    for (int p = 0; p < 60; ++p)
        pages.push_back({300, 400, {{30, 60.0 + p % 5 * 12, "Scene " + std::to_string(p) + " the tide turns", 12},
                                    {30, 220, "Exit pursued", 12}}});
    const auto path = dir / "Long.pdf";
    testing::writePdf(path, pages);
    const Json opened = call("openDocumentPath", Json::array({path.string()})).value;
    ASSERT_EQ(opened["pageCount"], 60);
    // A page the collection may not have reached yet is laid out on its own.
    EXPECT_EQ(call("pageLines", Json::array({59})).value.size(), 2u);

    auto changes = [&] {
        return std::count_if(view->events.begin(), view->events.end(),
                             [](const Json& e) { return e["name"] == "documentChanged"; });
    };
    // The open answered with the crop only if the lines were in by then; otherwise it comes once.
    const bool answeredWithCrop = !opened["autoCrop"].empty();
    if (!answeredWithCrop) EXPECT_TRUE(testing::pumpMainUntil([&] { return changes() > 0; }, 60000));
    drainMainQueue();
    const Json current = call("currentDocument").value;
    ASSERT_EQ(current["autoCrop"].size(), 4u);
    ASSERT_EQ(changes(), answeredWithCrop ? 0 : 1);
    // Until the crop is in, the page is told not to place anything.
    EXPECT_EQ(opened.value("linesPending", false), !answeredWithCrop);
    EXPECT_FALSE(current.contains("linesPending"));
    if (!answeredWithCrop) {
        const Json& changed = (*std::find_if(view->events.begin(), view->events.end(), [](const Json& e) {
            return e["name"] == "documentChanged";
        }))["payload"];
        EXPECT_EQ(changed["aspects"], current["aspects"]);
        EXPECT_NE(changed["aspects"], opened["aspects"]);
    }
}

TEST_F(NativeBridgeTest, AScriptWhoseNameIsNotUtf8OpensAgainFromThePathThePageWasGiven) {
    const std::string name = "K\xe4sikirjoitus.pdf";
    std::filesystem::copy_file(script(), dir / name);
    const Json opened = call("openDocumentPath", Json::array({pathToJson((dir / name).string())})).value;
    ASSERT_EQ(opened["pageCount"], 2) << opened.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string sent;
    ASSERT_TRUE(readPath(opened["path"], sent));
    EXPECT_EQ(sent, (dir / name).string());
    EXPECT_EQ(settings->settings().recentDocuments.front(), (dir / name).string());
    std::string marks;
    ASSERT_TRUE(readPath(opened["state"]["sidecarPath"], marks));
    EXPECT_EQ(marks, (dir / "K\xe4sikirjoitus.tallowmark").string());

    call("closeDocument");
    EXPECT_EQ(call("openDocumentPath", Json::array({opened["path"]})).value["pageCount"], 2);
}

// What the marks file made the engine say reaches the page with the script:
// nothing for a sound file, a sentence for a repaired or an unread one.
TEST_F(NativeBridgeTest, AMarksFileWarningTravelsWithTheDocument) {
    const auto pdf = script();
    const auto marks = dir / "Show.tallowmark";
    std::string huge = "{\"flags\":[";
    for (int i = 0; i <= 100000; ++i) huge += i ? ",{}" : "{}";
    huge += "]}";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"cues":[{"id":"a","label":"Rain"}]})", ""},
        {"{\"cues\":[{\"id\":\"a\",\"label\":\"R\xffin\"}]}", "had damaged text"},
        {huge, "holds more than 100,000 flags"},
    };
    for (const auto& [text, warning] : cases) {
        testing::writeText(marks, text);
        const Json opened = call("openDocumentPath", Json::array({pdf.string()})).value;
        if (warning.empty()) {
            EXPECT_FALSE(opened.contains("warning"));
        } else {
            EXPECT_NE(opened.value("warning", "").find(warning), std::string::npos) << opened.value("warning", "");
            EXPECT_EQ(call("currentDocument").value["warning"], opened["warning"]);
        }
        call("closeDocument");
    }
}

TEST_F(NativeBridgeTest, OpensRendersSearchesAndSelectsARealScript) {
    EXPECT_EQ(call("currentDocument").value, nullptr);
    const auto missing = dir / "Gone.pdf";
    EXPECT_EQ(call("openDocumentPath", Json::array({missing.string()})).value["error"],
              "\"Gone.pdf\" was not found \u2014 it may have been moved or deleted.");
    EXPECT_EQ(call("openDocumentPath").value, nullptr);

    const auto path = script();
    const Json opened = call("openDocumentPath", Json::array({path.string()})).value;
    EXPECT_EQ(opened["title"], "Show");
    EXPECT_EQ(settings->settings().recentDocuments.front(), path.string());
    call("reportPage", Json::array({1}));
    EXPECT_EQ(call("currentDocument").value["visiblePage"], 1);

    auto pngWidth = [&](Json body) {
        const Json r = call("renderPage", std::move(body)).value;
        if (!r.is_object()) return -1;
        gsize size = 0;
        guchar* bytes = g_base64_decode(r["png"].get<std::string>().c_str(), &size);
        const auto bitmap = testing::decodePng(std::vector<std::uint8_t>(bytes, bytes + size));
        g_free(bytes);
        return bitmap.width;
    };
    EXPECT_EQ(pngWidth(Json::array({0, 10})), 64);
    EXPECT_EQ(pngWidth(Json::array({1, 1000.6})), 1001);
    call("setSettings", Json::array({{{"renderWidth", 700}}}));
    EXPECT_EQ(pngWidth(Json::array({0})), 700);
    EXPECT_EQ(pngWidth(Json::array({9})), -1);
    EXPECT_EQ(pngWidth(Json::array({"0"})), -1);

    EXPECT_EQ(call("searchDocument", Json::array({"T"})).value, Json::array());
    const Json hits = call("searchDocument", Json::array({"pursued"})).value;
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0]["page"], 1);

    EXPECT_EQ(call("pageLines", Json::array({0})).value.size(), 3u);
    EXPECT_EQ(call("textRect", Json::array({0, 0.1, 0.1, 0.3})).value, nullptr);
    const Json word = call("textRect", Json::array({0, 0.05, 0.02, 0.1, 0.02})).value;
    EXPECT_EQ(word["text"], "Enter");
    // A drag from inside "Enter" to inside "ghost": whole words unless told otherwise.
    EXPECT_EQ(call("textRect", Json::array({0, 0.1, 0.02, 0.6, 0.02})).value["text"], "Enter the ghost");
    const std::string part = call("textRect", Json::array({0, 0.1, 0.02, 0.6, 0.02, false})).value["text"];
    EXPECT_FALSE(part.starts_with("Enter")) << part;
    EXPECT_NE(part.find("r the g"), std::string::npos) << part;

    // Dropping page numbers re-reads the open script and tells the page.
    view->events.clear();
    call("setSettings", Json::array({{{"dropPageNumbers", true}}}));
    EXPECT_EQ(eventNames(), std::vector<std::string>{"documentChanged"});
    const Json changed = view->events[0]["payload"];
    EXPECT_LT(changed["autoCrop"][3].get<double>(), opened["autoCrop"][3].get<double>());
    EXPECT_EQ(call("currentDocument").value["autoCrop"], changed["autoCrop"]);

    EXPECT_EQ(call("setCrop", Json::array({Json::array({0.1, 0.1, 0.5, 0.5})})).value["crop"].size(), 4u);
    EXPECT_EQ(call("setCrop", Json::array({Json::array({0.1, "0.1", 0.5, 0.5})})).value["crop"], Json::array());

    EXPECT_EQ(call("closeDocument").value["sidecarPath"], "");
    EXPECT_EQ(call("currentDocument").value, nullptr);
    call("openDocumentPath", Json::array({path.string()}));
    EXPECT_EQ(call("currentDocument").value["visiblePage"], 1);
}

TEST_F(NativeBridgeTest, SettingsAreLimitedSavedAndRestartTheListenerOnlyOnChange) {
    EXPECT_EQ(call("setSettings", Json::array({5})).value, false);
    EXPECT_EQ(call("setSettings", Json::array({{{"renderWidth", 100}}})).value["renderWidth"], 600);
    EXPECT_EQ(call("setSettings", Json::array({{{"renderWidth", "900"}}})).value["renderWidth"], 600);

    auto restarts = [&] {
        int n = 0;
        for (const Json& entry : call("getLog").value) n += entry["text"] == "OSC pois kaytosta";
        return n;
    };
    call("setSettings", Json::array({{{"oscPort", 53999}}}));
    EXPECT_EQ(restarts(), 1);
    call("setSettings", Json::array({{{"oscPort", 53999}, {"oscEnabled", false}}}));
    EXPECT_EQ(restarts(), 1);
    EXPECT_NE(std::find(eventNames().begin(), eventNames().end(), "controlStatus"), eventNames().end());

    int menuReports = 0;
    bridge->onMenuStateChange = [&] { ++menuReports; };
    EXPECT_EQ(call("menuState", Json::array({{{"hasDoc", true}}})).value, true);
    EXPECT_EQ(menuReports, 1);
    EXPECT_TRUE(bridge->menuState().hasDoc);
    EXPECT_EQ(bridge->menuState().theme, "deep");
    EXPECT_EQ(call("updateStatus").value, (Json{{"available", nullptr}, {"current", "20260101-1"}}));
}

class ScriptedWindow : public BridgeWindow {
public:
    WindowFrame frame() const override { return current; }
    bool isFullScreen() const override { return fullScreen; }
    std::optional<WindowFrame> screenVisibleFrame() const override { return screen; }
    void setFrame(const WindowFrame& f) override { current = f; }
    void setMinimumSize(double w, double h) override { minimum = {0, 0, w, h}; }

    WindowFrame current{900, 50, 500, 700};
    bool fullScreen = false;
    std::optional<WindowFrame> screen = WindowFrame{0, 0, 1280, 800};
    WindowFrame minimum;
};

class ScriptedTitleBar : public BridgeTitleBar {
public:
    double reportedReserve() const override { return want ? 8 : 0; }
    bool wanted() const override { return want; }
    void setWanted(bool w) override {
        want = w;
        ++changes;
    }
    bool want = false;
    int changes = 0;
};

TEST_F(NativeBridgeTest, WindowGrowsWithinItsScreenAndFollowsMaximisedText) {
    EXPECT_EQ(call("ensureWindowWidth", Json::array({800})).value, false);  // no window yet
    auto window = std::make_shared<ScriptedWindow>();
    bridge->setWindow(window);
    EXPECT_EQ(call("ensureWindowWidth", Json::array({400})).value, true);
    EXPECT_EQ(call("ensureWindowWidth", Json::array({800})).value, true);
    EXPECT_EQ(window->current.width, 800);
    EXPECT_EQ(window->current.x, 480);  // pulled left to stay on the screen
    EXPECT_EQ(window->current.height, 700);
    EXPECT_EQ(call("ensureWindowWidth", Json::array({2000})).value, false);
    EXPECT_EQ(window->current.width, 1280);
    EXPECT_EQ(window->current.x, 0);
    window->current.width = 300;
    window->fullScreen = true;
    EXPECT_EQ(call("ensureWindowWidth", Json::array({800})).value, false);
    EXPECT_EQ(window->current.width, 300);

    window->fullScreen = false;
    EXPECT_EQ(call("windowChrome").value, (Json{{"reserve", 0}}));
    auto titleBar = std::make_shared<ScriptedTitleBar>();
    bridge->setTitleBar(titleBar);
    call("setSettings", Json::array({{{"maxText", true}}}));
    EXPECT_EQ(titleBar->changes, 1);
    EXPECT_EQ(call("windowChrome").value, (Json{{"reserve", 8}}));
    EXPECT_EQ(window->minimum.width, 360);
    EXPECT_EQ(window->current.width, 360);
    call("setSettings", Json::array({{{"maxText", false}}}));
    EXPECT_EQ(window->minimum.width, 600);
    EXPECT_EQ(window->minimum.height, 620);
}

// Panels answer on a later turn of the main queue, as the real ones do.
class ScriptedDialogs : public BridgeDialogs {
public:
    void openPanel(const OpenPanelRequest& request, std::function<void(std::optional<std::string>)> done) override {
        messages.push_back(request.message);
        // Every panel of the bridge takes one file and never a folder.
        EXPECT_FALSE(request.allowsMultiple || request.canChooseFolders) << request.message;
        answerLater(std::move(done));
    }
    void savePanel(const SavePanelRequest& request, std::function<void(std::optional<std::string>)> done) override {
        messages.push_back(request.message + " [" + request.proposedName + "]");
        answerLater(std::move(done));
    }
    int confirm(const AlertRequest& alert) override {
        messages.push_back(alert.message);
        return button;
    }
    void askPassword(const PasswordRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    void reveal(const std::vector<std::string>& paths, std::function<void(std::optional<std::string>)> done) override {
        revealed = paths;
        done(std::nullopt);
    }

    std::optional<std::string> chosen;
    int button = 0;
    std::vector<std::string> messages;
    std::vector<std::string> revealed;

private:
    void answerLater(std::function<void(std::optional<std::string>)> done) {
        postToMain([done = std::move(done), path = chosen] { done(path); });
    }
};

TEST_F(NativeBridgeTest, TheDemoOpensAndTheMarkedScriptIsExportedAfterThePanel) {
    auto dialogs = std::make_shared<ScriptedDialogs>();
    bridge->setDialogs(dialogs);
    EXPECT_EQ(call("exportMarkedPDF", Json::array({Json::object()})).error, "no open script");
    const Json demo = call("makeDemo").value;
    ASSERT_TRUE(demo.is_object());
    EXPECT_FALSE(demo["state"]["cues"].empty());
    EXPECT_EQ(call("exportMarkedPDF", Json::array({5})).error, "no layout");
    EXPECT_TRUE(dialogs->messages.empty());

    // The page measures every page it shows; here, a layout with no cue labels.
    Json pages = Json::array();
    for (int i = 0; i < demo["pageCount"].get<int>(); ++i) pages.push_back({{"index", i}, {"extra", 0}});
    Json layout = {{"labelFontPx", 14}, {"labelLineH", 1.2}, {"labelPadX_px", 4}, {"labelPadY_px", 2},
                   {"pages", pages}};
    EXPECT_EQ(call("exportMarkedPDF", Json::array({layout})).value, false);  // cancelled
    dialogs->chosen = (dir / "marked.pdf").string();
    // Pages the page never measured cannot carry cues: the export refuses.
    const Reply refused = call("exportMarkedPDF", Json::array({layout}));
    EXPECT_EQ(refused.error, "vienti epaonnistui");
    EXPECT_EQ(refused.value, false);
    for (Json& page : layout["pages"]) page.update({{"pageWpx", 600}, {"pageHpx", 800}});
    const Reply exported = call("exportMarkedPDF", Json::array({layout}));
    EXPECT_EQ(exported.value, true) << exported.error.value_or("");
    EXPECT_EQ(dialogs->revealed, std::vector<std::string>{dialogs->chosen.value()});
    EXPECT_GT(std::filesystem::file_size(dir / "marked.pdf"), 1000u);
}

TEST_F(NativeBridgeTest, ScriptCopiesAndImportedMarksGoThroughPanelsAndAlerts) {
    auto dialogs = std::make_shared<ScriptedDialogs>();
    bridge->setDialogs(dialogs);
    EXPECT_EQ(call("saveSidecar").value, "");
    EXPECT_EQ(call("importSidecar").error, "no open script");
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_EQ(call("openDocumentPanel").value, nullptr);  // cancelled

    const auto show = script();
    dialogs->chosen = show.string();
    EXPECT_EQ(call("openDocumentPanel").value["title"], "Show");
    call("upsertCue", Json::array({{{"id", "Q1"}, {"number", "1"}}}));
    EXPECT_EQ(call("saveSidecar").value, "Show.tallowmark");
    call("revealSidecar");
    EXPECT_EQ(dialogs->revealed, (std::vector<std::string>{show.string(), (dir / "Show.tallowmark").string()}));

    dialogs->chosen = (dir / "sub" / ".." / "Show.pdf").string();
    EXPECT_EQ(call("saveScriptAs").error, "That is the current script - choose a new name or folder");
    testing::writeText(dir / "copy.tallowmark", "stale");
    dialogs->chosen = (dir / "copy").string();
    const Json copy = call("saveScriptAs").value;
    EXPECT_EQ(copy["path"], (dir / "copy.pdf").string());
    EXPECT_EQ(copy["state"]["cues"][0]["id"], "Q1");
    EXPECT_EQ(dialogs->messages.back(), "Save the script and its marks as a new copy [Show.pdf]");

    // Back in the copy: take the marks of another script, or decline to.
    call("removeCue", Json::array({"Q1"}));
    dialogs->chosen = (dir / "Other.pdf").string();
    EXPECT_EQ(call("importSidecar").error, "Other.pdf has no marks");
    dialogs->chosen = show.string();
    dialogs->button = 1;
    EXPECT_EQ(call("importSidecar").value, nullptr);
    EXPECT_EQ(call("offerMarks", Json::array({(dir / "Show.tallowmark").string()})).value, nullptr);
    EXPECT_EQ(dialogs->messages.back(), "This script has no marks yet. Bring the marks of Show?");
    EXPECT_EQ(call("getState").value["cues"].size(), 0u);
    dialogs->button = 0;
    EXPECT_EQ(call("importSidecar").value["cues"][0]["id"], "Q1");
    EXPECT_EQ(dialogs->messages.back(), "Replace all marks in this script with the marks of Show?");
}

}  // namespace
}  // namespace tallowmark
