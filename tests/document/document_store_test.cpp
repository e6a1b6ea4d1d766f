#include <cairo-pdf.h>

#include <fstream>
#include <thread>

#include "document/layout_pdf.hpp"
#include "store_test.hpp"
#include "support/document_store_access.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;
using testing::FixturePage;

FixturePage textPage(double width = 300, double height = 400) {
    return {width, height, {{30, 40, "Alpha beta gamma", 12}, {30, 80, "Second line of the scene", 12}}};
}

// A page full of text, as a script page is: 60 lines of 90-odd characters,
// different on every page so no two pages' lines can stand in for each other.
FixturePage densePage(int number) {
    FixturePage page{595, 842, {}};
    static const char* const words[] = {"storm", "harbour", "lantern", "sailor", "window", "letter",
                                        "candle", "enter", "exit", "pause", "music", "door"};
    for (int line = 0; line < 60; ++line) {
        std::string text = "p" + std::to_string(number) + "l" + std::to_string(line);
        for (int k = 0; text.size() < 90; ++k) text += std::string(" ") + words[(number * 7 + line * 3 + k) % 12];
        page.texts.push_back({40, 30 + line * 13.0, text, 9});
    }
    return page;
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

std::size_t threadCount() { return std::distance(fs::directory_iterator("/proc/self/task"), {}); }

using DocumentStoreTest = testing::StoreTest;

TEST_F(DocumentStoreTest, InfoAspectsFollowRotationAndCropBox) {
    // Pages without text are never cropped, so the aspects are the boxes' own.
    const auto plain = pdf("Act One.pdf", {{300, 400, {}}, {400, 300, {}}, {200, 200, {}}});
    const auto info = store.open(plain);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->title, "Act One");
    EXPECT_EQ(info->path, plain.string());
    ASSERT_EQ(info->pageCount, 3);
    EXPECT_NEAR(info->aspects[0], 0.75, 1e-9);
    EXPECT_NEAR(info->aspects[1], 4.0 / 3, 1e-9);
    EXPECT_NEAR(info->aspects[2], 1.0, 1e-9);

    const auto turned = dir / "turned.pdf";
    ASSERT_TRUE(testing::rotatePdf(plain, turned, 90, "1"));
    const auto turnedInfo = store.open(turned);
    ASSERT_TRUE(turnedInfo);
    EXPECT_NEAR(turnedInfo->aspects[0], 4.0 / 3, 1e-9);
    EXPECT_NEAR(turnedInfo->aspects[1], 4.0 / 3, 1e-9);

    const auto boxed = dir / "boxed.pdf";
    ASSERT_TRUE(testing::setCropBox(plain, boxed, 10, 50, 150, 280));
    const auto boxedInfo = store.open(boxed);
    ASSERT_TRUE(boxedInfo);
    EXPECT_NEAR(boxedInfo->aspects[0], 140.0 / 230, 1e-9);
}

TEST_F(DocumentStoreTest, UnreadableFilesLeaveTheOpenScriptAlone) {
    const auto good = pdf("good.pdf", {textPage(), textPage(400, 300)});
    const auto before = store.open(good);
    ASSERT_TRUE(before);
    ASSERT_TRUE(store.renderPage(0, 100));

    const std::string whole = testing::readText(good);
    testing::writeText(dir / "text.pdf", "This is a script, but not a PDF.\n");
    testing::writeText(dir / "empty.pdf", "");
    testing::writeText(dir / "truncated.pdf", whole.substr(0, 40));
    // A script that needs a user password cannot be read either.
    ASSERT_TRUE(testing::encryptPdf(good, dir / "locked.pdf", "secret", "owner"));
    for (const char* name : {"text.pdf", "empty.pdf", "truncated.pdf", "missing.pdf", "locked.pdf"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(store.open(dir / name));
        EXPECT_EQ(store.currentInfo(), before);
    }
    EXPECT_EQ(store.cachedKeys(), std::vector<std::string>{"0@100"});
    EXPECT_FALSE(store.pageText(1).empty());
}

// No pages at all, or a scanned page that is only an image: both open; the
// scan has no lines and still draws.
TEST_F(DocumentStoreTest, EmptyAndImageOnlyDocumentsOpen) {
    const auto zero = dir / "zero.pdf";
    ASSERT_EQ(std::system(("qpdf --empty '" + zero.string() + "'").c_str()), 0);
    const auto none = store.open(zero);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->pageCount, 0);
    EXPECT_FALSE(store.renderPage(0, 100));

    const auto scanned = dir / "scanned.pdf";
    cairo_surface_t* page = cairo_pdf_surface_create(scanned.c_str(), 300, 400);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 100, 100);  // cleared to black
    cairo_t* cr = cairo_create(page);
    cairo_set_source_surface(cr, image, 100, 150);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(image);
    cairo_surface_destroy(page);

    const auto info = store.open(scanned);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->pageCount, 1);
    EXPECT_TRUE(store.pageLines(0).empty());
    EXPECT_TRUE(store.pageLines(5).empty());
    EXPECT_FALSE(store.allPageLines());
    EXPECT_TRUE(store.pageText(0).empty());
    const auto png = store.renderPage(0, 300);
    ASSERT_TRUE(png);
    EXPECT_FALSE(testing::inkBox(testing::decodePng(*png)).empty());
}

TEST_F(DocumentStoreTest, RenderSizeWithAndWithoutCrop) {
    const auto blank = pdf("blank.pdf", {{300, 400, {}}, {300, 10, {}}});
    ASSERT_TRUE(store.open(blank));
    const auto size = [&](int page, int width) {
        const auto image = testing::decodePng(*store.renderPage(page, width));
        return std::pair(image.width, image.height);
    };
    EXPECT_EQ(size(0, 600), std::pair(600, 800));
    EXPECT_EQ(size(0, 0), std::pair(1, 1));
    EXPECT_EQ(size(0, -7), std::pair(1, 1));
    EXPECT_EQ(size(1, 20), std::pair(20, 1));  // 0.67 px high
    EXPECT_FALSE(store.renderPage(2, 100));
    EXPECT_FALSE(store.renderPage(-1, 100));

    // With text the crop is in force: the width is exact, the height follows
    // the cropped aspect, and the ink sits where the lines say it is.
    const auto script = pdf("script.pdf", {textPage()});
    const auto info = store.open(script);
    ASSERT_TRUE(info);
    const auto png = store.renderPage(0, 800);
    ASSERT_TRUE(png);
    const auto image = testing::decodePng(*png);
    EXPECT_EQ(image.width, 800);
    EXPECT_EQ(image.height, static_cast<int>(800 / info->aspects[0]));
    const auto lines = store.pageLines(0);
    ASSERT_EQ(lines.size(), 2u);
    const auto ink = testing::inkBox(image);
    EXPECT_NEAR(ink.minX, lines[0].x, 0.02);
    EXPECT_NEAR(ink.minY, lines[0].y, 0.05);
    EXPECT_NEAR(ink.maxY, lines[1].y + lines[1].height, 0.05);
}

TEST_F(DocumentStoreTest, CropBoxOffsetFromMediaBoxRendersTheCropBox) {
    // Text at 60..., a crop box from x 40: the text's left edge is at 20 pt of 200.
    const auto plain = pdf("plain.pdf", {{300, 400, {{60, 100, "Offset words", 12}}}, {300, 400, {}}});
    const auto boxed = dir / "boxed.pdf";
    ASSERT_TRUE(testing::setCropBox(plain, boxed, 40, 0, 240, 400));
    const auto turned = dir / "boxed-turned.pdf";  // turns cropping off: the whole crop box is drawn
    ASSERT_TRUE(testing::rotatePdf(boxed, turned, 180, "2"));
    ASSERT_TRUE(store.open(turned));
    const auto image = testing::decodePng(*store.renderPage(0, 400));
    EXPECT_EQ(image.height, 800);
    const auto ink = testing::inkBox(image);
    EXPECT_NEAR(ink.minX, 20.0 / 200, 0.01);
    EXPECT_NEAR(ink.minY, 100.0 / 400, 0.02);
    const auto lines = store.pageLines(0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NEAR(lines[0].x, 20.0 / 200, 0.005);
    EXPECT_NEAR(lines[0].y, 100.0 / 400, 0.005);
}

TEST_F(DocumentStoreTest, AbsurdPageSizesAnswerNothing) {
    const auto path = pdf("huge.pdf", {{14400, 14400, {}}, {200, 14400, {}}});
    ASSERT_TRUE(store.open(path));
    EXPECT_FALSE(store.renderPage(1, 8192));  // 8192 x 589824: gigabytes
    EXPECT_FALSE(store.renderPage(1, 1600));  // 1600 x 115200
    EXPECT_FALSE(store.renderPage(0, 2'000'000'000));
    EXPECT_TRUE(store.renderPage(0, 64));
}

TEST_F(DocumentStoreTest, CacheKeysAndInsertionOrderEviction) {
    ASSERT_TRUE(store.open(pdf("s.pdf", {textPage(), textPage()})));
    store.renderPage(1, 20);
    store.renderPage(1, 40);
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"1@20", "1@40"}));

    for (int width = 50; width < 60; ++width) store.renderPage(0, width);
    const auto first = store.renderPage(1, 20);  // a hit does not refresh the key
    store.renderPage(0, 60);                     // the 13th distinct key
    const auto keys = store.cachedKeys();
    ASSERT_EQ(keys.size(), 12u);
    EXPECT_EQ(keys.front(), "1@40");
    EXPECT_EQ(keys.back(), "0@60");
    ASSERT_TRUE(first);
    EXPECT_EQ(store.renderPage(1, 20), first);  // drawn again, identical
}

TEST_F(DocumentStoreTest, RenderFinishingAfterAChangeIsReturnedButNotStored) {
    const auto path = pdf("s.pdf", {textPage(), textPage()});
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"close", [&] { store.close(); }},
        {"open", [&] { store.open(path); }},
        {"crop", [&] { store.setCrop(PageCrop{0, 0, 0.5, 0.5}); }},
        {"page-number flag", [&] { store.setDropPageNumbers(true); }},
    };
    for (const auto& [name, action] : changes) {
        SCOPED_TRACE(name);
        const std::function<void()>& change = action;
        ASSERT_TRUE(store.open(path));
        bool changed = false;
        testing::DocumentStoreAccess::setAfterDraw(store, [&] {
            if (!changed) change();
            changed = true;
        });
        EXPECT_TRUE(store.renderPage(0, 50));
        EXPECT_TRUE(store.cachedKeys().empty());
        testing::DocumentStoreAccess::setAfterDraw(store, nullptr);
    }
}

TEST_F(DocumentStoreTest, RendersFromSeveralThreadsAtOnce) {
    ASSERT_TRUE(store.open(pdf("s.pdf", {textPage(), textPage(400, 300), textPage()})));
    std::vector<std::thread> threads;
    std::vector<std::optional<DocumentStore::Bytes>> results(6);
    for (int i = 0; i < 6; ++i)
        threads.emplace_back([&, i] { results[i] = store.renderPage(i % 3, 200 + i); });
    for (int i = 0; i < 6; ++i) {
        // Text queries meanwhile take only the main lock.
        EXPECT_EQ(store.pageLines(i % 3).size(), 2u);
    }
    for (auto& t : threads) t.join();
    for (const auto& result : results) EXPECT_EQ(testing::decodePng(*result).width > 0, true);
    EXPECT_EQ(store.cachedKeys().size(), 6u);
}

TEST_F(DocumentStoreTest, LinesCollectedInParallelEqualThoseTakenOnePageAtATime) {
    std::vector<FixturePage> pages;
    for (int i = 0; i < 7; ++i) pages.push_back(densePage(i));
    pages.push_back({300, 400, {}});  // no text at all
    pages.push_back(textPage(400, 300));
    const auto plain = pdf("plain.pdf", pages);
    const auto path = dir / "turned.pdf";  // one page on its side: the lines turn with it
    ASSERT_TRUE(testing::rotatePdf(plain, path, 90, "3"));

    const PdfBytes bytes = readPdfBytes(path);
    const auto single = LayoutPdf::open(bytes);
    ASSERT_TRUE(single);
    std::vector<std::vector<TextLine>> expected;
    for (int i = 0; i < single->pageCount(); ++i) expected.push_back(single->textLines(i));
    ASSERT_EQ(expected.size(), 9u);
    ASSERT_EQ(expected[0].size(), 60u);
    EXPECT_TRUE(expected[7].empty());

    auto same = [](const std::vector<TextLine>& a, const std::vector<TextLine>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const TextLine& x, const TextLine& y) { return x.text == y.text && x.rect == y.rect; });
    };
    for (int workers : {1, 2, 3, 16}) {
        SCOPED_TRACE(workers);
        const auto layout = LayoutPdf::open(bytes);
        const auto collected = DocumentStore::collectPages(bytes, *layout, workers);
        ASSERT_EQ(collected.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(same(collected[i].lines, expected[i]));
            ASSERT_TRUE(collected[i].searchText);
            const bool dense = i < 7;  // the last line of a dense page is in its search text
            EXPECT_EQ(collected[i].searchText->find("p" + std::to_string(i) + "l59") != std::string::npos, dense);
        }
        // Released pages are made again when asked about.
        EXPECT_TRUE(same(layout->textLines(2), expected[2]));
        EXPECT_EQ(layout->pageText(8), single->pageText(8));
    }

    // The store files each page's lines under its own number.
    ASSERT_TRUE(store.open(path));
    for (int i = 0; i < 9; ++i) EXPECT_EQ(store.pageLines(i).size(), expected[i].size()) << i;
    const auto hits = store.search("P5L17 ", 10);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].page, 5);
}

// The folded text may only rule a page out when poppler's find could not match there.
TEST(DocumentSearchKey, FoldsEverythingFindIgnores) {
    const struct {
        const char* page;
        const char* query;
        bool mayMatch;
    } cases[] = {
        {"Enter MARGARET, left", "margaret", true},
        {"Enter MARGARET, left", "Margaret,  Left", true},  // space against no space
        {"the storm-\ntossed sea", "stormtossed", true},    // hyphen at a line end
        {"the storm\ntossed sea", "storm tossed", true},    // across a line end
        {"ÄITI tulee", "äiti", true},
        {"Straße", "STRASSE", true},                        // one letter against two
        {"ﬁnal scene", "final", true},                      // ligature against its letters
        {"KAPI", "kapı", true},                             // dotless i: capitals agree
        {"non\u00ADbreaking", "nonbreaking", true},         // soft hyphen
        {"Enter MARGARET", "margarets", false},
        {"äiti", "aiti", false},                            // marks count
        {"storm", "sturm", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.page) + " / " + c.query);
        const auto page = DocumentStore::searchKey(c.page), query = DocumentStore::searchKey(c.query);
        ASSERT_TRUE(page && query);
        EXPECT_EQ(page->find(*query) != std::string::npos, c.mayMatch);
    }
    EXPECT_EQ(DocumentStore::searchKey("A b-C\t\u00A0d"), "abcd");
    EXPECT_EQ(DocumentStore::searchKey("\xff\xfe"), std::nullopt);  // not UTF-8: cannot rule anything out
}

TEST_F(DocumentStoreTest, SearchStillFindsWhatThePagesHold) {
    const FixturePage closeLines{300, 400, {{30, 40, "Alpha beta gamma", 12}, {30, 54, "Second line", 12}}};
    ASSERT_TRUE(store.open(pdf("s.pdf", {closeLines, densePage(3), textPage()})));
    const struct {
        const char* query;
        std::vector<int> pages;
    } cases[] = {
        {"ALPHA BETA", {0, 2}},
        {"gamma second", {0, 2}},  // runs on to the next line, whatever the gap
        {"p3l42 ", {1}},
        {"harbour lantern", {1}},
        {"Alpha betas", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        std::vector<int> pages;
        for (const auto& hit : store.search(c.query, 300))
            if (pages.empty() || pages.back() != hit.page) pages.push_back(hit.page);
        EXPECT_EQ(pages, c.pages);
    }
}

// The open keeps each page's lines and lets poppler's pages go; a close gives
// everything back and no worker thread outlives the open.
TEST_F(DocumentStoreTest, OpeningKeepsLittleAndClosingGivesItBack) {
    std::vector<FixturePage> pages;
    for (int i = 0; i < 60; ++i) pages.push_back(densePage(i));
    const auto path = pdf("dense.pdf", pages);
    const std::size_t threads = threadCount();

    // A small script first, so fonts and poppler's shared state are in place;
    // freed memory the allocator keeps would hide what the big one holds.
    ASSERT_TRUE(store.open(pdf("small.pdf", {densePage(0)})));
    store.close();
    const double before = residentMegabytes();
    ASSERT_TRUE(store.open(path));
    EXPECT_EQ(threadCount(), threads);
    const auto lines = store.allPageLines();
    ASSERT_TRUE(lines);
    EXPECT_EQ((*lines)[59].size(), 60u);
    // Kept pages cost well over a megabyte each; sixty lines of boxes do not.
    EXPECT_LT(residentMegabytes() - before, 30.0);

    store.close();
    const double settled = residentMegabytes();
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(store.open(path));
        store.close();
    }
    EXPECT_EQ(threadCount(), threads);
    EXPECT_LT(residentMegabytes() - settled, 15.0);
}

TEST_F(DocumentStoreTest, TheImageCacheStaysWithinItsBytes) {
    ASSERT_TRUE(store.open(pdf("s.pdf", {{300, 400, {}}, {300, 400, {}}, {300, 400, {}}, {300, 400, {}}})));
    const auto image = [&](int page, int width = 100) { return store.pageImage(page, width, ImageEncoding::screen); };
    std::size_t size = 0;  // blank pages are alike
    for (int page = 0; page < 4; ++page) {
        ASSERT_TRUE(image(page));
        EXPECT_TRUE(size == 0 || image(page)->bytes.size() == size);
        size = image(page)->bytes.size();
    }
    // A bound of two images lets the oldest go at once, and keeps them out after.
    store.setImageCacheBytes(2 * size);
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"2@100/screen", "3@100/screen"}));
    ASSERT_TRUE(image(1));
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"3@100/screen", "1@100/screen"}));
    EXPECT_EQ(store.imageCacheBytes(), 2 * size);

    // One image larger than the whole bound is handed out but pushes nothing out.
    EXPECT_TRUE(image(0, 800));
    EXPECT_EQ(store.cachedKeys().size(), 2u);
    EXPECT_EQ(image(3), image(3)) << "a hit is the cached image itself, not a copy";
    store.close();
    EXPECT_EQ(store.imageCacheBytes(), 0u);
}

// Scripts locked by their publisher open only with a password, and every
// poppler handle of the open document uses it. Two pages, so that the line
// collection at open hands pages to a worker's own document.
TEST_F(DocumentStoreTest, LockedScriptsOpenOnlyWithEitherPasswordAndEveryHandleUsesIt) {
    const auto plain =
        pdf("plain.pdf", {{300, 400, {{30, 40, "Enter the ghost"}}}, {300, 400, {{30, 40, "Exit pursued"}}}});
    // RC4 and AES as publishers' tools write them; a password outside ASCII
    // takes poppler's second try, where a wrong one once crashed it.
    for (const auto& [bits, password] : {std::pair<int, std::string>{128, "sesame"}, {256, "s\u00e9same"}}) {
        SCOPED_TRACE(bits);
        const auto locked = dir / ("locked" + std::to_string(bits) + ".pdf");
        ASSERT_TRUE(testing::encryptPdf(plain, locked, password, "keeper", bits));
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
