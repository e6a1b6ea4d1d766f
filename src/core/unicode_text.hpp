#pragma once

// Small Unicode text helpers over GLib's character tables.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tallowmark {

// Spaces (Unicode space separators) and tabs; not line breaks.
bool isSpaceOrTab(char32_t c);
// White space and line breaks as a text field understands them.
bool isSpaceOrLineBreak(char32_t c);

// Removes the characters for which `trimmed` holds from both ends. Trimming
// stops at bytes that are not valid UTF-8, which are kept.
std::string trimText(std::string_view text, bool (*trimmed)(char32_t));

// At most `maxBytes` of `text`, cut back to the start of a UTF-8 character
// so that what is kept stays valid text.
std::string cutUtf8(std::string_view text, std::size_t maxBytes);

// Number of code points; none when the text is not valid UTF-8. An embedded
// NUL counts as a character.
std::optional<std::size_t> codePointCount(std::string_view text);

// Number of user-perceived characters (grapheme clusters, as Pango breaks
// them): "e" with a combining accent or a flag of two regional indicators
// counts once. None when the text is not valid UTF-8 or holds a NUL.
std::optional<std::size_t> graphemeCount(std::string_view text);

}  // namespace tallowmark
