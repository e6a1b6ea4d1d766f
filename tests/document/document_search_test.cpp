#include <glib.h>

#include <algorithm>
#include <limits>

#include "document/layout_pdf.hpp"
#include "store_test.hpp"

// Search answers exactly what it answered when every searched page's words
// were kept for good and laid out again on first use: the table below was
// taken from that search on the same fixture. Kept words are bounded now, so
// the same answers must come whether a page's words are kept, dropped and
// made again, or taken at the open.

namespace tallowmark {
namespace {

using testing::FixturePage;

// A short scene over five pages: names in capitals, common words, a phrase
// and a hyphen across line ends, marks and ligatures, an empty page.
std::vector<FixturePage> scene() {
    return {
        {420, 595,
         {{40, 40, "MARGARET.  Where is the ferry tonight, Thomas?", 11},
          {40, 56, "THOMAS.  Gone across the harbour with the tide,", 11},
          {40, 72, "and the lanterns swing above the water. Margaret,", 11},
          {40, 88, "the last light beside the café window is out.", 11},
          {40, 104, "MARGARET.  The final office of the evening, then.", 11},
          {40, 120, "ÄITI.  Äiti sanoo: the ferry waits for no one.", 11}}},
        {420, 595, {}},
        {420, 595,
         {{40, 40, "THOMAS.  The storm-", 11},
          {40, 56, "tossed sea took the ferry and the harbour light.", 11},
          {40, 72, "MARGARET.  Then the office is closed for good.", 11}}},
        {595, 420,
         {{60, 60, "MARGARET.  Thomas, the tide.", 11}, {330, 60, "THOMAS.  The tide, Margaret.", 11}}},
        {420, 595,
         {{40, 40, "the storm and the harbour and the light", 11},
          {40, 56, "and the last of the lanterns, MARGARET.", 11}}},
    };
}

struct Expected {
    int page;
    std::array<double, 4> rect;
    double lineEnd;
    const char* snippet;
};

struct Case {
    const char* query;
    std::vector<Expected> hits;  // at the bridge's limit of 300
};

// clang-format off
const std::vector<Case> cases = {
    {"margaret",
     {{0, {0.00841738237653, 0.0359455078018, 0.203590436156, 0.122607409005}, 0.799043444968, "MARGARET. Where is the ferry tonight, Thomas?"},
      {0, {0.622532244414, 0.358146137958, 0.136829176638, 0.122607409005}, 0.768547070917, "and the lanterns swing above the water. Margaret,"},
      {0, {0.00841738237653, 0.680346768115, 0.203590436156, 0.122607409005}, 0.808596511144, "MARGARET. The final office of the evening, then."},
      {2, {0.00841738237653, 0.693142622684, 0.203590436156, 0.237289787691}, 0.772000858459, "MARGARET. Then the office is closed for good."},
      {3, {0.0162767496749, 0.146366962496, 0.14371089611, 0.707266075007}, 0.369057011746, "MARGARET. Thomas, the tide."},
      {3, {0.888513256373, 0.146366962496, 0.0965853731109, 0.707266075007}, 0.991582617623, "THOMAS. The tide, Margaret."},
      {4, {0.43224258738, 0.554124075506, 0.20359046164, 0.344791461053}, 0.645018662251, "and the last of the lanterns, MARGARET."}}},
    {"the",
     {{0, {0.38557955481, 0.0359455078018, 0.0462956019241, 0.122607409005}, 0.799043444968, "MARGARET. Where is the ferry tonight, Thomas?"},
      {0, {0.392376937335, 0.19704582288, 0.0462956019241, 0.122607409005}, 0.782031643405, "THOMAS. Gone across the harbour with the tide,"},
      {0, {0.659421726937, 0.19704582288, 0.0463323497669, 0.122607409005}, 0.782031643405, "THOMAS. Gone across the harbour with the tide,"},
      {0, {0.0751785797772, 0.358146137958, 0.0463323497669, 0.122607409005}, 0.768547070917, "and the lanterns swing above the water. Margaret,"},
      {0, {0.465715081171, 0.358146137958, 0.0462956019241, 0.122607409005}, 0.768547070917, "and the lanterns swing above the water. Margaret,"},
      {0, {0.00841738237653, 0.519246453037, 0.0462956019241, 0.122607409005}, 0.668350178536, "the last light beside the café window is out."},
      {0, {0.312021025853, 0.519246453037, 0.0463323497669, 0.122607409005}, 0.668350178536, "the last light beside the café window is out."},
      {0, {0.242063199357, 0.680346768115, 0.0596699054003, 0.122607409005}, 0.808596511144, "MARGARET. The final office of the evening, then."},
      {0, {0.532439530729, 0.680346768115, 0.0462956019241, 0.122607409005}, 0.808596511144, "MARGARET. The final office of the evening, then."},
      {0, {0.732686375088, 0.680346768115, 0.0466997692631, 0.122607409005}, 0.808596511144, "MARGARET. The final office of the evening, then."},
      {0, {0.292143297111, 0.841447083193, 0.0462956019241, 0.122607409005}, 0.695245725891, "ÄITI. Äiti sanoo: the ferry waits for no one."},
      {2, {0.195400166788, 0.0695675896256, 0.0596699054003, 0.237289787691}, 0.364489370241, "THOMAS. The storm-"},
      {2, {0.248750338354, 0.381355106155, 0.0462956274081, 0.237289787691}, 0.728607925186, "tossed sea took the ferry and the harbour light."},
      {2, {0.45906463905, 0.381355106155, 0.0462956019241, 0.237289787691}, 0.728607925186, "tossed sea took the ferry and the harbour light."},
      {2, {0.242063199357, 0.693142622684, 0.0600740727393, 0.237289787691}, 0.772000858459, "MARGARET. Then the office is closed for good."},
      {2, {0.33219268637, 0.693142622684, 0.046332298799, 0.237289787691}, 0.772000858459, "MARGARET. Then the office is closed for good."},
      {3, {0.282534811046, 0.146366962496, 0.032679248417, 0.707266075007}, 0.369057011746, "MARGARET. Thomas, the tide."},
      {3, {0.78487336665, 0.146366962496, 0.0421199152351, 0.707266075007}, 0.991582617623, "THOMAS. The tide, Margaret."},
      {4, {0.00841738237653, 0.101084463442, 0.0462956019241, 0.344791461053}, 0.612758703924, "the storm and the harbour and the light"},
      {4, {0.228725669208, 0.101084463442, 0.0462956019241, 0.344791461053}, 0.612758703924, "the storm and the harbour and the light"},
      {4, {0.485776498159, 0.101084463442, 0.0463323497669, 0.344791461053}, 0.612758703924, "the storm and the harbour and the light"},
      {4, {0.0751785797772, 0.554124075506, 0.0463323497669, 0.344791461053}, 0.645018662251, "and the last of the lanterns, MARGARET."},
      {4, {0.235376060361, 0.554124075506, 0.0462956019241, 0.344791461053}, 0.645018662251, "and the last of the lanterns, MARGARET."}}},
    {"Margaret, the last",
     {{0, {0.00841738237653, 0.358146137958, 0.76012968854, 0.283707724083}, 0.768547070917, "and the lanterns swing above the water. Margaret,\nthe last light beside the café window is out."}}},
    {"storm- tossed",
     {{2, {0.00841738237653, 0.0695675896256, 0.356071987864, 0.54907730422}, 0.728607925186, "THOMAS. The storm-\ntossed sea took the ferry and the harbour light."}}},
    {"café",
     {{0, {0.368751489276, 0.519246453037, 0.0629767270556, 0.122607409005}, 0.668350178536, "the last light beside the café window is out."}}},
    {"cafe", {}},
    {"äiti",
     {{0, {0.00841738237653, 0.841447083193, 0.0767919138586, 0.122607409005}, 0.695245725891, "ÄITI. Äiti sanoo: the ferry waits for no one."},
      {0, {0.115264691395, 0.841447083193, 0.0568774643502, 0.122607409005}, 0.695245725891, "ÄITI. Äiti sanoo: the ferry waits for no one."}}},
    {"final",
     {{0, {0.312167966256, 0.680346768115, 0.0702149944996, 0.122607409005}, 0.808596511144, "MARGARET. The final office of the evening, then."}}},
    {"office",
     {{0, {0.392229996931, 0.680346768115, 0.0863449402153, 0.122607409005}, 0.808596511144, "MARGARET. The final office of the evening, then."},
      {2, {0.388923149792, 0.693142622684, 0.0863449911831, 0.237289787691}, 0.772000858459, "MARGARET. Then the office is closed for good."}}},
    {"tide, margaret",
     {{3, {0.834359102449, 0.146366962496, 0.150739527035, 0.707266075007}, 0.991582617623, "THOMAS. The tide, Margaret."}}},
    {"nowhere", {}},
    {"a", {}},
    {"", {}},
};
// clang-format on

class DocumentSearchTest : public testing::StoreTest {
protected:
    std::vector<std::size_t> sizes;  // each page's words, in bytes

    void SetUp() override {
        testing::writePdf(dir / "scene.pdf", scene());
        ASSERT_TRUE(store.open(dir / "scene.pdf"));
        const auto layout = LayoutPdf::open(readPdfBytes(dir / "scene.pdf"));
        ASSERT_TRUE(layout);
        for (int i = 0; i < layout->pageCount(); ++i) {
            const auto words = layout->takeWords(i);
            ASSERT_TRUE(words);
            sizes.push_back(LayoutPdf::footprint(*words));
        }
        EXPECT_EQ(layout->keptWordsBytes(), 0u);  // taken words are not kept
    }

    // Every case as written and in capitals, at the limit of 300 and at
    // limits that cut it short, which must keep its first hits.
    void expectTable() {
        for (const Case& c : cases) {
            gchar* upper = g_utf8_strup(c.query, -1);
            const std::vector<std::string> spellings = {c.query, upper};
            g_free(upper);
            const int n = static_cast<int>(c.hits.size());
            for (const std::string& query : spellings)
                for (const int limit : {300, 1, n - 1}) {
                    if (limit < 1) continue;
                    SCOPED_TRACE(query + " / " + std::to_string(limit));
                    const auto hits = store.search(query, limit);
                    ASSERT_EQ(static_cast<int>(hits.size()), std::min(limit, n));
                    for (std::size_t i = 0; i < hits.size(); ++i) {
                        SCOPED_TRACE(i);
                        EXPECT_EQ(hits[i].page, c.hits[i].page);
                        testing::expectNear(hits[i].rect.list(), c.hits[i].rect, 1e-9);
                        EXPECT_NEAR(hits[i].lineEnd, c.hits[i].lineEnd, 1e-9);
                        EXPECT_EQ(hits[i].snippet, c.hits[i].snippet);
                    }
                }
        }
    }
};

TEST_F(DocumentSearchTest, AnswersAsBeforeWhereverThePagesWordsComeFrom) {
    // Words handed over by the open.
    EXPECT_GT(store.keptWordsBytes(), 0u);
    expectTable();
    const auto word = store.textSelection(0, {0.3, 0.05}, {0.3, 0.05}, true);
    ASSERT_TRUE(word);

    // Words laid out by the searches: the open keeps none on no budget.
    store.setWordsBudget(0);
    ASSERT_TRUE(store.open(dir / "scene.pdf"));
    EXPECT_EQ(store.keptWordsBytes(), 0u);
    store.setWordsBudget(std::numeric_limits<std::size_t>::max());
    expectTable();

    // Room for the largest page only: pages are dropped and laid out again as
    // they come, searches and selections mixed, and the newest stays.
    const std::size_t largest = *std::max_element(sizes.begin(), sizes.end());
    EXPECT_GT(store.keptWordsBytes(), largest);
    store.setWordsBudget(largest);
    EXPECT_LE(store.keptWordsBytes(), largest);
    EXPECT_GT(store.keptWordsBytes(), 0u);
    expectTable();
    EXPECT_LE(store.keptWordsBytes(), largest);
    const auto again = store.textSelection(0, {0.3, 0.05}, {0.3, 0.05}, true);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->text, word->text);
    testing::expectNear(again->rect.list(), word->rect.list(), 1e-9);
}

// The open hands over the first pages' words that fit the budget together,
// and only those.
TEST_F(DocumentSearchTest, TheOpenKeepsTheFirstPagesWithinTheBudget) {
    const PdfBytes bytes = readPdfBytes(dir / "scene.pdf");
    const auto layout = LayoutPdf::open(bytes);
    ASSERT_TRUE(layout);
    for (const std::size_t budget : {std::size_t{0}, sizes[0] + sizes[1], sizes[0] + sizes[1] + sizes[2] - 1}) {
        SCOPED_TRACE(budget);
        const auto collected = DocumentStore::collectPages(bytes, *layout, 1, {}, budget);
        ASSERT_EQ(collected.size(), sizes.size());
        for (std::size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(collected[i].words != nullptr, i < 2 && budget > 0) << i;
        EXPECT_EQ(layout->keptWordsBytes(), 0u);
    }
}

}  // namespace
}  // namespace tallowmark
