// Marks files come from disk and from other machines; decoding any bytes must
// end in a record or a refusal, whatever decodes must survive a write and read
// back unchanged, and the reading as parsed must agree with the reading of the
// parsed tree (json_oracle.hpp).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cues/cue_sidecar.hpp"
#include "json_oracle.hpp"

namespace {

using namespace tallowmark;

// A fresh identifier (UUID text): records without one get a new one each time
// they are read, so two readings differ there and nowhere else.
bool isFresh(const std::string& id) {
    if (id.size() != 36) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : !((id[i] >= '0' && id[i] <= '9') || (id[i] >= 'A' && id[i] <= 'F'))) return false;
    }
    return true;
}

template <class T>
void takeFreshIds(std::vector<T>& into, const std::vector<T>& from) {
    for (std::size_t i = 0; i < into.size() && i < from.size(); ++i) {
        if (isFresh(into[i].id) && isFresh(from[i].id)) into[i].id = from[i].id;
    }
}

bool sameRecords(CueSidecar a, const CueSidecar& b) {
    takeFreshIds(a.cues, b.cues);
    takeFreshIds(a.marks, b.marks);
    takeFreshIds(a.flags, b.flags);
    takeFreshIds(a.memos, b.memos);
    takeFreshIds(a.inserts, b.inserts);
    return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FileNotes notes;
    auto sidecar = decodeSidecar(text, notes);
    if (sidecar && !notes.overBound.empty()) std::abort();
    if (notes.overBound.empty() && !fuzz::hasRepeatedKeys(text)) {
        const auto tree = decodeRecord<CueSidecar>(text);
        if (tree && (!sidecar || !sameRecords(*tree, *sidecar))) std::abort();
        if (!tree && sidecar && !notes.repaired) std::abort();
    }
    if (!sidecar) return 0;
    auto encoded = encodeSidecar(*sidecar);
    if (!encoded) std::abort();  // decoding refuses non-finite reals, so encoding cannot fail
    auto again = decodeSidecar(*encoded);
    if (!again || !(*again == *sidecar)) std::abort();
    return 0;
}
