#include "bridge/page_image_server.hpp"

#include <gtest/gtest.h>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using Parsed = std::variant<PageImageAddress, std::string>;

TEST(PageImageAddress, ReadsPagesOfTheOneHostAndRefusesEverythingElse) {
    const std::pair<std::string, PageImageAddress> good[] = {
        {"tallowmark-page://images/0/1600", {0, 1600}},
        {"TALLOWMARK-PAGE://images/12/64?v=k3x.7", {12, 64}},  // scheme in any case; query ignored
        {"tallowmark-page://images/499/8192#x", {499, 8192}},
    };
    for (const auto& [url, address] : good) EXPECT_EQ(parsePageImageURL(url), Parsed{address}) << url;
    const std::pair<const char*, std::vector<std::string>> bad[] = {
        {"virheellinen sivu", {"images/-1/1600", "images/x/1600", "images/+3/1600", "images/99999999999/1600"}},
        // outside the render bounds, not a plain number, missing
        {"virheellinen leveys", {"images/0/63", "images/0/8193", "images/0/1600px", "images/0/"}},
        {"virheellinen osoite", {"images/0"}},
        {"vieras osoite", {"evil/0/1600", "images.evil/0/1600", "user@images/0/1600", "images:80/0/1600"}},
    };
    for (const auto& [error, paths] : bad)
        for (const std::string& path : paths)
            EXPECT_EQ(parsePageImageURL("tallowmark-page://" + path), Parsed{std::string(error)}) << path;
    for (const char* foreign : {"tallowmark-pages://images/0/1600", "file:///images/0/1600", ""})
        EXPECT_EQ(parsePageImageURL(foreign), Parsed{std::string("vieras osoite")}) << foreign;
    EXPECT_EQ(parsePageImagePath("/3/800?v=1"), (Parsed{PageImageAddress{3, 800}}));
    EXPECT_EQ(parsePageImagePath("3/800"), (Parsed{std::string("virheellinen osoite")}));
}

class PageImageServing : public ::testing::Test {
protected:
    PageImageAnswer serve(const std::string& url) {
        std::optional<PageImageAnswer> answer;
        servePageImage(store, parsePageImageURL(url), [&](PageImageAnswer a) { answer = std::move(a); });
        EXPECT_TRUE(testing::pumpMainUntil([&] { return answer.has_value(); }));
        return answer.value_or(PageImageAnswer{});
    }

    testing::TempDir dir;
    std::shared_ptr<DocumentStore> store = std::make_shared<DocumentStore>();
};

TEST_F(PageImageServing, AnswersAPageOfTheOpenScriptAndAnErrorForAnythingElse) {
    EXPECT_EQ(serve("tallowmark-page://images/0/200").error, "ei avointa kasikirjoitusta");

    const auto pdf = dir / "s.pdf";
    testing::writePdf(pdf, {{300, 400, {{30, 40, "Alpha beta", 12}}}, {300, 400, {}}});
    ASSERT_TRUE(store->open(pdf));
    const PageImageAnswer page = serve("tallowmark-page://images/1/200?v=a.1");
    ASSERT_TRUE(page.image) << page.error;
    // A gray page as an 8-bit BMP, its width at byte 18, ending its run-length rows.
    EXPECT_EQ(page.image->mimeType, "image/bmp");
    const auto& bytes = page.image->bytes;
    ASSERT_GT(bytes.size(), 1078u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[18] | bytes[19] << 8, 200);
    EXPECT_EQ(bytes[bytes.size() - 2], 0);
    EXPECT_EQ(bytes.back(), 1);

    EXPECT_EQ(serve("tallowmark-page://images/2/200").error, "sivua ei ole");
    EXPECT_EQ(serve("tallowmark-page://other/0/200").error, "vieras osoite");
    store->close();
    EXPECT_EQ(serve("tallowmark-page://images/0/200").error, "ei avointa kasikirjoitusta");
    store.reset();  // the store gone with a request still to come
    EXPECT_EQ(serve("tallowmark-page://images/0/200").error, "ei avointa kasikirjoitusta");
}

}  // namespace
}  // namespace tallowmark
