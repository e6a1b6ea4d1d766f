// Page images: drawing a page into a bitmap, encoding it, and the cache of
// the last few, bounded by count and by bytes.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "document/bmp_encoder.hpp"
#include "document/document_store.hpp"
#include "document/png_encoder.hpp"

namespace tallowmark {

namespace {

std::string cacheKey(int index, int pixelWidth, ImageEncoding encoding) {
    // The PNG keys are the plain ones the cache has always had ("3@1600").
    std::string key = std::to_string(index) + "@" + std::to_string(pixelWidth);
    if (encoding == ImageEncoding::screen) key += "/screen";
    return key;
}

std::optional<EncodedImage> encode(cairo_surface_t* surface, ImageEncoding encoding) {
    if (encoding == ImageEncoding::screen) {
        if (std::optional<std::vector<std::uint8_t>> bmp = encodeGrayBmp(surface))
            return EncodedImage{std::move(*bmp), "image/bmp"};
    }
    if (std::optional<std::vector<std::uint8_t>> png = encodePng(surface))
        return EncodedImage{std::move(*png), "image/png"};
    return std::nullopt;
}

}  // namespace

std::optional<DocumentStore::Bytes> DocumentStore::renderPage(int index, int pixelWidth) {
    const std::shared_ptr<const EncodedImage> image = pageImage(index, pixelWidth, ImageEncoding::png);
    if (!image) return std::nullopt;
    return image->bytes;
}

std::shared_ptr<const EncodedImage> DocumentStore::pageImage(int index, int pixelWidth, ImageEncoding encoding) {
    const std::string key = cacheKey(index, pixelWidth, encoding);
    std::optional<RenderPlan> plan;
    {
        const Held held(lock_);
        if (auto hit = cache_.find(key); hit != cache_.end()) return hit->second;
        plan = planRenderLocked(held, index);
    }
    if (!plan) return nullptr;

    const PageFrame& frame = plan->frame;
    const int pw = std::max(pixelWidth, 1);
    const double exactHeight = std::floor(frame.croppedHeight() * pw / frame.croppedWidth());
    if (!std::isfinite(exactHeight) || exactHeight * pw > static_cast<double>(maxRenderPixels)) return nullptr;
    const int ph = std::max(static_cast<int>(exactHeight), 1);

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, pw, ph);
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surfaceOwner(surface, cairo_surface_destroy);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return nullptr;
    cairo_t* cr = cairo_create(surface);
    std::unique_ptr<cairo_t, void (*)(cairo_t*)> crOwner(cr, cairo_destroy);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const double scale = pw / frame.croppedWidth();
    cairo_scale(cr, scale, scale);
    frame.translateToCrop(cr);
    {
        std::scoped_lock render(renderLock_);
        if (!renderPdf_ || !renderPdf_->drawPage(index, cr, frame.fullWidth, frame.fullHeight)) return nullptr;
    }
    crOwner.reset();
    std::optional<EncodedImage> encoded = encode(surface, encoding);
    if (!encoded) return nullptr;
    auto image = std::make_shared<const EncodedImage>(std::move(*encoded));
    if (afterDrawHook_) afterDrawHook_();

    const Held held(lock_);
    // An image drawn for a document, crop or flag that has since changed goes
    // to its caller but never into the cache; nor does one larger than the
    // whole byte bound, which would only push every other image out.
    const std::size_t size = image->bytes.size();
    if (plan->generation == cacheGeneration_ && !cache_.contains(key) && size <= cacheByteLimit_) {
        cache_[key] = image;
        cacheOrder_.push_back(key);
        cacheBytes_ += size;
        trimImageCacheLocked(held);
    }
    return image;
}

void DocumentStore::trimImageCacheLocked(const Held&) {
    while (!cacheOrder_.empty() &&
           (cacheOrder_.size() > static_cast<std::size_t>(cacheLimit) || cacheBytes_ > cacheByteLimit_)) {
        const auto oldest = cache_.find(cacheOrder_.front());
        cacheBytes_ -= oldest->second->bytes.size();
        cache_.erase(oldest);
        cacheOrder_.erase(cacheOrder_.begin());
    }
}

void DocumentStore::setImageCacheBytes(std::size_t bytes) {
    const Held held(lock_);
    cacheByteLimit_ = bytes;
    trimImageCacheLocked(held);
}

std::size_t DocumentStore::imageCacheBytes() const {
    std::scoped_lock guard(lock_);
    return cacheBytes_;
}

std::optional<int> DocumentStore::pageCount() const {
    std::scoped_lock guard(lock_);
    if (!document_) return std::nullopt;
    return document_->pageCount();
}

}  // namespace tallowmark
