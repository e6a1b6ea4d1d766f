#pragma once

// Repair of damaged text in the JSON files the system reads. One stray byte
// (a file saved by another editor in Latin-1, a disk error) or one escaped
// half of a surrogate pair would otherwise make the JSON parser refuse the
// whole file, and with it every cue of a show. Each damaged piece becomes
// U+FFFD instead and the rest of the file reads as written.

#include <optional>
#include <string>
#include <string_view>

namespace tallowmark {

// Replaces every byte that is not part of valid UTF-8 with U+FFFD, as GLib's
// g_utf8_make_valid does, but leaves NUL bytes as they are. True when
// anything was replaced.
bool repairUtf8(std::string& text);

// Replaces, in JSON text, each \u escape of a lone surrogate with \uFFFD: a
// high surrogate (D800-DBFF) not followed at once by an escaped low one
// (DC00-DFFF), and a low surrogate without a high one before it. The text
// keeps its length. True when anything was replaced.
bool repairSurrogateEscapes(std::string& json);

// Both repairs; none when the text needed neither (the common case costs a
// scan and no copy).
std::optional<std::string> repairedJsonText(std::string_view text);

}  // namespace tallowmark
