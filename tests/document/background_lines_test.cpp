// A long script opened with its lines collected behind the open: what is asked
// meanwhile is what the whole collection gives, and a second open or a close
// leaves nothing of the first script behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <tuple>

#include "store_test.hpp"
#include "support/document_store_access.hpp"

namespace tallowmark {
namespace {

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
    // Text blocks of differing heights and counts (each page its own crop),
    // every line naming its page and `word`, the script's own.
    std::filesystem::path script(const std::string& word, int pages) {
        std::vector<testing::FixturePage> fixture;
        for (int p = 0; p < pages; ++p) {
            fixture.push_back({400, 560, {}});
            for (int l = 0; l < 12 + (p + static_cast<int>(word.size())) % 7; ++l) {
                const std::string text = word + " page " + std::to_string(p) + " line " + std::to_string(l);
                fixture.back().texts.push_back({50.0 + p % 3 * 4, 60.0 + l * 16, text + " harbour", 10});
            }
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
    // The last pages first: the collection starts at the front.
    const std::vector<int> asked = {59, 58, 31, 0};
    std::vector<std::vector<ViewFraction>> early;
    std::vector<std::optional<PageCrop>> earlyCrop;
    for (int page : asked) {
        earlyCrop.push_back(store.pageCrop(page));
        early.push_back(store.pageLines(page));
    }
    const auto found = store.search("HARBOUR", 1000);
    waitFor(store.documentGeneration());

    EXPECT_EQ(store.currentInfo(), atOnce.currentInfo());
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const auto after = store.pageLines(asked[k]), reference = atOnce.pageLines(asked[k]);
        const PageCrop c = store.pageCrop(asked[k]).value_or(PageCrop{0, 0, 1, 1});
        ASSERT_EQ(after.size(), reference.size());
        ASSERT_EQ(early[k].size(), after.size());
        for (std::size_t i = 0; i < after.size(); ++i) {
            // A line asked before the crop was known, in the frame of the crop found since.
            const ViewFraction& e = early[k][i];
            const ViewFraction then = earlyCrop[k] ? e
                                                   : ViewFraction{(e.x - c.x) / c.width, (e.y - c.y) / c.height,
                                                                  e.width / c.width, e.height / c.height};
            for (int n = 0; n < 4; ++n) {
                EXPECT_NEAR(after[i].list()[n], reference[i].list()[n], 1e-9) << asked[k] << " " << i;
                EXPECT_NEAR(then.list()[n], after[i].list()[n], 1e-9) << asked[k] << " " << i;
            }
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

    // The first script's pages hold other numbers of lines; had its threads
    // outlived the second open they would show here.
    EXPECT_TRUE(store.search("lantern", 300).empty());
    const auto lines = store.allPageLines(), reference = atOnce.allPageLines();
    ASSERT_TRUE(lines && reference);
    ASSERT_EQ(lines->size(), 20u);
    for (std::size_t p = 0; p < lines->size(); ++p) EXPECT_EQ((*lines)[p].size(), (*reference)[p].size()) << p;
    EXPECT_EQ(store.currentInfo(), atOnce.currentInfo());
    EXPECT_EQ(std::count(collected.begin(), collected.end(), generation), 1);

    // A close stops a collection and takes its threads with it (this first
    // close waits for the ended threads of the one before).
    store.close();
    const auto threads = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    const auto before = threads();
    store.openScript(first, {}, DocumentStore::Lines::inBackground);
    store.close();
    EXPECT_EQ(threads(), before);
}

}  // namespace
}  // namespace tallowmark
