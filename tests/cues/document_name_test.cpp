#include <glib.h>
#include <gtest/gtest.h>

#include "cues/cue_sidecar.hpp"

namespace tallowmark {
namespace {

// The marks file names its script; a Latin-1 file name from an older disk must
// come back as the same bytes, and a UTF-8 one must be written as before.
TEST(MarksFileDocumentName, KeepsTheExactBytesOfTheScriptName) {
    struct Case {
        std::string name;
        std::string writtenAs;  // the line in the file; empty: not checked
    };
    const Case cases[] = {
        {"K\xe4sikirjoitus.pdf", R"("documentName": "\u0000K%E4sikirjoitus.pdf")"},
        {"K\xc3\xa4sikirjoitus 100%.pdf", "\"documentName\": \"K\xc3\xa4sikirjoitus 100%.pdf\""},
        {"\xff\xfe.pdf", ""},
    };
    for (const Case& c : cases) {
        CueSidecar sidecar;
        sidecar.documentName = c.name;
        Cue cue;
        cue.number = "1";
        sidecar.cues.push_back(cue);
        const std::optional<std::string> text = encodeSidecar(sidecar);
        ASSERT_TRUE(text) << c.name;
        EXPECT_TRUE(g_utf8_validate(text->data(), static_cast<gssize>(text->size()), nullptr)) << *text;
        if (!c.writtenAs.empty()) {
            EXPECT_NE(text->find(c.writtenAs), std::string::npos) << *text;
        }
        const std::optional<CueSidecar> back = decodeSidecar(*text);
        ASSERT_TRUE(back) << *text;
        EXPECT_EQ(*back, sidecar) << *text;
    }
    // A hand-edited escape that does not decode fails the record like any wrong value.
    EXPECT_FALSE(decodeSidecar(R"({"documentName": "\u0000K%E"})"));
}

}  // namespace
}  // namespace tallowmark
