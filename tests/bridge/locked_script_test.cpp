// A script locked with a password, opened through the bridge; and what the
// file viewer and the save panels do for the script's files.

#include <gtest/gtest.h>

#include <deque>

#include "bridge_fixture.hpp"
#include "support/pdf_fixtures.hpp"

namespace tallowmark {
namespace {

using testing::Reply;
namespace fs = std::filesystem;

// The operator's answers in order; the password comes on a later turn of the
// main queue, as from the real dialog.
class AnsweringDialogs : public BridgeDialogs {
public:
    void openPanel(const OpenPanelRequest&, std::function<void(std::optional<std::string>)> done) override {
        done(chosen);
    }
    void savePanel(const SavePanelRequest& r, std::function<void(std::optional<std::string>)> done) override {
        saveFolders.push_back(r.folder.value_or("(none)"));
        done(chosen);
    }
    int confirm(const AlertRequest&) override { return 0; }
    void askPassword(const PasswordRequest& r, std::function<void(std::optional<std::string>)> done) override {
        asked.push_back(r.informative);
        std::optional<std::string> answer = passwords.empty() ? std::nullopt : passwords.front();
        if (!passwords.empty()) passwords.pop_front();
        postToMain([done = std::move(done), answer] { done(answer); });
    }
    void reveal(const std::vector<std::string>&, std::function<void(std::optional<std::string>)> done) override {
        done(revealFailure);
    }

    std::optional<std::string> chosen, revealFailure;
    std::deque<std::optional<std::string>> passwords;  // none: Cancel
    std::vector<std::string> asked, saveFolders;
};

class BridgeLockedScriptTest : public testing::BridgeFixture {
protected:
    BridgeLockedScriptTest() {
        // Settings on disk, to see that the password never reaches them.
        settings = std::make_shared<SettingsStore>(dir / "settings.json");
        settings->setSettings([] { Settings s; s.oscEnabled = false; return s; }());
        bridge = NativeBridge::create(settings, std::make_shared<NoUpdates>("20260101-1"));
        bridge->setPageGuard(std::make_shared<PageGuard>(testing::pageURL));
        bridge->setDialogs(dialogs);
        testing::writePdf(dir / "plain.pdf", {{300, 400, {{20, 20, "Enter the ghost", 12}}}});
        EXPECT_TRUE(testing::encryptPdf(dir / "plain.pdf", locked, "sesame", "keeper"));
        EXPECT_TRUE(testing::encryptPdf(dir / "plain.pdf", ownerOnly, "", "keeper"));
    }
    Reply open(const fs::path& path) { return call("openDocumentPath", Json::array({path.string()})); }
    Reply exportTo(const fs::path& path) {
        dialogs->chosen = path.string();
        return call("exportMarkedPDF", Json::array({{{"labelFontPx", 14}, {"labelLineH", 1.2}, {"labelPadX_px", 4},
                                                     {"labelPadY_px", 2}, {"pages", {{{"index", 0}, {"extra", 0}, {"pageWpx", 600}}}}}}));
    }

    std::shared_ptr<AnsweringDialogs> dialogs = std::make_shared<AnsweringDialogs>();
    fs::path locked = dir / "Locked.pdf", ownerOnly = dir / "Owner.pdf";
};

TEST_F(BridgeLockedScriptTest, ALockedScriptAsksUntilTheRightPasswordOrCancel) {
    const std::string ask = "Enter the password to open the script.", again = "That password is not right. Try again.";
    // Cancel at once, and after a wrong one: nothing opens and nothing is said.
    dialogs->passwords = {std::nullopt, "wrong", std::nullopt};
    for (int round = 0; round < 2; ++round) EXPECT_EQ(open(locked).value, nullptr);
    EXPECT_EQ(call("currentDocument").value, nullptr);
    // Wrong twice, then right, through the open panel.
    dialogs->passwords = {"Sesame", "", "sesame"};
    dialogs->chosen = locked.string();
    EXPECT_EQ(call("openDocumentPanel").value["pageCount"], 1);
    EXPECT_EQ(dialogs->asked, (std::vector<std::string>{ask, ask, again, ask, again, again}));

    // The same script again, its copy and its export need no second question.
    EXPECT_TRUE(open(locked).value.is_object());
    dialogs->chosen = (dir / "Copy.pdf").string();
    EXPECT_EQ(call("saveScriptAs").value["path"], (dir / "Copy.pdf").string());
    EXPECT_EQ(exportTo(dir / "marked.pdf").value, true);
    EXPECT_EQ(dialogs->asked.size(), 6u);
    DocumentStore marked;
    ASSERT_TRUE(marked.open(dir / "marked.pdf"));
    EXPECT_NE(marked.pageText(0).find("Enter the ghost"), std::string::npos);

    ASSERT_EQ(call("saveSidecar").value, "Copy.tallowmark");
    for (const fs::path& file : {dir / "settings.json", dir / "Copy.tallowmark"})
        EXPECT_EQ(testing::readText(file).find("sesame"), std::string::npos) << file;
}

TEST_F(BridgeLockedScriptTest, OwnerOnlyOpensWithoutAQuestionAndNoOneToAskIsAFailure) {
    EXPECT_TRUE(open(ownerOnly).value.is_object());
    EXPECT_TRUE(dialogs->asked.empty());
    bridge->setDialogs({});
    EXPECT_EQ(open(locked).value["error"], "\"Locked.pdf\" couldn't be opened \u2014 it is protected with a password.");
    EXPECT_EQ(call("currentDocument").value["path"], ownerOnly.string());
}

TEST_F(BridgeLockedScriptTest, FilesThatCannotShowTheScriptSaySoAndSavePanelsStartBesideIt) {
    ASSERT_TRUE(open(ownerOnly).value.is_object());
    EXPECT_EQ(call("revealSidecar").value, true);
    dialogs->revealFailure = "No file viewer";
    EXPECT_EQ(call("revealSidecar").error, "Couldn't show Owner.pdf in Files - No file viewer");
    fs::create_directory(dir / "out");
    EXPECT_EQ(exportTo(dir / "out" / "marked.pdf").error,
              "The marked script was saved as marked.pdf but couldn't be shown in Files - No file viewer");
    EXPECT_TRUE(fs::exists(dir / "out" / "marked.pdf"));
    dialogs->chosen.reset();
    EXPECT_EQ(call("saveScriptAs").value, "");
    EXPECT_EQ(dialogs->saveFolders, (std::vector<std::string>{dir.path().string(), dir.path().string()}));
}

}  // namespace
}  // namespace tallowmark
