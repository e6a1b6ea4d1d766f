// Layout files come from the page and from disk; any bytes must end in a
// layout or a refusal, and a layout that reads must keep the reader's promises.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "export/export_layout.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto layout = tallowmark::decodeLayout(text);
    if (!layout) return 0;
    if (!std::isfinite(layout->labelFontPx) || !std::isfinite(layout->insertLineK)) std::abort();
    for (const auto& [index, page] : layout->pages) {
        if (!std::isfinite(page.extra) || !std::isfinite(page.pageWpx)) std::abort();
        if (!std::is_sorted(page.gaps.begin(), page.gaps.end(),
                            [](const auto& a, const auto& b) { return a.afterY < b.afterY; }))
            std::abort();
        for (const auto& insert : page.inserts)
            if (insert.rows < 1 || !std::isfinite(insert.lineH)) std::abort();
    }
    return 0;
}
