// DocumentStore: turning a click or drag into whole words and whole lines, the
// free space beside a selection, and search.
#include <glib.h>

#include <algorithm>
#include <cmath>

#include "core/unicode_text.hpp"
#include "document/document_store.hpp"

namespace tallowmark {

namespace {

// Pointer travel below this, in points on both axes, is a click, not a drag.
constexpr double clickTravel = 8;
// Words are looked for this far beside a selection, nearest first; a gap wider
// than the last probe is as good as open space to the page.
constexpr double gapProbes[] = {1, 2.5, 4, 6, 9, 13, 18, 25};
constexpr double openSpace = 1000;
constexpr std::size_t snippetLength = 120;

double middleY(const PageRect& r) { return r.y + r.height / 2; }
PagePoint centreOf(const PageRect& r) { return {r.x + r.width / 2, middleY(r)}; }

double lineSpacing(const std::vector<TextLine>& lines) {
    if (lines.empty()) return 12;
    if (lines.size() == 1) return 1.2 * lines.front().rect.height;
    std::vector<double> middles, heights;
    for (const TextLine& line : lines) {
        middles.push_back(middleY(line.rect));
        heights.push_back(line.rect.height);
    }
    std::sort(middles.begin(), middles.end(), std::greater<>());
    std::sort(heights.begin(), heights.end());
    // Lines side by side on one baseline (a name and its speech, the halves
    // of a spread) are no step down the page.
    const double sideBySide = 0.3 * heights[heights.size() / 2];
    std::vector<double> steps;
    for (std::size_t i = 1; i < middles.size(); ++i)
        if (middles[i - 1] - middles[i] >= sideBySide) steps.push_back(middles[i - 1] - middles[i]);
    if (steps.empty()) return 1.2 * heights[heights.size() / 2];
    std::sort(steps.begin(), steps.end());
    return steps[steps.size() / 2];
}

// The line nearest the point: the distance across to its middle, plus how far
// the point lies beside it, so the line in the point's own column wins over
// one at the same height in the next. Ties go to the earlier line.
const TextLine* nearestLine(const std::vector<TextLine>& lines, PagePoint p) {
    const TextLine* nearest = nullptr;
    double nearestDistance = INFINITY;
    for (const TextLine& line : lines) {
        const double beside = std::max({line.rect.minX() - p.x, 0.0, p.x - line.rect.maxX()});
        if (const double d = std::abs(middleY(line.rect) - p.y) + beside; d < nearestDistance) {
            nearest = &line;
            nearestDistance = d;
        }
    }
    return nearest;
}

std::string trimmed(std::string_view text) { return trimText(text, isSpaceOrLineBreak); }

// The first `count` characters, never splitting one.
std::string firstCharacters(const std::string& text, std::size_t count) {
    const char* p = text.c_str();
    for (std::size_t i = 0; i < count && *p; ++i) p = g_utf8_next_char(p);
    return std::string(text.c_str(), p);
}

}  // namespace

PageRect DocumentStore::snappedToLinesLocked(const Held& held, const PageRect& rect, int index) {
    const std::vector<TextLine>& lines = loadLinesLocked(held, index);
    if (lines.empty()) return rect;
    std::vector<const TextLine*> hits;
    for (const TextLine& line : lines) {
        const double overlap = std::min(line.rect.maxY(), rect.maxY()) - std::max(line.rect.minY(), rect.minY());
        // Grazing a neighbour (half its height or less) does not take it in,
        // nor does a line of another column.
        const bool beside = line.rect.maxX() <= rect.minX() || line.rect.minX() >= rect.maxX();
        if (overlap > std::min(line.rect.height, rect.height) / 2 && !beside) hits.push_back(&line);
    }
    if (hits.empty()) hits.push_back(nearestLine(lines, centreOf(rect)));

    std::vector<double> heights;
    for (const TextLine& line : lines) heights.push_back(line.rect.height);
    std::sort(heights.begin(), heights.end());
    // Every line gets the same band around its middle, so boxes on lines of
    // mixed ink (capitals, descenders) come out equally tall.
    const double halfBand = 0.625 * heights[heights.size() / 2];
    double top = -INFINITY, bottom = INFINITY;
    for (const TextLine* line : hits) {
        top = std::max(top, middleY(line->rect) + halfBand);
        bottom = std::min(bottom, middleY(line->rect) - halfBand);
    }
    return {rect.x, bottom, rect.width, top - bottom};
}

std::pair<double, double> DocumentStore::neighbourGapsLocked(const Held&, const PageRect& selection, int index) const {
    const double y = middleY(selection);
    auto gapTowards = [&](bool right) {
        for (double d : gapProbes) {
            const PagePoint probe{right ? selection.maxX() + d : selection.minX() - d, y};
            const std::optional<TextSelection> word = document_->wordAt(index, probe);
            if (!word || trimmed(word->text).empty() || !(word->bounds.width > 0)) continue;
            if (!(std::abs(middleY(word->bounds) - y) < word->bounds.height)) continue;
            // Half a point of slack: neighbouring glyph boxes may touch.
            const bool beyond = right ? word->bounds.minX() >= selection.maxX() - 0.5
                                      : word->bounds.maxX() <= selection.minX() + 0.5;
            if (!beyond) continue;
            return std::max(right ? word->bounds.minX() - selection.maxX() : selection.minX() - word->bounds.maxX(),
                            0.0);
        }
        return openSpace;
    };
    return {gapTowards(false), gapTowards(true)};
}

double DocumentStore::lineEndLocked(const Held&, int index, PagePoint from, PagePoint to, const PageRect& fallback,
                                    const PageRect& visible) const {
    const std::optional<TextSelection> lines = document_->select(index, from, to, true);
    const PageRect& bounds = lines ? lines->bounds : fallback;
    return (bounds.maxX() - visible.minX()) / visible.width;
}

std::optional<DocumentStore::Selection> DocumentStore::textSelection(int page, ViewPoint from, ViewPoint to,
                                                                     bool snapWords) {
    const Held held(lock_);
    return textSelectionLocked(held, page, from, to, snapWords);
}

std::optional<DocumentStore::Selection> DocumentStore::textSelectionLocked(const Held& held, int page, ViewPoint from,
                                                                           ViewPoint to, bool snapWords) {
    const std::optional<PageRect> visible = visibleBoxLocked(held, page);
    if (!visible) return std::nullopt;
    PagePoint p1 = from.in(*visible), p2 = to.in(*visible);

    PagePoint start = p1, end = p1;
    std::optional<TextSelection> selection;
    if (std::abs(p1.x - p2.x) < clickTravel && std::abs(p1.y - p2.y) < clickTravel) {
        selection = document_->wordAt(page, p1);
    } else {
        const std::vector<TextLine>& lines = loadLinesLocked(held, page);
        const double spacing = lineSpacing(lines);
        // A drag that wanders less than most of a line spacing is meant along one line.
        if (const TextLine* line = nearestLine(lines, p1); line && std::abs(p1.y - p2.y) < 0.75 * spacing)
            p1.y = p2.y = middleY(line->rect);
        const bool differentLines = std::abs(p1.y - p2.y) >= 0.5 * spacing;
        const bool p1First = differentLines ? p1.y > p2.y : p1.x <= p2.x;
        start = p1First ? p1 : p2;
        end = p1First ? p2 : p1;
        // Whole words: the selection widens to the words at both ends, taken
        // in the page's reading order.
        selection = snapWords ? document_->selectWords(page, start, end) : document_->select(page, start, end, false);
    }
    if (!selection || selection->text.empty() || !selection->bounds.hasArea()) return std::nullopt;

    Selection result;
    result.rect = snappedToLinesLocked(held, selection->bounds, page).viewOf(*visible);
    result.text = trimmed(selection->text);
    result.lineEnd = lineEndLocked(held, page, start, end, selection->bounds, *visible);
    const auto [left, right] = neighbourGapsLocked(held, selection->bounds, page);
    result.gapL = left / visible->width;
    result.gapR = right / visible->width;
    for (const PageRect& line : selection->lines)
        if (line.hasArea()) result.lines.push_back(snappedToLinesLocked(held, line, page).viewOf(*visible));
    if (result.lines.empty()) result.lines.push_back(result.rect);
    return result;
}

std::vector<DocumentStore::SearchHit> DocumentStore::search(const std::string& query, int limit) {
    if (limit < 1 || !g_utf8_validate(query.data(), static_cast<gssize>(query.size()), nullptr) ||
        g_utf8_strlen(query.c_str(), -1) < 2)
        return {};
    const std::string key = searchKey(query).value_or(query);  // the query is UTF-8, checked above
    // Page by page, each under the lock: while the collection behind an open
    // runs, the pages it has not reached are laid out here, and renders and
    // the collection's own hand-ins must not wait for the whole script.
    // Should the crop change meanwhile (it becomes known once), the hits
    // found so far are in the old frame: the search starts again.
    constexpr int attempts = 3;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        std::int64_t document = 0, frame = 0;
        int pageCount = 0;
        {
            const Held held(lock_);
            if (!document_) return {};
            document = documentGeneration_;
            frame = cacheGeneration_;
            pageCount = document_->pageCount();
        }
        std::vector<SearchHit> hits;
        bool reframed = false;
        for (int index = 0; index < pageCount && static_cast<int>(hits.size()) < limit; ++index) {
            const Held held(lock_);
            if (documentGeneration_ != document) return {};  // another script now
            if (cacheGeneration_ != frame) {
                reframed = true;
                break;
            }
            searchPageLocked(held, index, query, key, limit, hits);
        }
        if (!reframed) return hits;
    }
    const Held held(lock_);
    return searchLocked(held, query, limit);
}

std::vector<DocumentStore::SearchHit> DocumentStore::searchLocked(const Held& held, const std::string& query,
                                                                  int limit) {
    std::vector<SearchHit> hits;
    if (!document_ || limit < 1 || !g_utf8_validate(query.data(), static_cast<gssize>(query.size()), nullptr) ||
        g_utf8_strlen(query.c_str(), -1) < 2)
        return hits;
    const int pageCount = document_->pageCount();
    const std::string key = searchKey(query).value_or(query);  // the query is UTF-8, checked above
    for (int index = 0; index < pageCount && static_cast<int>(hits.size()) < limit; ++index)
        searchPageLocked(held, index, query, key, limit, hits);
    return hits;
}

void DocumentStore::searchPageLocked(const Held& held, int index, const std::string& query, const std::string& key,
                                     int limit, std::vector<SearchHit>& hits) {
    if (!document_ || !pageMayMatchLocked(held, index, key)) return;
    // No visible box also covers a cropped page size without area: both are
    // the display box scaled by the crop.
    const std::optional<PageRect> visible = visibleBoxLocked(held, index);
    if (!visible) return;
    for (const TextMatch& match : document_->find(index, query)) {
        if (static_cast<int>(hits.size()) == limit) break;
        SearchHit hit;
        hit.page = match.page;
        hit.rect = match.bounds.viewOf(*visible);
        const std::optional<TextSelection> lines = document_->select(match.page, match.first, match.last, true);
        std::string source = lines ? trimmed(lines->text) : std::string();
        if (source.empty()) {
            const auto own = document_->select(match.page, match.first, match.last, false);
            source = own ? trimmed(own->text) : std::string();
        }
        if (source.empty()) source = query;
        hit.snippet = firstCharacters(source, snippetLength);
        hit.lineEnd = ((lines ? lines->bounds : match.bounds).maxX() - visible->minX()) / visible->width;
        hits.push_back(std::move(hit));
    }
}

}  // namespace tallowmark
