// The calls through the operator and the file system, against real files.

#include <algorithm>

#include "bridge_fixture.hpp"
#include "document/document_store.hpp"

namespace tallowmark {
namespace {

using testing::Answer, testing::readText, testing::Reply, testing::writeText;
namespace fs = std::filesystem;

std::string pdfText(const fs::path& path) {
    DocumentStore store;
    if (!store.open(path)) return "(not a PDF)";
    return store.pageText(0) + "\n" + store.pageText(1);
}

class FileCallsTest : public testing::BridgeFixture {
protected:
    void SetUp() override { bridge->setDialogs(dialogs); }

    // A call whose panel is answered with `path`.
    Reply throughPanel(const std::string& name, const fs::path& path, Json body = Json::array()) {
        dialogs->chosen = path.string();
        return call(name, std::move(body));
    }
    // The script open with cue Q1 saved in its marks file.
    fs::path openMarked(const std::string& name = "Show.pdf") {
        const fs::path pdf = cornerScript(name, "Enter the ghost");
        EXPECT_TRUE(open(pdf).value.is_object());
        call("upsertCue", Json::array({{{"id", "Q1"}, {"number", "1"}}}));
        EXPECT_EQ(call("saveSidecar").value, fs::path(name).stem().string() + ".tallowmark");
        return pdf;
    }
    static std::vector<std::string> contents(const std::vector<fs::path>& files) {
        std::vector<std::string> texts(files.size());
        std::ranges::transform(files, texts.begin(), readText);
        return texts;
    }
};

TEST_F(FileCallsTest, PanelsOpenCopyRevealAndImportTheScriptsMarks) {
    EXPECT_EQ(call("saveSidecar").value, "");
    for (const char* name : {"importSidecar", "exportMarkedPDF"})
        EXPECT_EQ(call(name, Json::array({layout()})).error, "no open script") << name;
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_EQ(call("openDocumentPanel").value, nullptr);  // cancelled

    const fs::path show = cornerScript("Show.pdf", "Enter the ghost");
    EXPECT_EQ(throughPanel("openDocumentPanel", show).value["title"], "Show");
    call("upsertCue", Json::array({{{"id", "Q1"}, {"number", "1"}}}));
    ASSERT_EQ(call("saveSidecar").value, "Show.tallowmark");
    EXPECT_EQ(call("revealSidecar").value, true);
    EXPECT_EQ(dialogs->revealed, (std::vector<std::string>{show.string(), (dir / "Show.tallowmark").string()}));
    dialogs->revealFailure = "No file viewer";
    EXPECT_EQ(call("revealSidecar").error, "Couldn't show Show.pdf in Files - No file viewer");
    dialogs->revealFailure.reset();

    // The copy replaces a stale marks file beside it and is the open script then.
    writeText(dir / "copy.tallowmark", "stale");
    const Json copy = throughPanel("saveScriptAs", dir / "copy").value;
    EXPECT_EQ(copy["path"], (dir / "copy.pdf").string());
    EXPECT_EQ(copy["state"]["cues"][0]["id"], "Q1");
    EXPECT_EQ(dialogs->messages.back(), "Save the script and its marks as a new copy [Show.pdf]");
    dialogs->chosen.reset();
    EXPECT_EQ(call("saveScriptAs").value, "");
    EXPECT_EQ(dialogs->saveFolders, (std::vector<std::string>{dir.path().string(), dir.path().string()}));

    // Back in the copy: take the marks of another script, or decline to.
    call("removeCue", Json::array({"Q1"}));
    EXPECT_EQ(throughPanel("importSidecar", dir / "Other.pdf").error, "Other.pdf has no marks");
    dialogs->button = 1;
    EXPECT_EQ(throughPanel("importSidecar", show).value, nullptr);
    EXPECT_EQ(dialogs->messages.back(), "Replace all marks in this script with the marks of Show?");
    EXPECT_TRUE(call("getState").value["cues"].empty());
    dialogs->button = 0;
    EXPECT_EQ(throughPanel("importSidecar", show).value["cues"][0]["id"], "Q1");

    // The demo is written where the bridge was told, and opens.
    const Json demo = call("makeDemo").value;
    EXPECT_TRUE(!demo["state"]["cues"].empty() && demo["path"].get<std::string>().starts_with((dir / "demo").string()))
        << demo["path"];
}

// Marks offered by a path: only a file that is there is asked about, and only a yes brings them.
TEST_F(FileCallsTest, MarksAreOfferedOnlyFromAMarksFileThatIsThere) {
    openMarked("Show v1.pdf");
    ASSERT_TRUE(open(cornerScript("Show v2.pdf", "Enter the ghost")).value.is_object());
    fs::create_directory(dir / "Folder.tallowmark");
    struct Row { fs::path offered; int button; std::size_t alerts; bool brought; };
    const std::vector<Row> rows = {
        {dir / "Missing.tallowmark", 0, 0, false}, {dir / "Folder.tallowmark", 0, 0, false},
        {dir / "Show v1.tallowmark", 1, 1, false}, {dir / "Show v1.tallowmark", 0, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.offered);
        const std::size_t asked = dialogs->messages.size();
        dialogs->button = row.button;
        const Reply r = call("offerMarks", Json::array({row.offered.string()}));
        EXPECT_EQ(dialogs->messages.size() - asked, row.alerts);
        EXPECT_FALSE(r.error);
        EXPECT_EQ(r.value.is_null() ? Json() : r.value["cues"][0]["id"], row.brought ? Json("Q1") : Json());
    }
    EXPECT_EQ(dialogs->messages.back(), "This script has no marks yet. Bring the marks of Show v1?");
}

// Neither a copy nor an export replaces the script's own files however named: through a linked
// folder, with "..", in another case (sharing the marks file), or as a link onto one of them.
TEST_F(FileCallsTest, NeitherACopyNorAnExportLandsOnTheScriptsOwnFiles) {
    const fs::path show = openMarked();
    writeText(dir / "Show.tallowmark-run", R"({"fired":[]})");
    writeText(dir / "Show.tallowmark.bak2", "second backup");
    fs::create_directory_symlink(dir.path(), dir / "link");
    // Marks files of other names that are links onto the script's own files.
    fs::create_symlink(dir / "Show.tallowmark-run", dir / "Runner.tallowmark");
    fs::create_symlink(dir / "Show.tallowmark.bak2", dir / "Older.tallowmark");
    const std::vector<fs::path> own = {show, dir / "Show.tallowmark", dir / "Show.tallowmark-run",
                                       dir / "Show.tallowmark.bak2"};
    const std::vector<std::string> before = contents(own);

    const std::string again = " - choose a new name or folder", current = "That is the current script" + again;
    const std::string copyOfMarks = "The copy's marks file Show.tallowmark would replace the script's marks file" + again;
    auto exported = [&](const std::string& what) { return "The marked script would replace " + what + " (Show.pdf)" + again; };
    const std::vector<std::tuple<const char*, fs::path, std::string>> rows = {
        {"saveScriptAs", dir / "link" / "Show.pdf", current},
        {"saveScriptAs", dir / "link" / "Show", current},
        {"saveScriptAs", dir / "sub" / ".." / "Show.pdf", current},
        {"saveScriptAs", dir / "Show.PDF", copyOfMarks},
        {"saveScriptAs", dir / "link" / "Show.Pdf", copyOfMarks},
        {"saveScriptAs", dir / "Runner.pdf", "The copy's marks file Runner.tallowmark would replace the script's run file" + again},
        {"saveScriptAs", dir / "Older.pdf",
         "The copy's marks file Older.tallowmark would replace a backup of the script's marks" + again},
        {"exportMarkedPDF", show, exported("the script")},
        {"exportMarkedPDF", dir / "link" / "Show.pdf", exported("the script")},
        {"exportMarkedPDF", dir / "link" / "Show.tallowmark", exported("the script's marks file")},
        {"exportMarkedPDF", dir / "Show.tallowmark.bak2", exported("a backup of the script's marks")},
        {"exportMarkedPDF", dir / "Show.tallowmark-run", exported("the script's run file")},
    };
    for (const auto& [name, chosen, error] : rows) {
        EXPECT_EQ(throughPanel(name, chosen, Json::array({layout()})).answer(),
                  Answer(std::string(name) == "saveScriptAs" ? Json() : Json(false), error)) << chosen;
    }
    EXPECT_EQ(contents(own), before);
    EXPECT_FALSE(fs::exists(dir / "Show.PDF") || fs::exists(dir / "Runner.pdf"));
    EXPECT_TRUE(dialogs->revealed.empty());
    EXPECT_EQ(call("currentDocument").value["path"], show.string());

    // A new name through the linked folder is a copy like any other.
    const Reply copy = throughPanel("saveScriptAs", dir / "link" / "Copy.pdf");
    ASSERT_TRUE(copy.value.is_object()) << copy.error.value_or("");
    EXPECT_EQ(copy.value["state"]["cues"][0]["id"], "Q1");
    EXPECT_EQ(contents({dir / "Copy.pdf", dir / "Copy.tallowmark"}), (std::vector{before[0], before[1]}));
}

TEST_F(FileCallsTest, AnExportIsWrittenBesideTheScriptFromMeasuredPagesAndShown) {
    openMarked();
    fs::create_directory_symlink(dir.path(), dir / "link");
    EXPECT_EQ(call("exportMarkedPDF", Json::array({layout()})).value, false);  // cancelled
    // Beside the script, where its other files are, not wherever the program started.
    EXPECT_EQ(dialogs->saveFolders.back(), dir.path().string());
    EXPECT_EQ(dialogs->messages.back(), "Save marked script as PDF [Show (marked)]");

    // Pages the page never measured cannot carry cues: the export refuses.
    Json unmeasured = layout();
    for (Json& page : unmeasured["pages"]) page.erase("pageWpx");
    EXPECT_EQ(throughPanel("exportMarkedPDF", dir / "marked.pdf", Json::array({unmeasured})).answer(),
              Answer(false, "vienti epaonnistui"));

    // Label measurements (TALLOWMARK_EXPORT_DEBUG) go to standard output, not the log stream.
    setenv("TALLOWMARK_EXPORT_DEBUG", "1", 1);
    ::testing::internal::CaptureStdout();
    const Reply written = throughPanel("exportMarkedPDF", dir / "link" / "marked.pdf", Json::array({layout()}));
    const std::string out = ::testing::internal::GetCapturedStdout();
    unsetenv("TALLOWMARK_EXPORT_DEBUG");
    EXPECT_EQ(written.value, true) << written.error.value_or("");
    EXPECT_EQ(dialogs->revealed, std::vector<std::string>{(dir / "link" / "marked.pdf").string()});
    EXPECT_TRUE(readText(dir / "marked.pdf").starts_with("%PDF-"));
    EXPECT_NE(out.find("sivu 1 selite 'Q1': ruutu "), std::string::npos) << out;

    // Written, but the file viewer could not show it: the page hears both.
    dialogs->revealFailure = "No file viewer";
    EXPECT_EQ(throughPanel("exportMarkedPDF", dir / "shown.pdf", Json::array({layout()})).answer(),
              Answer(true, "The marked script was saved as shown.pdf but couldn't be shown in Files - No file viewer"));
    EXPECT_TRUE(fs::exists(dir / "shown.pdf"));
}

// Another script opened while the panel is open: the export is of the script and marks asked
// for, and the script now open is no more a target than the exported one.
TEST_F(FileCallsTest, AnExportKeepsTheScriptAndMarksOfItsCall) {
    const fs::path alpha = cornerScript("Alpha.pdf", "Alpha opening");
    const fs::path beta = cornerScript("Beta.pdf", "Beta opening");
    auto memo = [](const char* text) { return Json{{"text", text}, {"page", 0}, {"x", 0.1}, {"y", 0.4}, {"w", 0.5}}; };
    ASSERT_TRUE(open(alpha).value.is_object());
    call("upsertMemo", Json::array({memo("Alpha memo")}));

    dialogs->hold = true;
    auto first = send("exportMarkedPDF", Json::array({layout()}));
    auto second = send("exportMarkedPDF", Json::array({layout()}));
    ASSERT_TRUE(open(beta).value.is_object());
    call("upsertMemo", Json::array({memo("Beta memo")}));
    const std::string betaBytes = readText(beta);

    dialogs->choose(beta);
    EXPECT_EQ(settle(first).answer(),
              Answer(false, "The marked script would replace the script (Beta.pdf) - choose a new name or folder"));
    EXPECT_EQ(readText(beta), betaBytes);

    dialogs->choose(dir / "marked.pdf");
    const Reply exported = settle(second);
    ASSERT_EQ(exported.value, true) << exported.error.value_or("");
    const std::string text = pdfText(dir / "marked.pdf");
    for (const char* part : {"Alpha opening", "Alpha memo"}) EXPECT_NE(text.find(part), std::string::npos) << text;
    EXPECT_EQ(text.find("Beta"), std::string::npos) << text;
}

// Only a password to open asks, until given or cancelled, then never again for that script.
TEST_F(FileCallsTest, ALockedScriptAsksUntilTheRightPasswordOrCancelAndOnlyOnce) {
    const fs::path locked = dir / "Locked.pdf", ownerOnly = dir / "Owner.pdf";
    testing::writePdf(dir / "plain.pdf", {{300, 400, {{20, 20, "Enter the ghost", 12}}}});
    ASSERT_TRUE(testing::encryptPdf(dir / "plain.pdf", locked, "sesame", "keeper"));
    ASSERT_TRUE(testing::encryptPdf(dir / "plain.pdf", ownerOnly, "", "keeper"));
    EXPECT_TRUE(open(ownerOnly).value.is_object() && dialogs->prompts.empty());
    bridge->setDialogs({});
    EXPECT_EQ(open(locked).value["error"], "\"Locked.pdf\" couldn't be opened \u2014 it is protected with a password.");
    EXPECT_EQ(call("currentDocument").value["path"], ownerOnly.string());
    bridge->setDialogs(dialogs);
    call("closeDocument");

    const std::string ask = "Enter the password to open the script.", again = "That password is not right. Try again.";
    // Cancel at once, and after a wrong one: nothing opens and nothing is said.
    dialogs->passwords = {std::nullopt, "wrong", std::nullopt};
    for (int round = 0; round < 2; ++round) EXPECT_EQ(open(locked).value, nullptr);
    EXPECT_EQ(call("currentDocument").value, nullptr);
    // Wrong twice, then right, through the open panel.
    dialogs->passwords = {"Sesame", "", "sesame"};
    EXPECT_EQ(throughPanel("openDocumentPanel", locked).value["pageCount"], 1);
    EXPECT_EQ(dialogs->prompts, (std::vector<std::string>{ask, ask, again, ask, again, again}));

    // The same script again, its copy and its export need no second question.
    EXPECT_TRUE(open(locked).value.is_object());
    EXPECT_EQ(throughPanel("saveScriptAs", dir / "Copy.pdf").value["path"], (dir / "Copy.pdf").string());
    Json onePage = layout();
    onePage["pages"].erase(1);
    EXPECT_EQ(throughPanel("exportMarkedPDF", dir / "marked.pdf", Json::array({onePage})).value, true);
    EXPECT_TRUE(dialogs->prompts.size() == 6u && pdfText(dir / "marked.pdf").find("Enter the ghost") != std::string::npos);
    ASSERT_EQ(call("saveSidecar").value, "Copy.tallowmark");
    for (const fs::path& file : {dir / "settings.json", dir / "Copy.tallowmark"})
        EXPECT_EQ(readText(file).find("sesame"), std::string::npos) << file;
}

}  // namespace
}  // namespace tallowmark
