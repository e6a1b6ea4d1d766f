// Any SysEx from any device reaches the MSC decoder. Decoding must end in a
// message or a refusal; a decoded message must log and must survive a write
// and read back as far as its fields are positional. When the bytes do not
// decode, they are made into a message of their own to exercise the writer.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "control/msc.hpp"
#include "core/unicode_text.hpp"

namespace {

using tallowmark::MSC::Message;

// What encode writes and decode reads back: a list only after a cue, a path
// only after a list.
Message positional(Message m) {
    if (!m.cue) m.list.reset();
    if (!m.list) m.path.reset();
    return m;
}

// A field comes back as written only if it is valid UTF-8 without a 00 (the
// separator) and already trimmed and non-empty.
bool survives(const std::optional<std::string>& field) {
    if (!field) return true;
    const std::string& text = *field;
    if (text.empty() || text.find('\0') != std::string::npos) return false;
    if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr)) return false;
    return tallowmark::trimText(text, tallowmark::isSpaceOrTab) == text;
}

void checkRoundTrip(const Message& message) {
    const auto encoded = tallowmark::MSC::encode(message);
    if (encoded.size() < 7 || encoded.front() != 0xF0 || encoded.back() != 0xF7) std::abort();
    const auto again = tallowmark::MSC::decode(encoded);
    if (!again || !(*again == positional(message))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto decoded = tallowmark::MSC::decode(bytes)) {
        if (decoded->summary().rfind("MSC ", 0) != 0) std::abort();
        for (const auto* field : {&decoded->cue, &decoded->list, &decoded->path})
            if (!survives(*field)) std::abort();  // decoding always gives clean fields
        checkRoundTrip(*decoded);
        return 0;
    }

    // 0 device, 1 format, 2 command, 3 field mask, 4.. fields split at 0xFF.
    if (size < 4) return 0;
    const auto command = tallowmark::MSC::commandFromByte(std::uint8_t(1 + bytes[2] % 11));
    Message message{bytes[0], bytes[1], *command, {}, {}, {}};
    std::optional<std::string>* fields[] = {&message.cue, &message.list, &message.path};
    std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
    for (int f = 0; f < 3; ++f) {
        const auto cut = rest.find('\xFF');
        if (bytes[3] & (1u << f)) *fields[f] = std::string(rest.substr(0, cut));
        rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
    }
    (void)message.summary();
    for (const auto* field : fields)
        if (!survives(*field)) return 0;
    checkRoundTrip(message);
    return 0;
}
