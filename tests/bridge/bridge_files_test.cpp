// The file rows of the bridge against real files: a copy or an export never
// lands on the script's own files, and an export keeps the script and the
// marks it was asked for together.

#include <gtest/gtest.h>
#include <poppler.h>

#include <functional>

#include "bridge_fixture.hpp"
#include "support/pdf_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::readText;
using testing::Reply;
using testing::writeText;
namespace fs = std::filesystem;

// Panels that stay open until the test answers them, so that other calls can
// arrive meanwhile, as they may from the page.
class HeldDialogs : public BridgeDialogs {
public:
    void openPanel(const OpenPanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        pending.push_back(std::move(done));
    }
    void savePanel(const SavePanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        pending.push_back(std::move(done));
    }
    int confirm(const AlertRequest&) override {
        ++alerts;
        return 0;
    }
    void askPassword(const PasswordRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
    void reveal(const std::vector<std::string>& paths, std::function<void(std::optional<std::string>)> done) override {
        revealed = paths;
        done(std::nullopt);
    }

    // Closes the oldest open panel with `path` chosen.
    void choose(const fs::path& path) {
        ASSERT_FALSE(pending.empty()) << "no panel is open";
        auto done = std::move(pending.front());
        pending.erase(pending.begin());
        done(path.string());
    }

    std::vector<std::function<void(std::optional<std::string>)>> pending;
    std::vector<std::string> revealed;
    int alerts = 0;
};

std::string pdfText(const fs::path& path) {
    gchar* uri = g_filename_to_uri(fs::absolute(path).c_str(), nullptr, nullptr);
    PopplerDocument* document = poppler_document_new_from_file(uri, nullptr, nullptr);
    g_free(uri);
    if (!document) return "(not a PDF)";
    std::string text;
    for (int i = 0; i < poppler_document_get_n_pages(document); ++i) {
        PopplerPage* page = poppler_document_get_page(document, i);
        gchar* t = poppler_page_get_text(page);
        text += t ? t : "";
        text += "\n";
        g_free(t);
        g_object_unref(page);
    }
    g_object_unref(document);
    return text;
}

class BridgeFilesTest : public testing::BridgeFixture {
protected:
    BridgeFilesTest() { bridge->setDialogs(dialogs); }

    // A call that shows a save panel, answered with `path`.
    Reply throughPanel(const std::string& name, const fs::path& path, Json body = Json::array()) {
        auto reply = send(name, std::move(body));
        dialogs->choose(path);
        return settle(reply);
    }

    fs::path writeScript(const std::string& name, const std::string& words) {
        const fs::path path = dir / name;
        // Text from corner to corner, so that the page's own crop leaves room for a memo.
        testing::writePdf(path, {{300, 400, {{20, 20, words, 12}, {240, 370, "End", 12}}},
                                 {300, 400, {{20, 20, "Curtain", 12}, {240, 370, "End", 12}}}});
        return path;
    }

    // A layout of both pages, measured, with one cue label on the first.
    static Json layout() {
        Json label = {{"text", "Q1"}, {"x", 0.6}, {"w", 0.1}, {"dy", 0.5}, {"dh", 0.05}, {"padL_px", 0}};
        return {{"labelFontPx", 14}, {"labelLineH", 1.2}, {"labelPadX_px", 4}, {"labelPadY_px", 2},
                {"pages", {{{"index", 0}, {"extra", 0}, {"pageWpx", 600}, {"labels", {label}}},
                           {{"index", 1}, {"extra", 0}, {"pageWpx", 600}}}}};
    }

    std::shared_ptr<HeldDialogs> dialogs = std::make_shared<HeldDialogs>();
};

TEST_F(BridgeFilesTest, ACopyNeverLandsOnTheScriptOrItsMarksFiles) {
    const fs::path show = writeScript("Show.pdf", "Enter the ghost");
    ASSERT_TRUE(call("openDocumentPath", Json::array({show.string()})).value.is_object());
    call("upsertCue", Json::array({{{"id", "Q1"}, {"number", "1"}}}));
    ASSERT_EQ(call("saveSidecar").value, "Show.tallowmark");
    writeText(dir / "Show.tallowmark-run", R"({"fired":[]})");
    writeText(dir / "Show.tallowmark.bak2", "second backup");
    fs::create_directory_symlink(dir.path(), dir / "link");
    // Marks files of other names that are links onto the script's own files.
    fs::create_symlink(dir / "Show.tallowmark-run", dir / "Runner.tallowmark");
    fs::create_symlink(dir / "Show.tallowmark.bak2", dir / "Older.tallowmark");

    const std::vector<fs::path> own = {show, dir / "Show.tallowmark", dir / "Show.tallowmark-run",
                                       dir / "Show.tallowmark.bak2"};
    std::vector<std::string> before;
    for (const fs::path& file : own) before.push_back(readText(file));

    struct Row {
        fs::path chosen;
        std::string error;
    };
    const std::string marksClash = " would replace the script's marks file - choose a new name or folder";
    const std::vector<Row> rows = {
        {dir / "link" / "Show.pdf", "That is the current script - choose a new name or folder"},
        {dir / "link" / "Show", "That is the current script - choose a new name or folder"},
        {dir / "sub" / ".." / "Show.pdf", "That is the current script - choose a new name or folder"},
        // Differs only in case: a new file, but its marks file is the current one.
        {dir / "Show.PDF", "The copy's marks file Show.tallowmark" + marksClash},
        {dir / "link" / "Show.Pdf", "The copy's marks file Show.tallowmark" + marksClash},
        {dir / "Runner.pdf",
         "The copy's marks file Runner.tallowmark would replace the script's run file - choose a new name or folder"},
        {dir / "Older.pdf", "The copy's marks file Older.tallowmark would replace a backup of the script's marks "
                            "- choose a new name or folder"},
    };
    for (const Row& row : rows) {
        const Reply r = throughPanel("saveScriptAs", row.chosen);
        EXPECT_EQ(r.value, nullptr) << row.chosen;
        EXPECT_EQ(r.error, row.error) << row.chosen;
    }
    for (std::size_t i = 0; i < own.size(); ++i) EXPECT_EQ(readText(own[i]), before[i]) << own[i];
    EXPECT_FALSE(fs::exists(dir / "Show.PDF"));
    EXPECT_FALSE(fs::exists(dir / "Runner.pdf"));
    EXPECT_EQ(call("currentDocument").value["path"], show.string());

    // A new name through the linked folder is a copy like any other.
    const Reply copy = throughPanel("saveScriptAs", dir / "link" / "Copy.pdf");
    ASSERT_TRUE(copy.value.is_object()) << copy.error.value_or("");
    EXPECT_EQ(copy.value["state"]["cues"][0]["id"], "Q1");
    EXPECT_EQ(readText(dir / "Copy.pdf"), before[0]);
    EXPECT_EQ(readText(dir / "Copy.tallowmark"), before[1]);
}

TEST_F(BridgeFilesTest, AnExportNeverReplacesItsInputs) {
    const fs::path show = writeScript("Show.pdf", "Enter the ghost");
    ASSERT_TRUE(call("openDocumentPath", Json::array({show.string()})).value.is_object());
    call("upsertCue", Json::array({{{"id", "Q1"}, {"number", "1"}}}));
    ASSERT_EQ(call("saveSidecar").value, "Show.tallowmark");
    writeText(dir / "Show.tallowmark.bak1", "first backup");
    writeText(dir / "Show.tallowmark-run", R"({"fired":[]})");
    fs::create_directory_symlink(dir.path(), dir / "link");
    const std::vector<fs::path> own = {show, dir / "Show.tallowmark", dir / "Show.tallowmark.bak1",
                                       dir / "Show.tallowmark-run"};
    std::vector<std::string> before;
    for (const fs::path& file : own) before.push_back(readText(file));

    const std::vector<std::pair<fs::path, std::string>> rows = {
        {show, "the script"},
        {dir / "link" / "Show.pdf", "the script"},
        {dir / "link" / "Show.tallowmark", "the script's marks file"},
        {dir / "Show.tallowmark.bak1", "a backup of the script's marks"},
        {dir / "Show.tallowmark-run", "the script's run file"},
    };
    for (const auto& [chosen, what] : rows) {
        const Reply r = throughPanel("exportMarkedPDF", chosen, Json::array({layout()}));
        EXPECT_EQ(r.value, false) << chosen;
        EXPECT_EQ(r.error, "The marked script would replace " + what + " (Show.pdf) - choose a new name or folder")
            << chosen;
    }
    for (std::size_t i = 0; i < own.size(); ++i) EXPECT_EQ(readText(own[i]), before[i]) << own[i];
    EXPECT_TRUE(dialogs->revealed.empty());

    const Reply written = throughPanel("exportMarkedPDF", dir / "link" / "marked.pdf", Json::array({layout()}));
    EXPECT_EQ(written.value, true) << written.error.value_or("");
    EXPECT_TRUE(readText(dir / "marked.pdf").starts_with("%PDF-"));
}

// Another script opened while the export panel is open: the export is of the
// script the operator asked for, with that script's marks, and the script now
// open is no more a target than the exported one.
TEST_F(BridgeFilesTest, AnExportKeepsTheScriptAndMarksOfItsCall) {
    const fs::path alpha = writeScript("Alpha.pdf", "Alpha opening");
    const fs::path beta = writeScript("Beta.pdf", "Beta opening");
    ASSERT_TRUE(call("openDocumentPath", Json::array({alpha.string()})).value.is_object());
    call("upsertMemo", Json::array({{{"text", "Alpha memo"}, {"page", 0}, {"x", 0.1}, {"y", 0.4}, {"w", 0.5}}}));

    auto first = send("exportMarkedPDF", Json::array({layout()}));
    auto second = send("exportMarkedPDF", Json::array({layout()}));
    ASSERT_TRUE(call("openDocumentPath", Json::array({beta.string()})).value.is_object());
    call("upsertMemo", Json::array({{{"text", "Beta memo"}, {"page", 0}, {"x", 0.1}, {"y", 0.4}, {"w", 0.5}}}));
    const std::string betaBytes = readText(beta);

    dialogs->choose(beta);
    const Reply refused = settle(first);
    EXPECT_EQ(refused.value, false);
    EXPECT_EQ(refused.error, "The marked script would replace the script (Beta.pdf) - choose a new name or folder");
    EXPECT_EQ(readText(beta), betaBytes);

    dialogs->choose(dir / "marked.pdf");
    const Reply exported = settle(second);
    ASSERT_EQ(exported.value, true) << exported.error.value_or("");
    const std::string text = pdfText(dir / "marked.pdf");
    EXPECT_NE(text.find("Alpha opening"), std::string::npos) << text;
    EXPECT_NE(text.find("Alpha memo"), std::string::npos) << text;
    EXPECT_EQ(text.find("Beta"), std::string::npos) << text;
}

TEST_F(BridgeFilesTest, ExportLabelMeasurementsGoToStandardOutput) {
    const fs::path show = writeScript("Show.pdf", "Enter the ghost");
    ASSERT_TRUE(call("openDocumentPath", Json::array({show.string()})).value.is_object());
    setenv("TALLOWMARK_EXPORT_DEBUG", "1", 1);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const Reply r = throughPanel("exportMarkedPDF", dir / "marked.pdf", Json::array({layout()}));
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string out = ::testing::internal::GetCapturedStdout();
    unsetenv("TALLOWMARK_EXPORT_DEBUG");
    EXPECT_EQ(r.value, true);
    EXPECT_NE(out.find("sivu 1 selite 'Q1': ruutu "), std::string::npos) << out;
    EXPECT_EQ(err.find("selite"), std::string::npos) << err;
}

// The page offers the marks of an earlier version by its marks file's path;
// only a file that is there is worth a question, and the answer brings its marks.
TEST_F(BridgeFilesTest, MarksAreOfferedOnlyFromAMarksFileThatIsThere) {
    const fs::path first = writeScript("Show v1.pdf", "Enter the ghost");
    ASSERT_TRUE(call("openDocumentPath", Json::array({first.string()})).value.is_object());
    call("upsertCue", Json::array({{{"id", "Q1"}, {"number", "1"}}}));
    ASSERT_EQ(call("saveSidecar").value, "Show v1.tallowmark");
    const fs::path second = writeScript("Show v2.pdf", "Enter the ghost");
    ASSERT_TRUE(call("openDocumentPath", Json::array({second.string()})).value.is_object());
    fs::create_directory(dir / "Folder.tallowmark");

    struct Row {
        fs::path offered;
        int alerts;
        bool brought;
    };
    const std::vector<Row> rows = {
        {dir / "Missing.tallowmark", 0, false},
        {dir / "Folder.tallowmark", 0, false},
        {dir / "Show v1.tallowmark", 1, true},
    };
    for (const Row& row : rows) {
        dialogs->alerts = 0;
        const Reply r = call("offerMarks", Json::array({row.offered.string()}));
        EXPECT_EQ(dialogs->alerts, row.alerts) << row.offered;
        EXPECT_FALSE(r.error) << row.offered;
        if (row.brought) {
            ASSERT_TRUE(r.value.is_object()) << row.offered;
            EXPECT_EQ(r.value["cues"][0]["id"], "Q1");
        } else {
            EXPECT_EQ(r.value, nullptr) << row.offered;
        }
    }
}

}  // namespace
}  // namespace tallowmark
