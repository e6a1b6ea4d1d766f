// Feeds arbitrary datagrams to the OSC decoder, reads the first argument of
// every message both ways, and checks that each message survives an encode and
// a decode, alone and inside a bundle.

#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "control/osc_codec.hpp"

namespace {

using namespace tallowmark;

// Like ==, but floats by their bits: a NaN must come back as the same NaN.
bool sameArgument(const OSCArgument& a, const OSCArgument& b) {
    if (a.index() != b.index()) return false;
    if (const auto* f = std::get_if<float>(&a)) {
        return std::bit_cast<std::uint32_t>(*f) == std::bit_cast<std::uint32_t>(std::get<float>(b));
    }
    return a == b;
}

bool sameMessage(const OSCMessage& a, const OSCMessage& b) {
    if (a.address != b.address || a.arguments.size() != b.arguments.size()) return false;
    for (std::size_t n = 0; n < a.arguments.size(); ++n) {
        if (!sameArgument(a.arguments[n], b.arguments[n])) return false;
    }
    return true;
}

void expectOnly(const std::vector<OSCMessage>& decoded, const OSCMessage& original) {
    if (decoded.size() != 1 || !sameMessage(decoded.front(), original)) std::abort();
}

void checkConversions(const OSCMessage& message) {
    const auto text = message.firstAsString();
    const auto whole = message.firstAsInt();
    if (message.arguments.empty()) {
        if (text || whole) std::abort();
        return;
    }
    // Cue numbers sent as floats must find the same float again when typed back.
    if (const auto* f = std::get_if<float>(&message.arguments.front()); f && std::isfinite(*f)) {
        if (!text) std::abort();
        float back = 0;
        const auto read = std::from_chars(text->data(), text->data() + text->size(), back);
        if (read.ec != std::errc() || read.ptr != text->data() + text->size() || back != *f) std::abort();
        if (whole && std::llabs(*whole) > 1'000'000'000) std::abort();
    }
}

std::vector<std::uint8_t> inBundle(const std::vector<std::uint8_t>& element) {
    std::vector<std::uint8_t> packet = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const auto size = static_cast<std::uint32_t>(element.size());
    for (int shift = 24; shift >= 0; shift -= 8) packet.push_back(static_cast<std::uint8_t>(size >> shift));
    packet.insert(packet.end(), element.begin(), element.end());
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto messages = OSCCodec::decode(std::span<const std::uint8_t>(data, size));
    for (const OSCMessage& message : messages) {
        checkConversions(message);

        // "S" comes back as "s", which decodes to the same string value.
        const auto encoded = OSCCodec::encode(message);
        if (encoded.size() % 4 != 0) std::abort();
        expectOnly(OSCCodec::decode(encoded), message);
        expectOnly(OSCCodec::decode(inBundle(encoded)), message);
    }
    return 0;
}
