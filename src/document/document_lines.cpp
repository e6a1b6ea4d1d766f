// DocumentStore: the text lines of each page and the page-number test.
#include <glib.h>

#include <algorithm>

#include "core/unicode_text.hpp"
#include "document/document_store.hpp"

namespace tallowmark {

namespace {

bool isLetterOrMark(gunichar c) {
    switch (g_unichar_type(c)) {
        case G_UNICODE_LOWERCASE_LETTER:
        case G_UNICODE_MODIFIER_LETTER:
        case G_UNICODE_OTHER_LETTER:
        case G_UNICODE_TITLECASE_LETTER:
        case G_UNICODE_UPPERCASE_LETTER:
        case G_UNICODE_SPACING_MARK:
        case G_UNICODE_ENCLOSING_MARK:
        case G_UNICODE_NON_SPACING_MARK: return true;
        default: return false;
    }
}

}  // namespace

bool DocumentStore::looksLikePageNumber(std::string_view text) {
    // Anything past this many bytes has more than 12 characters, whatever they are.
    constexpr std::size_t longestPossible = 12 * 64;
    if (text.empty() || text.size() > longestPossible ||
        !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return false;
    bool digit = false;
    for (const char* p = text.data(); p < text.data() + text.size(); p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (isLetterOrMark(c)) return false;
        digit = digit || g_unichar_type(c) == G_UNICODE_DECIMAL_NUMBER;
    }
    return digit && graphemeCount(text).value_or(SIZE_MAX) <= 12;
}

const std::vector<TextLine>& DocumentStore::loadLinesLocked(int index) {
    auto found = lineCache_.find(index);
    if (found == lineCache_.end())
        found = lineCache_.emplace(index, document_ ? document_->textLines(index) : std::vector<TextLine>{}).first;
    return found->second;
}

std::optional<PageRect> DocumentStore::visibleBoxLocked(int index) const {
    if (!document_) return std::nullopt;
    const std::optional<PageBoxes> boxes = document_->pageBoxes(index);
    if (!boxes) return std::nullopt;
    const PageRect visible = visibleBox(boxes->display, cropFraction(index));
    if (!visible.hasArea()) return std::nullopt;
    return visible;
}

std::vector<DocumentStore::LineFraction> DocumentStore::pageLines(int index) {
    std::scoped_lock guard(lock_);
    const std::optional<PageRect> visible = visibleBoxLocked(index);
    if (!visible) return {};
    std::vector<LineFraction> result;
    for (const TextLine& line : loadLinesLocked(index)) result.push_back(toViewFraction(line.rect, *visible).list());
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a[1] < b[1]; });
    return result;
}

std::optional<std::vector<std::vector<DocumentStore::NumberedLine>>> DocumentStore::allPageLines() {
    std::scoped_lock guard(lock_);
    if (!document_) return std::nullopt;
    const int pageCount = document_->pageCount();
    if (pageCount < 1 || static_cast<int>(cropFractions_.size()) != pageCount) return std::nullopt;
    for (int i = 0; i < pageCount; ++i) {
        const std::optional<PageBoxes> boxes = document_->pageBoxes(i);
        if (boxes && boxes->rotation != 0) return std::nullopt;
    }
    std::vector<std::vector<NumberedLine>> pages(pageCount);
    for (int i = 0; i < pageCount; ++i) {
        const std::optional<PageRect> visible = visibleBoxLocked(i);
        if (!visible) continue;
        const std::vector<TextLine>& lines = loadLinesLocked(i);
        const std::vector<bool> outer = onOuterBaselines(lines);
        std::vector<std::pair<ViewFraction, double>> sorted;
        for (std::size_t k = 0; k < lines.size(); ++k)
            sorted.emplace_back(toViewFraction(lines[k].rect, *visible),
                                outer[k] && looksLikePageNumber(lines[k].text) ? 1.0 : 0.0);
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first.y < b.first.y; });
        for (const auto& [f, number] : sorted) pages[i].push_back({f.x, f.y, f.width, f.height, number});
    }
    return pages;
}

std::optional<DocumentStore::Info> DocumentStore::setDropPageNumbers(bool drop) {
    std::scoped_lock guard(lock_);
    if (drop == dropPageNumbers_) return currentInfoLocked();
    dropPageNumbers_ = drop;
    if (!document_) return std::nullopt;
    cropFractions_ = computeCropFractionsLocked(manualCrop_);
    automaticCrop_ = cropFractions_.empty() ? std::nullopt : std::optional(cropFractions_.front());
    clearImageCacheLocked();
    return currentInfoLocked();
}

}  // namespace tallowmark
