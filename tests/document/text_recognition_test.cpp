// Scanned pages read back by text recognition, the rule that picks the pages
// to read, and what is refused rather than read.
#include "document/text_recognition.hpp"

#include <gtest/gtest.h>
#include <poppler.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "document/document_store.hpp"
#include "support/scan_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

// Folded as search folds it, without the punctuation after it, which is read loosely.
std::string fold(const std::string& word) {
    std::string key = DocumentStore::searchKey(word).value_or(word);
    while (!key.empty() && std::ispunct(static_cast<unsigned char>(key.back()))) key.pop_back();
    return key;
}

// The index pairs of a longest common subsequence of the two word lists.
std::vector<std::pair<std::size_t, std::size_t>> commonWords(const std::vector<std::string>& a,
                                                             const std::vector<std::string>& b) {
    std::vector<std::vector<int>> longest(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;)
        for (std::size_t j = b.size(); j-- > 0;)
            longest[i][j] = a[i] == b[j] ? longest[i + 1][j + 1] + 1 : std::max(longest[i + 1][j], longest[i][j + 1]);
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();)
        if (a[i] == b[j]) pairs.emplace_back(i++, j++);
        else if (longest[i + 1][j] >= longest[i][j + 1]) ++i;
        else ++j;
    return pairs;
}

// Whether page 1 is to be read, and the share of it pictures cover.
std::pair<bool, double> firstPage(const std::filesystem::path& pdf) {
    PopplerDocument* document = poppler_document_new_from_bytes(readPdfBytes(pdf).get(), nullptr, nullptr);
    PopplerPage* page = document ? poppler_document_get_page(document, 0) : nullptr;
    const std::pair result{page && pageNeedsRecognition(page), pageTextCounts(page).imageCover};
    if (page) g_object_unref(page);
    if (document) g_object_unref(document);
    return result;
}

// The scans hold no text; recognition reads back the source's words in order, each where it stood, line by line.
TEST(TextRecognition, ScansReadBackTheSourceWordsWhereTheyStood) {
    testing::TempDir dir;
    testing::writePdf(dir / "play.pdf", {testing::playPage()});
    const std::vector<testing::LibraryWord> printed = testing::libraryWords(dir / "play.pdf").at(0);
    std::vector<std::string> printedKeys;
    for (const auto& w : printed) printedKeys.push_back(fold(w.text));
    EXPECT_FALSE(firstPage(dir / "play.pdf").first);

    TextRecognizer recognizer("eng");
    ASSERT_FALSE(recognizer.problem()) << *recognizer.problem();
    for (auto [scan, leastShare] : {std::pair{testing::Scan{dir / "clean.pdf", 300}, 0.9},
                                    {testing::Scan{dir / "crooked.pdf", 150, 2, 0.3}, 0.8}}) {
        SCOPED_TRACE(scan.pdf.filename());
        testing::scanPdf(dir / "play.pdf", scan);
        // However its page is turned: poppler maps a turned page's pictures off the page.
        for (const int turn : {0, 90, 270}) {
            ASSERT_TRUE(testing::rotatePdf(scan.pdf, dir / "turned.pdf", turn));
            const auto [read, cover] = firstPage(dir / "turned.pdf");
            EXPECT_TRUE(read && cover > 0.99) << turn << " " << cover;
        }
        const auto drawn = drawPageGrey(readPdfBytes(scan.pdf), 0, scan.dpi);
        ASSERT_TRUE(drawn);
        EXPECT_EQ(std::tuple(drawn->dpi, drawn->image.width, drawn->image.height),
                  std::tuple(scan.dpi, scan.width, scan.height));

        const auto start = std::chrono::steady_clock::now();
        const Recognition read = recognizer.recognise(drawn->image, drawn->dpi);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_NEAR(read.skewDegrees, scan.turnDegrees, 0.3);
        std::vector<std::string> keys;
        for (const RecognisedWord& w : read.words) keys.push_back(fold(w.text));
        const auto pairs = commonWords(printedKeys, keys);
        std::printf("[ recognised ] %s: %zu of %zu words\n", scan.pdf.filename().c_str(), pairs.size(), printed.size());
        // Nearly all it reads was printed: a gap between a name and its speech is no word.
        EXPECT_TRUE(pairs.size() >= leastShare * printed.size() && pairs.size() >= 0.97 * read.words.size());

        // Every centre on its printed word (short words' boxes come back narrow), most within a point.
        std::vector<double> distances;
        for (std::size_t k = 0; k < pairs.size(); ++k) {
            const testing::LibraryWord& p = printed[pairs[k].first];
            const RecognisedWord& r = read.words[pairs[k].second];
            const auto [x, y] = testing::sourcePoint(scan, r.x + r.w / 2, r.y + r.h / 2);
            distances.push_back(std::hypot(x - (p.xMin + p.xMax) / 2, y - (p.yMin + p.yMax) / 2));
            EXPECT_TRUE(x > p.xMin - 1 && x < p.xMax + 1 && y > p.yMin - 1 && y < p.yMax + 1)
                << p.text << " read at " << x << "," << y << ", printed at " << p.xMin << "," << p.yMin;
            const bool newLine = k > 0 && p.yMin > printed[pairs[k - 1].first].yMin + 8;
            if (k > 0) EXPECT_EQ(r.line - read.words[pairs[k - 1].second].line, newLine ? 1 : 0) << r.text;
        }
        std::nth_element(distances.begin(), distances.begin() + distances.size() / 2, distances.end());
        EXPECT_LT(distances[distances.size() / 2], 1.5);

        // Stopped halfway, past the cleaning, nothing comes back; the next page is read whole.
        std::atomic<bool> stop{false};
        std::jthread stopper([&stop, took] {
            std::this_thread::sleep_for(took / 2);
            stop = true;
        });
        const Recognition stopped = recognizer.recognise(drawn->image, drawn->dpi, &stop);
        EXPECT_TRUE(stopped.cancelled && !stopped.problem && stopped.words.empty());
        EXPECT_EQ(recognizer.recognise(drawn->image, drawn->dpi).words.size(), read.words.size());
    }
}

TEST(TextRecognition, MissingOrUnloadableLanguagesGiveAProblemNotACrash) {
    testing::TempDir dir;
    for (const char* name : {"broken/eng.traineddata", "list/fin.traineddata", "list/eng.traineddata",
                             "list/osd.traineddata", "list/eng.traineddata.bak"}) {
        std::filesystem::create_directories((dir / name).parent_path());
        testing::writeText(dir / name, "not language data");
    }
    EXPECT_EQ(TextRecognizer::installedLanguages(dir / "list"), (std::vector<std::string>{"eng", "fin"}));

    const std::string notAList = " is not a language list: give names such as eng, or eng+fin.";
    const std::tuple<std::string, std::optional<std::filesystem::path>, std::string> cases[] = {
        {"eng", std::nullopt, ""},
        {"eng+qaa", std::nullopt, "The language data for qaa is not installed (package tesseract-ocr-qaa)."},
        {"qab_x+eng+qaa+qaa", std::nullopt,
         "The language data for qab_x and qaa are not installed (packages tesseract-ocr-qab-x and tesseract-ocr-qaa)."},
        {"eng+../eng", std::nullopt, "\"eng+../eng\"" + notAList},
        {"eng+", std::nullopt, "\"eng+\"" + notAList},
        {"eng", dir.path(), "The language data for eng is not in " + dir.path().string() + "."},
        {"eng", dir / "broken", "The language data for eng in " + (dir / "broken").string() + " could not be loaded."},
    };
    for (const auto& [languages, folder, problem] : cases) {
        TextRecognizer recognizer(languages, folder);
        EXPECT_EQ(recognizer.problem().value_or(""), problem) << languages;
        const Recognition read = recognizer.recognise({64, 32, 64, std::vector<std::uint8_t>(64 * 32, 255)}, 300);
        EXPECT_TRUE(read.problem.value_or("") == problem && read.words.empty()) << languages;
    }
}

TEST(TextRecognition, APageIsReadWhenAPictureHasNoTextOrAFewCharacters) {
    const std::tuple<std::size_t, double, bool> cases[] = {
        {0, 0, false},     // a blank page, or one drawn without a picture
        {0, 0.05, true},   // a scan cut to the text block, or a picture of a few lines
        {1, 0.3, false},   // a blank page with its number
        {19, 0.6, true},   // a scan with a page number or stamp in text
        {20, 0.9, false},  // a scan with its text layer
        {5, 0.59, false},  // a title page with a photograph
    };
    for (const auto& [characters, cover, read] : cases)
        EXPECT_EQ(needsRecognition({characters, cover}), read) << characters << " " << cover;
}

TEST(TextRecognition, PagesAndImagesPastTheLimitsAreDrawnSmallerOrRefused) {
    testing::TempDir dir;
    // The wide page is drawn in bands: ink on the rows of its foot line shows the last band placed right.
    testing::writePdf(dir / "sizes.pdf", {{3000, 600, {{40, 560, "Foot"}}}, {20000, 20000, {}}});
    testing::encryptPdf(dir / "sizes.pdf", dir / "locked.pdf", "user", "owner");
    const std::tuple<const char*, int, int, std::string, int> pages[] = {
        {"sizes.pdf", 0, 300, "", 288},  // 12500 pixels across at 300 dpi
        {"sizes.pdf", 1, 300, "Page 2 is too large to read: at 50 dpi it would be more than 12000 pixels across.", 0},
        {"sizes.pdf", 0, 49, "A page is drawn for reading at 50 to 1200 dpi, not 49.", 0},
        {"sizes.pdf", 2, 300, "The PDF has no page 3.", 0},
        {"locked.pdf", 0, 72, "The PDF is locked with a password.", 0},
        {"missing.pdf", 0, 72, "The PDF could not be read.", 0},
    };
    for (const auto& [file, index, dpi, problem, drawnDpi] : pages) {
        std::string why;
        const auto drawn = drawPageGrey(readPdfBytes(dir / file), index, dpi, {}, &why);
        EXPECT_EQ(std::pair(drawn ? drawn->dpi : 0, why), std::pair(drawnDpi, problem));
        if (!drawn) continue;
        const auto ink = [&](double top) {
            const auto row = drawn->image.bytes.begin() + std::lround(top * drawn->dpi / 72) * drawn->image.stride;
            return *std::min_element(row, row + drawn->image.width) < 64;
        };
        EXPECT_TRUE(drawn->dpiLowered && !ink(200) && ink(566) && drawn->image.width == 12000);
    }
    EXPECT_TRUE(drawPageGrey(readPdfBytes(dir / "locked.pdf"), 0, 72, "user"));

    TextRecognizer recognizer("eng");
    std::atomic<bool> cancel{true};
    const auto white = [](int width, int height, std::size_t size) {
        return GreyImage{width, height, width, std::vector<std::uint8_t>(size, 255)};
    };
    const std::tuple<GreyImage, int, const std::atomic<bool>*, std::string> images[] = {
        {white(12001, 2, 24002), 300, nullptr,
         "The page image is 12001 x 2 pixels; at most 12000 pixels a side are read."},
        {white(100, 100, 9999), 300, nullptr, "The page image is empty or cut short."},
        {white(100, 100, 10000), 20, nullptr, "A page image of 20 dpi is not read; 50 to 1200 dpi are."},
        {white(100, 100, 10000), 300, &cancel, ""},
        {white(100, 100, 10000), 300, nullptr, ""},
    };
    for (const auto& [image, dpi, stop, problem] : images) {
        const Recognition read = recognizer.recognise(image, dpi, stop);
        EXPECT_EQ(std::tuple(read.problem.value_or(""), read.cancelled, read.words.size()),
                  std::tuple(problem, stop != nullptr, 0u));
    }
}

}  // namespace
}  // namespace tallowmark
