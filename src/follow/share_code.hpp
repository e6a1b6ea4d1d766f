#pragma once

// The follower address as a QR code, so a phone in the booth opens it by
// pointing its camera at the sharing sheet.

#include <optional>
#include <string>
#include <string_view>

namespace tallowmark {

// An SVG of the QR code of `text` (error correction M, a quiet zone of four
// modules, the dark modules as one black path on white, as cameras read it);
// none when the text is empty, too long for a code, or cannot be encoded.
std::optional<std::string> qrCodeSvg(std::string_view text);

}  // namespace tallowmark
