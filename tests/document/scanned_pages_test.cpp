// Scanned scripts in the document store: their pages are read in the
// background and then search, snap and crop as text pages do, once per script.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "document/document_store.hpp"
#include "document/layout_pdf.hpp"
#include "document/text_recognition.hpp"
#include "support/scan_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

DocumentStore::RecognitionOptions reading(const std::filesystem::path& cache, const std::string& languages = "eng") {
    DocumentStore::RecognitionOptions options;
    options.enabled = true;
    options.languages = languages;
    options.cacheRoot = cache;
    options.workers = 1;
    return options;
}

// The middle of the first recognised word reading `text`, as a view point `along` its width.
std::optional<ViewPoint> pointIn(DocumentStore& store, const std::string& text, double along) {
    for (const DocumentStore::PageWord& word : store.pageWords(0))
        if (word.text == text) return ViewPoint{word.rect.x + along * word.rect.width, word.rect.y + word.rect.height / 2};
    return std::nullopt;
}

int hitsFor(DocumentStore& store, const std::string& name) { return static_cast<int>(store.search(name, 100).size()); }

// The play page as play.pdf in `dir`, and its scan at `dpi` as scan.pdf.
std::filesystem::path scannedPlay(const testing::TempDir& dir, int dpi) {
    testing::writePdf(dir / "play.pdf", {testing::playPage()});
    testing::Scan scan{dir / "scan.pdf", dpi};
    testing::scanPdf(dir / "play.pdf", scan);
    return scan.pdf;
}

TEST(ScannedPages, AScanReadInTheBackgroundSearchesSnapsAndCropsLikeItsSourceOnce) {
    testing::TempDir dir;
    const std::filesystem::path scan = scannedPlay(dir, 300);
    DocumentStore source;
    ASSERT_TRUE(source.open(dir / "play.pdf"));

    DocumentStore store;
    store.setRecognition(reading(dir / "cache"));
    ASSERT_TRUE(store.open(scan));
    // Marks are kept in the cropped page: nothing is placed until the crop is known.
    EXPECT_FALSE(store.linesComplete());
    store.waitForScans();
    const DocumentStore::ScanStatus status = store.scanStatus();
    EXPECT_EQ(std::tuple(status.done, status.total, status.recognisedPages, status.running, status.problem),
              std::tuple(1, 1, std::vector<int>{0}, false, std::optional<std::string>()));
    EXPECT_TRUE(store.linesComplete() && store.pageRecognised(0));
    EXPECT_EQ(store.recognitionsRun(), 1);

    // Every character's name is found as often as on the printed page.
    for (const char* name : {"ELSA", "TOMAS", "WARDEN"}) EXPECT_EQ(hitsFor(store, name), hitsFor(source, name)) << name;
    // The automatic crop fits the recognised text as it fits the printed text.
    const std::optional<PageCrop> crop = store.automaticCrop(), printed = source.automaticCrop();
    ASSERT_TRUE(crop && printed);
    EXPECT_NEAR(crop->x, printed->x, 0.02);
    EXPECT_NEAR(crop->y, printed->y, 0.02);
    EXPECT_NEAR(crop->width, printed->width, 0.03);
    EXPECT_NEAR(crop->height, printed->height, 0.03);

    // A drag from inside one word to inside another snaps to both whole words.
    const auto from = pointIn(store, "lantern", 0.4), to = pointIn(store, "watch", 0.6);
    ASSERT_TRUE(from && to);
    const auto selection = store.textSelection(0, *from, *to, true);
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->text, "lantern lit and watch");
    const auto head = pointIn(store, "lantern", 0);
    EXPECT_NEAR(selection->rect.x, head->x, 0.002);

    // A second open reads nothing again: the words come from the cache.
    DocumentStore again;
    again.setRecognition(reading(dir / "cache"));
    ASSERT_TRUE(again.open(scan));
    again.waitForScans();
    EXPECT_EQ(again.recognitionsRun(), 0);
    EXPECT_TRUE(again.pageRecognised(0));
    EXPECT_EQ(hitsFor(again, "WARDEN"), hitsFor(source, "WARDEN"));
    EXPECT_EQ(again.automaticCrop(), crop);

    // Without recognition the scan has no words, and nothing waits.
    DocumentStore plain;
    ASSERT_TRUE(plain.open(scan));
    EXPECT_TRUE(plain.linesComplete());
    EXPECT_EQ(hitsFor(plain, "WARDEN"), 0);
}

// Two columns of speeches, scanned: both columns' words are read, each column's in its own lines.
TEST(ScannedPages, BothColumnsOfATwoColumnScanAreRead) {
    testing::TempDir dir;
    testing::FixturePage page{420, 300, {}};
    const char* left[] = {"ELSA waits by the water", "TOMAS holds the lantern", "WARDEN rings the bell"};
    const char* right[] = {"MARGARET counts the strokes", "The boat turns for home", "Nobody crosses after dark"};
    for (int i = 0; i < 3; ++i) {
        page.texts.push_back({30, 40 + 20.0 * i, left[i]});
        page.texts.push_back({230, 40 + 20.0 * i, right[i]});
    }
    testing::writePdf(dir / "columns.pdf", {page});
    testing::Scan scan{dir / "scan.pdf", 300};
    testing::scanPdf(dir / "columns.pdf", scan);

    DocumentStore store;
    store.setRecognition(reading(dir / "cache"));
    ASSERT_TRUE(store.open(scan.pdf));
    store.waitForScans();
    std::map<std::string, int> printed, read;
    const auto library = testing::libraryWords(dir / "columns.pdf");
    ASSERT_FALSE(library.empty());
    for (const auto& word : library.front()) ++printed[word.text];
    for (const auto& word : store.pageWords(0)) ++read[word.text];
    int found = 0, total = 0;
    for (const auto& [text, count] : printed) {
        total += count;
        found += std::min(count, read[text]);
    }
    std::printf("[ recognised ] two columns: %d of %d words\n", found, total);
    EXPECT_GE(found, total * 9 / 10);
    EXPECT_EQ(hitsFor(store, "MARGARET"), 1);
    // No line runs from one column into the other.
    for (const DocumentStore::LineText& line : store.pageLineTexts(0))
        EXPECT_FALSE(line.text.find("water") != std::string::npos && line.text.find("MARGARET") != std::string::npos)
            << line.text;
}

// A smudge read with little confidence is found by search but never snapped to.
TEST(ScannedPages, WeakWordsAreSearchedButNeverSnappedTo) {
    testing::TempDir dir;
    testing::writePdf(dir / "blank.pdf", {testing::FixturePage{}});
    const auto layout = LayoutPdf::open(readPdfBytes(dir / "blank.pdf"));
    ASSERT_TRUE(layout);
    // At 72 dpi a pixel is a point: three words on one line near the top of a 300 x 400 page.
    const std::vector<RecognisedWord> words{
        {"Hold", 20, 20, 40, 12, 95, 0}, {"xq", 70, 20, 20, 12, 20, 0}, {"rope", 100, 20, 40, 12, 96, 0}};
    layout->setRecognised(0, layout->wordsFromRecognition(0, words, 72, 60));
    ASSERT_TRUE(layout->recognised(0));
    EXPECT_EQ(layout->pageText(0), "Hold xq rope");
    EXPECT_EQ(layout->find(0, "xq").size(), 1u);
    const PagePoint onWeak{80, 400 - 26.0}, inHold{30, 400 - 26.0}, inRope{110, 400 - 26.0};
    EXPECT_FALSE(layout->wordAt(0, onWeak));
    EXPECT_EQ(layout->wordAt(0, inRope)->text, "rope");
    EXPECT_EQ(layout->selectWords(0, inHold, onWeak)->text, "Hold");
    EXPECT_EQ(layout->selectWords(0, onWeak, inRope)->text, "rope");
    EXPECT_EQ(layout->selectWords(0, inHold, inRope)->text, "Hold xq rope");
    EXPECT_FALSE(layout->selectWords(0, {75, 374}, {85, 374}));
}

// A language not installed says so once and leaves the pages as they are; a close stops the reading.
TEST(ScannedPages, AMissingLanguageOrACloseEndsTheReadingCleanly) {
    testing::TempDir dir;
    const std::filesystem::path scan = scannedPlay(dir, 150);

    DocumentStore store;
    store.setRecognition(reading(dir / "cache", "eng+zzz"));
    ASSERT_TRUE(store.open(scan));
    store.waitForScans();
    const DocumentStore::ScanStatus status = store.scanStatus();
    ASSERT_TRUE(status.problem);
    EXPECT_NE(status.problem->find("zzz"), std::string::npos) << *status.problem;
    EXPECT_TRUE(store.linesComplete() && !store.pageRecognised(0) && status.recognisedPages.empty());
    EXPECT_EQ(store.recognitionsRun(), 0);

    store.setRecognition(reading(dir / "cache"));
    ASSERT_TRUE(store.open(scan));
    store.close();
    EXPECT_FALSE(store.currentInfo());
    store.waitForScans();
    ASSERT_TRUE(store.open(dir / "play.pdf"));
    EXPECT_TRUE(store.linesComplete());
}

}  // namespace
}  // namespace tallowmark
