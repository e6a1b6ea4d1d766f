// The run file is read at every open; any bytes must give a run or nothing,
// and a decoded run must survive a write and read back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cues/run_state.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto state = tallowmark::decodeRunState(text);
    if (!state) return 0;
    auto encoded = tallowmark::encodeRunState(*state);
    if (!encoded) std::abort();
    auto again = tallowmark::decodeRunState(*encoded);
    if (!again || !(*again == *state)) std::abort();
    return 0;
}
