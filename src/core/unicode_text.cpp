#include "core/unicode_text.hpp"

#include <glib.h>
#include <pango/pango.h>

#include <vector>

namespace tallowmark {

namespace {

bool invalid(gunichar c) { return c == gunichar(-1) || c == gunichar(-2); }

}  // namespace

bool isSpaceOrTab(char32_t c) { return c == '\t' || g_unichar_type(c) == G_UNICODE_SPACE_SEPARATOR; }

bool isSpaceOrLineBreak(char32_t c) {
    // g_unichar_isspace leaves out vertical tab and NEXT LINE, which text fields break on.
    return g_unichar_isspace(c) || c == 0x0B || c == 0x85;
}

std::string trimText(std::string_view text, bool (*trimmed)(char32_t)) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    while (begin < end) {
        const gunichar c = g_utf8_get_char_validated(begin, end - begin);
        if (invalid(c) || !trimmed(c)) break;
        begin = g_utf8_next_char(begin);
    }
    while (end > begin) {
        const char* previous = g_utf8_find_prev_char(begin, end);
        if (!previous) previous = begin;
        const gunichar c = g_utf8_get_char_validated(previous, end - previous);
        if (invalid(c) || g_utf8_next_char(previous) != end || !trimmed(c)) break;
        end = previous;
    }
    return std::string(begin, end);
}

std::optional<std::size_t> codePointCount(std::string_view text) {
    std::size_t count = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        if (*p == '\0') {
            ++p;  // g_utf8_get_char_validated treats NUL as the end of the text
        } else {
            if (invalid(g_utf8_get_char_validated(p, end - p))) return std::nullopt;
            p = g_utf8_next_char(p);
        }
        ++count;
    }
    return count;
}

std::optional<std::size_t> graphemeCount(std::string_view text) {
    // With an explicit length GLib refuses NUL too, which Pango could not break.
    if (!g_utf8_validate_len(text.data(), text.size(), nullptr)) return std::nullopt;
    const glong chars = g_utf8_strlen(text.data(), static_cast<gssize>(text.size()));
    std::vector<PangoLogAttr> attrs(static_cast<std::size_t>(chars) + 1);
    pango_get_log_attrs(text.data(), static_cast<int>(text.size()), -1, pango_language_from_string("und"),
                        attrs.data(), static_cast<int>(attrs.size()));
    // Each cluster ends where the cursor may stop; the stop before the first character does not count.
    std::size_t count = 0;
    for (glong i = 1; i <= chars; ++i)
        if (attrs[i].is_cursor_position) ++count;
    return count;
}

std::string cutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

}  // namespace tallowmark
