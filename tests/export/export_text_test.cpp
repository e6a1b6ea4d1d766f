#include "export/export_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tallowmark::export_drawing {
namespace {

// The cut the page makes too (web/src/state/shown_text.ts): code points, not
// bytes; a line feed ends a line and counts as a character.
TEST(ExportText, VisiblePrefixCutsByCodePointsAndLines) {
    const std::string mask = "\xF0\x9F\x8E\xAD";  // U+1F3AD, four bytes, one code point
    struct Case {
        std::string text;
        std::size_t chars, lines;
        std::string kept;
        bool cut;
    } cases[] = {
        {"abcdef", 3, SIZE_MAX, "abc", true},
        {"abc", 3, SIZE_MAX, "abc", false},
        {"", 0, SIZE_MAX, "", false},
        {"\xC3\xA9t\xC3\xA9", 2, SIZE_MAX, "\xC3\xA9t", true},  // "été": bytes are not characters
        {mask + mask + mask, 2, SIZE_MAX, mask + mask, true},
        {"one\ntwo\nthree", 100, 2, "one\ntwo", true},
        {"one\ntwo\n", 100, 3, "one\ntwo\n", false},
        {"one\ntwo", 5, 9, "one\nt", true},  // the line feed is a character
        {"a\nb", 100, 0, "a", true},         // a line at least
    };
    for (const Case& c : cases) {
        const Clipped got = visiblePrefix(c.text, c.chars, c.lines);
        EXPECT_EQ(got.text, c.kept) << c.text;
        EXPECT_EQ(got.cut, c.cut) << c.text;
    }
    EXPECT_EQ(shortText("storm at sea", 6), "storm\xE2\x80\xA6");  // the blank before the cut goes
    EXPECT_EQ(shortText("storm", 6), "storm");
    EXPECT_EQ(splitLines(std::string(1'000'000, '\n'), 12).size(), 12u);  // the rest is not read
}

}  // namespace
}  // namespace tallowmark::export_drawing
