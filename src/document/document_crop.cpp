// DocumentStore: the automatic crop shared across pages and the manual crop.
#include <algorithm>
#include <cmath>
#include <limits>

#include "document/document_store.hpp"

namespace tallowmark {

namespace {

constexpr double smallestManualWidth = 0.25;
constexpr double smallestManualHeight = 0.05;

// The store keeps crops with y up from the page's foot; what it hands out is
// measured down from the top.
std::optional<PageCrop> outsideForm(const std::optional<BoxFraction>& crop) {
    if (!crop) return std::nullopt;
    return crop->yDown();
}

}  // namespace

std::vector<BoxFraction> DocumentStore::computeCropFractionsLocked(const Held& held,
                                                                   const std::optional<BoxFraction>& within) {
    // Until the collection behind the open has every page, the crop waits
    // for it rather than lay out the pages left here, under the lock.
    if (!linesComplete_) return {};
    constexpr double infinity = std::numeric_limits<double>::infinity();
    double minX = infinity, maxX = -infinity;
    std::vector<std::optional<std::pair<double, double>>> extents;
    const int pageCount = document_ ? document_->pageCount() : 0;
    for (int i = 0; i < pageCount; ++i) {
        const std::optional<PageBoxes> boxes = document_->pageBoxes(i);
        if (!boxes) {
            extents.emplace_back();
            continue;
        }
        // A turned page would need its own horizontal range; leave such documents whole.
        if (boxes->rotation != 0) return {};
        const PageRect& box = boxes->display;
        if (!box.hasArea()) {
            extents.emplace_back();
            continue;
        }
        const std::vector<TextLine>& lines = loadLinesLocked(held, i);
        const std::vector<bool> outer = onOuterBaselines(lines);
        double minY = infinity, maxY = -infinity;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (dropPageNumbers_ && outer[k] && looksLikePageNumber(lines[k].text)) continue;
            const BoxFraction f = lines[k].rect.fractionOf(box);
            if (within) {
                const double cx = f.x + f.width / 2, cy = f.y + f.height / 2;
                if (cx < within->minX() || cx > within->maxX() || cy < within->minY() || cy > within->maxY()) continue;
            }
            minX = std::min(minX, f.minX());
            maxX = std::max(maxX, f.maxX());
            minY = std::min(minY, f.minY());
            maxY = std::max(maxY, f.maxY());
        }
        extents.push_back(maxY > minY ? std::optional(std::pair(minY, maxY)) : std::nullopt);
    }
    if (!(minX < maxX)) return {};

    double x0 = std::max(minX - cropMargin, 0.0), x1 = std::min(maxX + cropMargin, 1.0);
    if (within) {
        x0 = std::max(x0, within->minX());
        x1 = std::min(x1, within->maxX());
    }
    double tallest = -infinity;
    for (const auto& extent : extents)
        if (extent) tallest = std::max(tallest, extent->second - extent->first);
    if (tallest == -infinity) tallest = 1.0;

    std::vector<BoxFraction> result;
    result.reserve(extents.size());
    for (const auto& extent : extents) {
        if (!extent) {
            // A page without text gets a centred band as tall as the tallest text block.
            result.push_back({x0, (1 - tallest) / 2, x1 - x0, tallest});
            continue;
        }
        double y0 = std::max(extent->first - cropMargin, 0.0), y1 = std::min(extent->second + cropMargin, 1.0);
        if (within) {
            y0 = std::max(y0, within->minY());
            y1 = std::min(y1, within->maxY());
        }
        result.push_back({x0, y0, x1 - x0, y1 - y0});
    }
    return result;
}

void DocumentStore::applyManualCropLocked(const Held& held) {
    if (document_) cropFractions_ = computeCropFractionsLocked(held, manualCrop_);
}

std::optional<DocumentStore::Info> DocumentStore::setCrop(const std::optional<PageCrop>& crop) {
    const Held held(lock_);
    const bool finite = crop && std::isfinite(crop->x) && std::isfinite(crop->y) && std::isfinite(crop->width) &&
                        std::isfinite(crop->height);
    if (!finite) {
        manualCrop_.reset();
    } else {
        const double w = std::min(std::max(crop->width, smallestManualWidth), 1.0);
        const double h = std::min(std::max(crop->height, smallestManualHeight), 1.0);
        const double x = std::min(std::max(crop->x, 0.0), 1 - w);
        const double y = std::min(std::max(crop->y, 0.0), 1 - h);
        manualCrop_ = PageCrop{x, y, w, h}.yUp();
    }
    applyManualCropLocked(held);
    clearImageCacheLocked(held);
    return currentInfoLocked(held);
}

std::optional<PageCrop> DocumentStore::manualCrop() const {
    const Held held(lock_);
    return outsideForm(manualCrop_);
}

std::optional<PageCrop> DocumentStore::automaticCrop() const {
    const Held held(lock_);
    return outsideForm(automaticCrop_);
}

std::optional<PageCrop> DocumentStore::pageCrop(int index) const {
    const Held held(lock_);
    return pageCropLocked(held, index);
}

std::optional<PageCrop> DocumentStore::pageCropLocked(const Held& held, int index) const {
    return outsideForm(cropFractionLocked(held, index));
}

std::optional<BoxFraction> DocumentStore::cropFractionLocked(const Held&, int index) const {
    if (index < 0 || index >= static_cast<int>(cropFractions_.size())) return std::nullopt;
    return cropFractions_[index];
}

}  // namespace tallowmark
