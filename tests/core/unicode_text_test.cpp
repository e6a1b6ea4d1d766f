#include "core/unicode_text.hpp"

#include <gtest/gtest.h>

namespace tallowmark {
namespace {

TEST(UnicodeText, TrimKeepsLineBreaksOrNotAsAsked) {
    EXPECT_EQ(trimText("\t q7a \t", isSpaceOrTab), "q7a");
    EXPECT_EQ(trimText("\n12\n", isSpaceOrTab), "\n12\n");
    EXPECT_EQ(trimText("\u3000\u00a0x y\u2003", isSpaceOrTab), "x y");
    EXPECT_EQ(trimText(" \r\n\v\u0085\u2028ab\n", isSpaceOrLineBreak), "ab");
    EXPECT_EQ(trimText(" \n ", isSpaceOrLineBreak), "");
    EXPECT_EQ(trimText("", isSpaceOrLineBreak), "");
}

TEST(UnicodeText, InvalidBytesStopTheTrimAndAreKept) {
    EXPECT_EQ(trimText(" \xff ", isSpaceOrTab), "\xff");
    EXPECT_EQ(trimText("a\xc3", isSpaceOrTab), "a\xc3");  // cut multi-byte sequence at the end
    EXPECT_EQ(trimText("\xc3 ", isSpaceOrTab), "\xc3");
}

TEST(UnicodeText, CodePointCount) {
    EXPECT_EQ(codePointCount("abc"), 3u);
    EXPECT_EQ(codePointCount("äö🎭"), 3u);
    EXPECT_EQ(codePointCount(std::string("a\0b", 3)), 3u);
    EXPECT_FALSE(codePointCount("a\xff"));
    EXPECT_EQ(codePointCount(""), 0u);
}

}  // namespace
}  // namespace tallowmark
