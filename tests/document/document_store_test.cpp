// The store as a whole: opening, drawing and caching pages, collecting lines, its threads and its memory.
#include <cairo-pdf.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>

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

// 60 lines of 90-odd characters, different on every page so no two pages' lines can stand in for each other.
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

long threadCount() { return std::distance(fs::directory_iterator("/proc/self/task"), {}); }

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

using DocumentStoreTest = testing::StoreTest;

// Pages without text are never cropped, so the aspects and sizes are the boxes' own.
TEST_F(DocumentStoreTest, AspectsAndImageSizesFollowTheBoxesAndTheTurn) {
    const auto plain = pdf("Act One.pdf", {{300, 400, {}}, {400, 300, {}}, {200, 200, {}}, {300, 10, {}},
                                           {14400, 14400, {}}, {200, 14400, {}}});
    ASSERT_TRUE(testing::rotatePdf(plain, dir / "turned.pdf", 90, "1"));
    ASSERT_TRUE(testing::setCropBox(plain, dir / "boxed.pdf", 10, 50, 150, 280));
    const std::tuple<const char*, int, double, int, std::pair<int, int>> rows[] = {
        {"Act One.pdf", 0, 0.75, 600, {600, 800}}, {"Act One.pdf", 0, 0.75, 0, {1, 1}},
        {"Act One.pdf", 0, 0.75, -7, {1, 1}},      {"Act One.pdf", 1, 4.0 / 3, 40, {40, 30}},
        {"Act One.pdf", 2, 1.0, 50, {50, 50}},     {"Act One.pdf", 3, 30, 20, {20, 1}},  // 0.67 px high
        {"Act One.pdf", 6, 0, 100, {0, 0}},        {"Act One.pdf", -1, 0, 100, {0, 0}},  // no such page
        // Absurd sizes answer nothing: 8192 x 589824 is gigabytes.
        {"Act One.pdf", 5, 0, 8192, {0, 0}},       {"Act One.pdf", 5, 0, 1600, {0, 0}},
        {"Act One.pdf", 4, 1.0, 2'000'000'000, {0, 0}}, {"Act One.pdf", 4, 1.0, 64, {64, 64}},
        {"turned.pdf", 0, 4.0 / 3, 40, {40, 30}},  {"turned.pdf", 1, 4.0 / 3, 40, {40, 30}},
        {"boxed.pdf", 0, 140.0 / 230, 140, {140, 230}},
    };
    for (const auto& [file, page, aspect, width, size] : rows) {
        SCOPED_TRACE(std::string(file) + " " + std::to_string(page) + " @" + std::to_string(width));
        const auto info = store.open(dir / file);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->pageCount, 6);
        EXPECT_NEAR(aspect ? info->aspects.at(page) : 0, aspect, 1e-9);
        const auto png = store.renderPage(page, width);
        const auto image = png ? testing::decodePng(*png) : testing::Bitmap{};
        EXPECT_EQ(std::pair(image.width, image.height), size);
    }
    EXPECT_EQ(store.open(plain)->title + " at " + store.currentInfo()->path, "Act One at " + plain.string());
}

// The ink sits where the lines say, on the crop or on a crop box away from the media box's corner.
TEST_F(DocumentStoreTest, TheInkSitsWhereTheLinesSay) {
    pdf("script.pdf", {textPage()});
    const auto offset = pdf("offset.pdf", {{300, 400, {{60, 100, "Offset words", 12}}}, {300, 400, {}}});
    ASSERT_TRUE(testing::setCropBox(offset, dir / "boxed.pdf", 40, 0, 240, 400));
    ASSERT_TRUE(testing::rotatePdf(dir / "boxed.pdf", dir / "boxed-turned.pdf", 180, "2"));
    // Where the first line starts on the drawn page (0: wherever the crop puts it); turning page 2 turns cropping off.
    for (const auto& [file, x, y] : {std::tuple{"script.pdf", 0.0, 0.0}, {"boxed-turned.pdf", 20.0 / 200, 100.0 / 400}}) {
        SCOPED_TRACE(file);
        const auto info = store.open(dir / file);
        ASSERT_TRUE(info);
        const auto image = testing::decodePng(*store.renderPage(0, 400));
        EXPECT_EQ(std::pair(image.width, image.height), std::pair(400, static_cast<int>(400 / info->aspects[0])));
        const auto lines = store.pageLines(0);
        ASSERT_FALSE(lines.empty());
        const auto ink = testing::inkBox(image);
        testing::expectNear({ink.minY, ink.maxY, 0, 0}, {lines[0].y, lines.back().maxY(), 0, 0}, 0.05);
        EXPECT_NEAR(ink.minX, lines[0].x, 0.02);
        if (x) testing::expectNear({lines[0].x, lines[0].y, info->aspects[0], 0}, {x, y, 0.5, 0}, 0.005);
    }
}

// Anything but a PDF that opens leaves the open script as it was; a scan that is only an image opens.
TEST_F(DocumentStoreTest, UnreadableFilesLeaveTheOpenScriptAloneAndScannedOnesOpen) {
    const auto good = pdf("good.pdf", {textPage(), textPage(400, 300)});
    const auto before = store.open(good);
    ASSERT_TRUE(before && store.renderPage(0, 100));
    testing::writeText(dir / "text.pdf", "This is a script, but not a PDF.\n");
    testing::writeText(dir / "empty.pdf", "");
    testing::writeText(dir / "truncated.pdf", testing::readText(good).substr(0, 40));
    ASSERT_TRUE(testing::encryptPdf(good, dir / "locked.pdf", "secret", "owner"));  // no password given
    for (const char* name : {"text.pdf", "empty.pdf", "truncated.pdf", "missing.pdf", "locked.pdf"}) {
        EXPECT_FALSE(store.open(dir / name)) << name;
        EXPECT_EQ(store.currentInfo(), before) << name;
    }
    EXPECT_EQ(store.cachedKeys(), std::vector<std::string>{"0@100"});
    EXPECT_FALSE(store.pageText(1).empty());

    cairo_surface_t* page = cairo_pdf_surface_create((dir / "scanned.pdf").c_str(), 300, 400);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 100, 100);  // cleared to black
    cairo_t* cr = cairo_create(page);
    cairo_set_source_surface(cr, image, 100, 150), cairo_paint(cr);
    cairo_destroy(cr), cairo_surface_destroy(image), cairo_surface_destroy(page);
    EXPECT_EQ(store.open(dir / "scanned.pdf").value().pageCount, 1);
    EXPECT_TRUE(store.pageLines(0).empty() && store.pageLines(5).empty() && store.pageText(0).empty());
    EXPECT_FALSE(store.allPageLines());
    EXPECT_FALSE(testing::inkBox(testing::decodePng(store.renderPage(0, 300).value())).empty());
}

// Twelve images at most, let go in the order they came (a hit refreshes nothing), within a bound of bytes.
TEST_F(DocumentStoreTest, TheImageCacheKeepsTwelveImagesWithinItsBytesOldestOut) {
    ASSERT_TRUE(store.open(pdf("s.pdf", {textPage(), textPage()})));
    store.renderPage(1, 20);
    store.renderPage(1, 40);
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"1@20", "1@40"}));
    for (int width = 50; width < 60; ++width) store.renderPage(0, width);
    const auto first = store.renderPage(1, 20);
    store.renderPage(0, 60);  // the 13th distinct key
    const auto keys = store.cachedKeys();
    EXPECT_EQ(std::to_string(keys.size()) + " " + keys.front() + " " + keys.back(), "12 1@40 0@60");
    EXPECT_EQ(store.renderPage(1, 20), first.value()) << "drawn again, identical";

    ASSERT_TRUE(store.open(pdf("blank.pdf", {{300, 400, {}}, {300, 400, {}}, {300, 400, {}}, {300, 400, {}}})));
    const auto image = [&](int page, int width = 100) { return store.pageImage(page, width, ImageEncoding::screen); };
    for (int page = 0; page < 4; ++page) ASSERT_TRUE(image(page));
    const std::size_t size = image(0)->bytes.size();  // blank pages are alike
    EXPECT_EQ(image(3)->bytes.size(), size);
    store.setImageCacheBytes(2 * size);
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"2@100/screen", "3@100/screen"}));
    ASSERT_TRUE(image(1));
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"3@100/screen", "1@100/screen"}));
    EXPECT_EQ(store.imageCacheBytes(), 2 * size);
    EXPECT_TRUE(image(0, 800));
    EXPECT_EQ(store.cachedKeys().size(), 2u);
    EXPECT_EQ(image(3), image(3)) << "a hit is the cached image itself, not a copy";
    store.close();
    EXPECT_EQ(store.imageCacheBytes(), 0u);
}

TEST_F(DocumentStoreTest, RenderFinishingAfterAChangeIsReturnedButNotStored) {
    const auto path = pdf("s.pdf", {textPage(), textPage()});
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"close", [&] { store.close(); }},
        {"open", [&] { store.open(path); }},
        {"crop", [&] { store.setCrop(PageCrop{0, 0, 0.5, 0.5}); }},
        {"page-number flag", [&] { store.setDropPageNumbers(true); }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.first);
        ASSERT_TRUE(store.open(path));
        testing::DocumentStoreAccess::setAfterDraw(store, [&, changed = false]() mutable {
            if (!std::exchange(changed, true)) change.second();
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
    for (int i = 0; i < 6; ++i) threads.emplace_back([&, i] { results[i] = store.renderPage(i % 3, 200 + i); });
    // Text queries meanwhile take only the main lock.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(store.pageLines(i % 3).size(), 2u);
    for (auto& t : threads) t.join();
    for (const auto& result : results) EXPECT_GT(testing::decodePng(result.value()).width, 0);
    EXPECT_EQ(store.cachedKeys().size(), 6u);
}

TEST_F(DocumentStoreTest, LinesCollectedInParallelEqualThoseTakenOnePageAtATime) {
    std::vector<FixturePage> pages;
    for (int i = 0; i < 7; ++i) pages.push_back(densePage(i));
    pages.push_back({300, 400, {}});  // no text at all
    pages.push_back(textPage(400, 300));
    const auto path = dir / "turned.pdf";  // one page on its side: the lines turn with it
    ASSERT_TRUE(testing::rotatePdf(pdf("plain.pdf", pages), path, 90, "3"));
    const PdfBytes bytes = readPdfBytes(path);
    const auto single = LayoutPdf::open(bytes);
    ASSERT_TRUE(single);
    std::vector<std::vector<TextLine>> expected;
    for (int i = 0; i < single->pageCount(); ++i) expected.push_back(single->textLines(i));
    ASSERT_EQ(expected.size(), 9u);
    const auto same = [](const std::vector<TextLine>& a, const std::vector<TextLine>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const TextLine& x, const TextLine& y) { return x.text == y.text && x.rect == y.rect; });
    };
    for (int workers : {1, 2, 3, 16}) {
        SCOPED_TRACE(workers);
        const auto layout = LayoutPdf::open(bytes);
        const auto collected = DocumentStore::collectPages(bytes, *layout, workers);
        ASSERT_EQ(collected.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_TRUE(same(collected[i].lines, expected[i])) << i;
            // The last line of a dense page is in its search text.
            ASSERT_TRUE(collected[i].searchText);
            EXPECT_EQ(collected[i].searchText->find("p" + std::to_string(i) + "l59") != std::string::npos, i < 7) << i;
        }
    }
}

// The folded text may only rule a page out when poppler's find could not match there.
TEST(DocumentSearchKey, FoldsEverythingFindIgnores) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"Enter MARGARET, left", "Margaret,  Left", true},  // space against no space
        {"Straße", "STRASSE", true},                        // one letter against two
        {"ﬁnal scene", "final", true},                      // ligature against its letters
        {"KAPI", "kapı", true},                             // dotless i: capitals agree
        {"non\u00ADbreaking", "nonbreaking", true},         // soft hyphen
        {"äiti", "aiti", false},                            // marks count
    };
    for (const auto& [text, query, mayMatch] : cases) {
        const auto page = DocumentStore::searchKey(text), key = DocumentStore::searchKey(query);
        ASSERT_TRUE(page && key) << text;
        EXPECT_EQ(page->find(*key) != std::string::npos, mayMatch) << text << " / " << query;
    }
    EXPECT_EQ(DocumentStore::searchKey("A b-C\t\u00A0d"), "abcd");
    EXPECT_EQ(DocumentStore::searchKey("\xff\xfe"), std::nullopt);  // not UTF-8: cannot rule anything out
}

// The open keeps each page's lines, not poppler's pages (a megabyte or more each); a close gives it back.
TEST_F(DocumentStoreTest, OpeningKeepsLittleAndClosingGivesItBack) {
    std::vector<FixturePage> pages;
    for (int i = 0; i < 60; ++i) pages.push_back(densePage(i));
    const auto path = pdf("dense.pdf", pages);
    const auto threads = threadCount();
    // A small script first, so fonts and poppler's shared state are in place before measuring.
    ASSERT_TRUE(store.open(pdf("small.pdf", {densePage(0)})));
    store.close();
    const double before = residentMegabytes();
    ASSERT_TRUE(store.open(path));
    EXPECT_EQ(threadCount(), threads);
    const auto lines = store.allPageLines();
    ASSERT_TRUE(lines);
    EXPECT_EQ((*lines)[59].size(), 60u);
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

// Every poppler handle of a locked script uses its password: the layout's, a worker's (two pages), the drawing's.
TEST_F(DocumentStoreTest, LockedScriptsOpenOnlyWithEitherPasswordAndEveryHandleUsesIt) {
    const auto plain =
        pdf("plain.pdf", {{300, 400, {{30, 40, "Enter the ghost"}}}, {300, 400, {{30, 40, "Exit pursued"}}}});
    // RC4 and AES; a password outside ASCII takes poppler's second try, where a wrong one once crashed it.
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
            EXPECT_NE(store.pageText(1).find("Exit pursued"), std::string::npos);
            EXPECT_EQ(store.pageLines(1).size(), 1u);
            EXPECT_FALSE(testing::inkBox(testing::decodePng(store.renderPage(1, 200).value())).empty());
        }
        EXPECT_EQ(DocumentStore::openProblem(locked, password), std::nullopt);
        EXPECT_EQ(DocumentStore::openProblem(dir / "missing.pdf"), PdfOpenError::unreadable);
        store.close();
        EXPECT_EQ(store.password(), "");
    }
}

// Lines collected behind the open: what is asked meanwhile is what the whole collection gives.
class BackgroundLinesTest : public testing::StoreTest {
protected:
    BackgroundLinesTest() {
        testing::DocumentStoreAccess::setCollectAtOnceUpTo(store, 0);
        store.setOnLinesCollected([this](std::int64_t generation) {
            const std::scoped_lock lock(mutex);
            collected.push_back(generation);
            changed.notify_all();
        });
    }
    // Text blocks of differing heights (each page its own crop), every line naming its page and `word`.
    std::filesystem::path script(const std::string& word, int pages) {
        std::vector<testing::FixturePage> fixture;
        for (int p = 0; p < pages; ++p) {
            fixture.push_back({400, 560, {}});
            const std::string name = word + " page " + std::to_string(p) + " line ";
            for (int l = 0; l < 12 + (p + static_cast<int>(word.size())) % 7; ++l)
                fixture.back().texts.push_back({50.0 + p % 3 * 4, 60.0 + l * 16, name + std::to_string(l) + " harbour", 10});
        }
        return pdf(word + ".pdf", fixture);
    }
    // No time limit of its own: ctest's bounds the test.
    void waitFor(std::int64_t generation) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return std::count(collected.begin(), collected.end(), generation) > 0; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::int64_t> collected;
};

TEST_F(BackgroundLinesTest, LinesAndSearchDuringTheCollectionAreThoseOfTheWholeCollection) {
    const auto path = script("sea", 60);
    DocumentStore atOnce;
    ASSERT_TRUE(atOnce.open(path));
    ASSERT_TRUE(store.openScript(path, {}, DocumentStore::Lines::inBackground).info);
    const std::vector<int> asked = {59, 58, 31, 0};  // the last first: the collection starts at the front
    std::vector<std::pair<std::optional<PageCrop>, std::vector<ViewFraction>>> early;
    for (int page : asked) early.emplace_back(store.pageCrop(page), store.pageLines(page));
    const auto found = store.search("HARBOUR", 1000);
    waitFor(store.documentGeneration());

    EXPECT_EQ(store.currentInfo(), atOnce.currentInfo());
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const auto after = store.pageLines(asked[k]), reference = atOnce.pageLines(asked[k]);
        const PageCrop c = store.pageCrop(asked[k]).value_or(PageCrop{0, 0, 1, 1});
        ASSERT_EQ(after.size(), reference.size());
        ASSERT_EQ(early[k].second.size(), after.size());
        for (std::size_t i = 0; i < after.size(); ++i) {
            SCOPED_TRACE(std::to_string(asked[k]) + " " + std::to_string(i));
            // A line asked before the crop was known, in the frame of the crop found since.
            const ViewFraction& e = early[k].second[i];
            const ViewFraction then = early[k].first ? e
                                                     : ViewFraction{(e.x - c.x) / c.width, (e.y - c.y) / c.height,
                                                                    e.width / c.width, e.height / c.height};
            testing::expectNear(after[i].list(), reference[i].list(), 1e-9);
            testing::expectNear(then.list(), after[i].list(), 1e-9);
        }
    }
    const auto again = store.search("HARBOUR", 1000);
    ASSERT_EQ(found.size(), again.size());
    EXPECT_GT(again.size(), 600u);  // every line carries it, and every page is searched
    for (std::size_t i = 0; i < again.size(); ++i)
        EXPECT_EQ(std::tie(found[i].page, found[i].snippet), std::tie(again[i].page, again[i].snippet)) << i;
}

TEST_F(BackgroundLinesTest, AnotherOpenOrACloseLeavesNothingOfTheFirstScript) {
    const auto first = script("lantern", 80), second = script("window", 20);
    DocumentStore atOnce;
    ASSERT_TRUE(atOnce.open(second));
    store.openScript(first, {}, DocumentStore::Lines::inBackground);
    ASSERT_TRUE(store.openScript(second, {}, DocumentStore::Lines::inBackground).info);
    const std::int64_t generation = store.documentGeneration();
    waitFor(generation);

    // The first script's pages hold other numbers of lines: its threads would show here.
    EXPECT_TRUE(store.search("lantern", 300).empty());
    const auto lines = store.allPageLines(), reference = atOnce.allPageLines();
    ASSERT_TRUE(lines && reference);
    ASSERT_EQ(lines->size(), 20u);
    for (std::size_t p = 0; p < lines->size(); ++p) EXPECT_EQ((*lines)[p].size(), (*reference)[p].size()) << p;
    EXPECT_EQ(store.currentInfo(), atOnce.currentInfo());
    EXPECT_EQ(std::count(collected.begin(), collected.end(), generation), 1);

    // A close stops a collection and takes its threads with it (this one also those of the one before).
    store.close();
    const auto before = threadCount();
    store.openScript(first, {}, DocumentStore::Lines::inBackground);
    store.close();
    EXPECT_EQ(threadCount(), before);
}

}  // namespace
}  // namespace tallowmark
