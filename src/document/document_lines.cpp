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

const std::vector<TextLine>& DocumentStore::loadLinesLocked(const Held&, int index) {
    auto found = lineCache_.find(index);
    if (found == lineCache_.end())
        found = lineCache_.emplace(index, document_ ? document_->textLines(index) : std::vector<TextLine>{}).first;
    return found->second;
}

std::optional<PageRect> DocumentStore::visibleBoxLocked(const Held& held, int index) const {
    if (!document_) return std::nullopt;
    const std::optional<PageBoxes> boxes = document_->pageBoxes(index);
    if (!boxes) return std::nullopt;
    const std::optional<BoxFraction> crop = cropFractionLocked(held, index);
    const PageRect visible = crop ? crop->of(boxes->display) : boxes->display;
    if (!visible.hasArea()) return std::nullopt;
    return visible;
}

std::vector<ViewFraction> DocumentStore::pageLines(int index) {
    std::vector<ViewFraction> rects;
    for (const LineText& line : pageLineTexts(index)) rects.push_back(line.rect);
    return rects;
}

std::vector<DocumentStore::LineText> DocumentStore::pageLineTexts(int index) {
    const Held held(lock_);
    const std::optional<PageRect> visible = visibleBoxLocked(held, index);
    if (!visible) return {};
    std::vector<LineText> result;
    for (const TextLine& line : loadLinesLocked(held, index)) result.push_back({line.rect.viewOf(*visible), line.text});
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.rect.y < b.rect.y; });
    return result;
}

std::vector<DocumentStore::PageWord> DocumentStore::pageWords(int index) {
    const Held held(lock_);
    const std::optional<PageRect> visible = document_ ? visibleBoxLocked(held, index) : std::nullopt;
    if (!visible) return {};
    std::vector<PageWord> result;
    for (WordBox& word : document_->wordBoxes(index))
        result.push_back({word.rect.viewOf(*visible), std::move(word.text), static_cast<int>(word.line)});
    return result;
}

std::optional<std::vector<std::vector<DocumentStore::NumberedLine>>> DocumentStore::allPageLines() {
    const Held held(lock_);
    if (!document_) return std::nullopt;
    const int pageCount = document_->pageCount();
    if (pageCount < 1 || static_cast<int>(cropFractions_.size()) != pageCount) return std::nullopt;
    for (int i = 0; i < pageCount; ++i) {
        const std::optional<PageBoxes> boxes = document_->pageBoxes(i);
        if (boxes && boxes->rotation != 0) return std::nullopt;
    }
    std::vector<std::vector<NumberedLine>> pages(pageCount);
    for (int i = 0; i < pageCount; ++i) {
        const std::optional<PageRect> visible = visibleBoxLocked(held, i);
        if (!visible) continue;
        const std::vector<TextLine>& lines = loadLinesLocked(held, i);
        const std::vector<bool> outer = onOuterBaselines(lines);
        std::vector<NumberedLine>& sorted = pages[i];
        for (std::size_t k = 0; k < lines.size(); ++k)
            sorted.push_back({lines[k].rect.viewOf(*visible), outer[k] && looksLikePageNumber(lines[k].text)});
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.rect.y < b.rect.y; });
    }
    return pages;
}

bool DocumentStore::dropsPageNumbers() const {
    const Held held(lock_);
    return dropPageNumbers_;
}

std::optional<DocumentStore::Info> DocumentStore::setDropPageNumbers(bool drop) {
    const Held held(lock_);
    if (drop == dropPageNumbers_) return currentInfoLocked(held);
    dropPageNumbers_ = drop;
    if (!document_) return std::nullopt;
    cropFractions_ = computeCropFractionsLocked(held, manualCrop_);
    automaticCrop_ = cropFractions_.empty() ? std::nullopt : std::optional(cropFractions_.front());
    clearImageCacheLocked(held);
    return currentInfoLocked(held);
}

}  // namespace tallowmark
