// Scripts locked by their publisher: the store opens them only with a
// password, and every poppler handle of the open document uses it.

#include <gtest/gtest.h>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;

// Two pages, so that the line collection at open hands pages to a worker's own document.
const std::vector<testing::FixturePage> scriptPages = {{300, 400, {{30, 40, "Enter the ghost", 12}}},
                                                       {300, 400, {{30, 40, "Exit pursued", 12}}}};

TEST(LockedScriptStore, OpensOnlyWithEitherPasswordAndEveryHandleUsesIt) {
    testing::TempDir dir;
    const fs::path plain = dir / "plain.pdf";
    testing::writePdf(plain, scriptPages);
    // RC4 and AES as publishers' tools write them; a password outside ASCII
    // takes poppler's second try, where a wrong one once crashed it.
    for (const auto& [bits, password] : std::vector<std::pair<int, std::string>>{{128, "sesame"}, {256, "s\u00e9same"}}) {
        SCOPED_TRACE(bits);
        const fs::path locked = dir / ("locked" + std::to_string(bits) + ".pdf");
        ASSERT_TRUE(testing::encryptPdf(plain, locked, password, "keeper", bits));
        DocumentStore store;
        ASSERT_TRUE(store.open(plain));
        for (const std::string& wrong : {std::string(), std::string("Sesame"), password + " "})
            EXPECT_EQ(store.openScript(locked, wrong).problem, PdfOpenError::locked) << wrong;
        EXPECT_EQ(store.currentInfo()->path, fs::absolute(plain).string());

        for (const std::string& right : {password, std::string("keeper")}) {
            ASSERT_TRUE(store.open(locked, right)) << right;
            EXPECT_EQ(store.password(), right);
            // Text from the layout handle, lines from a worker's, pixels from the drawing handle.
            EXPECT_NE(store.pageText(1).find("Exit pursued"), std::string::npos);
            EXPECT_EQ(store.pageLines(1).size(), 1u);
            const auto png = store.renderPage(1, 200);
            ASSERT_TRUE(png);
            EXPECT_FALSE(testing::inkBox(testing::decodePng(*png)).empty());
        }
        EXPECT_EQ(DocumentStore::openProblem(locked, "wrong"), PdfOpenError::locked);
        EXPECT_EQ(DocumentStore::openProblem(locked, password), std::nullopt);
        EXPECT_EQ(DocumentStore::openProblem(dir / "missing.pdf"), PdfOpenError::unreadable);
        store.close();
        EXPECT_EQ(store.password(), "");
    }
}

}  // namespace
}  // namespace tallowmark
