// The cache of recognised pages: what hits, what misses, and what pruning may remove.
#include "document/recognition_cache.hpp"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <set>
#include <thread>

#include "core/json_helpers.hpp"
#include "support/fifo_watchdog.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

namespace fs = std::filesystem;

PdfBytes bytesOf(const std::string& text) { return PdfBytes(g_bytes_new(text.data(), text.size()), g_bytes_unref); }

RecognitionKey keyOf(int pdf, int page = 0) {
    return {contentHash(bytesOf("pdf " + std::to_string(pdf))), page, "eng+fin", "5.3.0", "eng 1 2.0+fin 3 4.0"};
}

// `count` words on lines of ten; the first runs past the right edge, as a turned page's can.
CachedPage pageOf(int count) {
    CachedPage page{300, 2480, 3508, {}, -0.75};
    for (int i = 0; i < count; ++i)
        page.words.push_back({i % 3 ? "sana" + std::to_string(i) : "Hämärä", 100.25 + i % 10 * 200,
                              150.5 + i / 10 * 40.125, 180, 30, i % 101, i / 10});
    page.words.at(0).x = 2400;
    return page;
}

auto fields(const CachedPage& page) {
    std::vector<std::tuple<std::string, double, double, double, double, int, int>> words;
    for (const auto& w : page.words) words.emplace_back(w.text, w.x, w.y, w.w, w.h, w.confidence, w.line);
    return std::tuple(page.dpi, page.width, page.height, page.skewDegrees, words);
}

TEST(RecognitionCache, ARoundTripHitsOnlyUnderTheSameKey) {
    testing::TempDir dir;
    const RecognitionCache cache(dir / "ocr");
    CachedPage page = pageOf(25);
    ASSERT_TRUE(cache.store(keyOf(1), page));
    page.words.at(0).w = 80;  // cut to the image's edge
    EXPECT_EQ(fields(cache.load(keyOf(1)).value_or(CachedPage{})), fields(page));

    const std::vector<std::function<void(RecognitionKey&)>> changes = {
        [](RecognitionKey& k) { k.pdfHash = keyOf(2).pdfHash; },
        [](RecognitionKey& k) { k.page = 1; },
        [](RecognitionKey& k) { k.languages = "eng"; },
        [](RecognitionKey& k) { k.engine = "5.3.1"; },
        [](RecognitionKey& k) { k.dataStamp += "x"; },
        [](RecognitionKey& k) { k.dataStamp.clear(); },
        [](RecognitionKey& k) { k.pdfHash = "../" + k.pdfHash.substr(3); }};
    for (std::size_t i = 0; i < changes.size(); ++i) {
        RecognitionKey key = keyOf(1);
        changes[i](key);
        EXPECT_FALSE(cache.load(key)) << i;
    }
    EXPECT_FALSE(cache.store(RecognitionKey{keyOf(1).pdfHash, 0, "eng", "5.3.0", ""}, page));
    // Another page's file under this page's name gives nothing.
    fs::copy_file(cache.entryPath(keyOf(1)), cache.entryPath(keyOf(1, 7)));
    EXPECT_FALSE(cache.load(keyOf(1, 7)));
    // Pages past the bounds load holds files to are not stored.
    for (auto spoil : std::vector<std::function<void(CachedPage&)>>{
             [](CachedPage& p) { p.words.resize(RecognitionCache::maxWords + 1, p.words[1]); },
             [](CachedPage& p) { p.words[1].text.assign(201, 'a'); }, [](CachedPage& p) { p.words[1].y = NAN; },
             [](CachedPage& p) { p.words[1].confidence = 101; }, [](CachedPage& p) { p.skewDegrees = INFINITY; },
             [](CachedPage& p) { p.dpi = 0; }}) {
        CachedPage spoilt = pageOf(3);
        spoil(spoilt);
        EXPECT_FALSE(cache.store(keyOf(3), spoilt));
    }
}

TEST(RecognitionCache, HashesAndLanguageStampsFollowTheirFiles) {
    EXPECT_EQ(contentHash(bytesOf("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    testing::TempDir dir;
    testing::writeText(dir / "eng.traineddata", "eng data");
    testing::writeText(dir / "fin.traineddata", "fin data");
    const std::string stamp = languageDataStamp(dir.path(), "eng+fin");
    for (const char* none : {"", "eng+", "eng+swe", "../eng"})
        EXPECT_EQ(languageDataStamp(dir.path(), none), "") << none;
    fs::last_write_time(dir / "fin.traineddata", fs::last_write_time(dir / "fin.traineddata") - std::chrono::hours(1));
    const std::string older = languageDataStamp(dir.path(), "eng+fin");
    testing::writeText(dir / "fin.traineddata", "fin data, updated");
    const std::vector<std::string> stamps{stamp, older, languageDataStamp(dir.path(), "eng+fin"),
                                          languageDataStamp(dir.path(), "eng")};
    EXPECT_EQ(std::set(stamps.begin(), stamps.end()).size(), 4u);
    EXPECT_EQ(std::count(stamps.begin(), stamps.end(), ""), 0);
}

TEST(RecognitionCache, DamagedForeignAndOddEntriesMissWithoutHanging) {
    testing::TempDir dir, elsewhere;
    const RecognitionCache cache(dir / "ocr");
    const fs::path file = cache.entryPath(keyOf(1));
    const auto replaceText = [](const fs::path& path, const std::string& from, const std::string& to) {
        std::string text = testing::readText(path);
        ASSERT_NE(text.find(from), std::string::npos);
        testing::writeText(path, text.replace(text.find(from), from.size(), to));
    };
    const auto edit = [&](std::function<void(Json&)> change) {
        return [&file, change] {
            Json json = *parseJson(testing::readText(file));
            change(json);
            testing::writeText(file, dumpJson(json, -1));
        };
    };
    // Moved out of the cache, a link left in its place.
    const auto linkAway = [&](const fs::path& path) {
        return [&, path] {
            fs::rename(path, elsewhere / "moved");
            fs::create_symlink(elsewhere / "moved", path);
        };
    };
    const std::vector<std::pair<const char*, std::function<void()>>> spoils = {
        {"truncated", [&] { fs::resize_file(file, fs::file_size(file) / 2); }},
        {"invalid UTF-8", [&] { replaceText(file, "ä", "\xff"); }},
        {"too many words",
         edit([](Json& j) { j["words"] = Json(std::vector<Json>(RecognitionCache::maxWords + 1, j["words"][1])); })},
        {"long word", edit([](Json& j) { j["words"][1]["t"] = std::string(201, 'a'); })},
        {"box past the edge", edit([](Json& j) { j["words"][1]["x"] = 2300.5; })},
        {"confidence", edit([](Json& j) { j["words"][1]["c"] = 101; })},
        {"fraction", edit([](Json& j) { j["width"] = 2480.5; })},
        {"no words", edit([](Json& j) { j.erase("words"); })},
        {"other page", edit([](Json& j) { j["page"] = 1; })},
        {"overflowing number", [&] { replaceText(file, "-0.75", "1e999"); }},
        {"turned past a right angle", edit([](Json& j) { j["skewDegrees"] = 120; })},
        {"too large", [&] { fs::resize_file(file, RecognitionCache::maxEntryBytes + 1); }},
        {"fifo", [&] { ASSERT_TRUE(fs::remove(file) && ::mkfifo(file.c_str(), 0600) == 0); }},
        {"file link", linkAway(file)},
        {"folder link", linkAway(file.parent_path())}};
    for (const auto& [name, spoil] : spoils) {
        SCOPED_TRACE(name);
        fs::remove_all(dir / "ocr");
        fs::remove_all(elsewhere / "moved");
        ASSERT_TRUE(cache.store(keyOf(1), pageOf(25)));
        spoil();
        EXPECT_TRUE(testing::returnsWithoutHelp(file, [&] { EXPECT_FALSE(cache.load(keyOf(1))); }));
    }
}

// Six PDFs of one page each; the fifth is the newest, the first loaded last.
TEST(RecognitionCache, PruningRemovesTheLeastRecentlyUsedPdfsButNeverTheOneJustWritten) {
    for (const auto& [limitInEntries, kept] :
         std::vector<std::pair<double, std::vector<int>>>{{5.5, {0, 3, 4, 5}}, {10, {0, 1, 2, 3, 4, 5}}, {1.2, {5}}}) {
        testing::TempDir dir;
        const RecognitionCache roomy(dir / "ocr");
        for (int pdf = 0; pdf < 5; ++pdf) {
            ASSERT_TRUE(roomy.store(keyOf(pdf), pageOf(200)));
            fs::last_write_time(roomy.entryPath(keyOf(pdf)).parent_path(),
                                fs::file_time_type::clock::now() - std::chrono::minutes(10 - pdf));
        }
        ASSERT_TRUE(roomy.load(keyOf(0)));
        const auto entry = fs::file_size(roomy.entryPath(keyOf(0)));
        const auto limit = static_cast<std::uintmax_t>(limitInEntries * entry);
        ASSERT_TRUE(RecognitionCache(dir / "ocr", limit).store(keyOf(5), pageOf(200)));
        std::vector<int> left;
        for (int pdf = 0; pdf < 6; ++pdf)
            if (roomy.load(keyOf(pdf))) left.push_back(pdf);
        EXPECT_EQ(left, kept) << limitInEntries;
        if (kept.size() > 1) EXPECT_LE(left.size() * entry, limit) << limitInEntries;
    }
}

TEST(RecognitionCache, PruningNeverFollowsALinkOutOfTheRoot) {
    testing::TempDir dir, outside;
    testing::writeText(outside / "precious", "not the cache's");
    const RecognitionCache cache(dir / "ocr", 1);
    ASSERT_TRUE(cache.store(keyOf(1), pageOf(3)));
    const fs::path ownFolder = cache.entryPath(keyOf(1)).parent_path();
    fs::create_directory_symlink(outside.path(), dir / "ocr" / keyOf(2).pdfHash);
    fs::create_symlink(outside / "precious", ownFolder / "p9-0000000000000000.json");
    fs::create_directory_symlink(outside.path(), ownFolder / "inner");
    fs::last_write_time(ownFolder, fs::file_time_type::clock::now() - std::chrono::hours(1));
    ASSERT_TRUE(cache.store(keyOf(3), pageOf(3)));
    EXPECT_EQ(testing::readText(outside / "precious"), "not the cache's");
    EXPECT_FALSE(fs::exists(cache.entryPath(keyOf(1))));  // the cache's own file went, the links stayed
    EXPECT_TRUE(fs::is_symlink(ownFolder / "inner") && fs::is_symlink(dir / "ocr" / keyOf(2).pdfHash));
    EXPECT_TRUE(cache.load(keyOf(3)));
}

// Threads writing, reading and pruning one small cache: a load gives the page stored under its key or nothing.
TEST(RecognitionCache, ThreadsStoringAndPruningAtOnceNeverSeeAnotherPage) {
    testing::TempDir dir;
    std::atomic<int> wrong{0}, hits{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const RecognitionCache cache(dir / "ocr", 40'000);
            for (int i = 0; i < 40; ++i) {
                cache.store(keyOf(i % 6, t), pageOf(20 + t));  // may fail when a prune takes the folder meanwhile
                const auto loaded = cache.load(keyOf((i + 3) % 6, (t + 1) % 4));
                hits += loaded.has_value();
                wrong += loaded && loaded->words.size() != std::size_t(20 + (t + 1) % 4);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::pair(wrong.load(), hits.load() > 0), std::pair(0, true));
}

}  // namespace
}  // namespace tallowmark
