// The run file is read at every open; any bytes must give a run or nothing,
// a decoded run must survive a write and read back unchanged, and the reading
// as parsed must agree with the reading of the parsed tree (json_oracle.hpp).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cues/run_state.hpp"
#include "json_oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tallowmark;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FileNotes notes;
    auto state = decodeRunState(text, notes);
    if (state && !notes.overBound.empty()) std::abort();
    if (notes.overBound.empty() && !fuzz::hasRepeatedKeys(text)) {
        const auto tree = decodeRecord<RunState>(text);
        if (tree && (!state || !(*tree == *state))) std::abort();
        if (!tree && state && !notes.repaired) std::abort();
    }
    if (!state) return 0;
    auto encoded = encodeRunState(*state);
    if (!encoded) std::abort();
    auto again = decodeRunState(*encoded, notes);
    if (!again || !(*again == *state)) std::abort();
    return 0;
}
