// Marks files come from disk and from other machines; decoding any bytes must
// end in a record or a refusal, and whatever decodes must survive a write and
// read back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cues/cue_sidecar.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto sidecar = tallowmark::decodeSidecar(text);
    if (!sidecar) return 0;
    auto encoded = tallowmark::encodeSidecar(*sidecar);
    if (!encoded) std::abort();  // decoding refuses non-finite reals, so encoding cannot fail
    auto again = tallowmark::decodeSidecar(*encoded);
    if (!again || !(*again == *sidecar)) std::abort();
    return 0;
}
