#include "document/document_store.hpp"

#include <cairo.h>

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

#include "document/png_encoder.hpp"

namespace tallowmark {

struct DocumentStore::RenderPlan {
    double fullWidth = 0;  // W x H: the displayed page
    double fullHeight = 0;
    double width = 0;  // w x h: the part of it the crop keeps
    double height = 0;
    std::optional<BoxFraction> crop;
    std::int64_t generation = 0;
};

namespace {

// The displayed size: the display box, turned on its side by a quarter rotation.
void fullSize(const PageBoxes& boxes, double& width, double& height) {
    const bool sideways = boxes.rotation == 90 || boxes.rotation == 270;
    width = sideways ? boxes.display.height : boxes.display.width;
    height = sideways ? boxes.display.width : boxes.display.height;
}

// Threads for the line collection at open; past a few, poppler's per-document
// set-up costs more than the pages left for each.
int collectionWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

bool isFoldedAway(gunichar c) {
    switch (c) {
        case '-':
        case 0x00AD:  // soft hyphen
        case 0x2010:  // hyphen
        case 0x2011:  // non-breaking hyphen
            return true;
        default: return g_unichar_isspace(c) || g_unichar_type(c) == G_UNICODE_SPACE_SEPARATOR;
    }
}

// Overwrites the text before letting it go, so a script's password does not
// linger in freed memory.
void wipe(std::string& text) {
    explicit_bzero(text.data(), text.size());
    text.clear();
}

}  // namespace

DocumentStore::DocumentStore() = default;
DocumentStore::~DocumentStore() { wipe(password_); }

std::optional<std::string> DocumentStore::searchKey(std::string_view text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        // Plain ASCII, the usual script: compatibility form and capitals change
        // nothing, so lower case alone is the fold.
        std::string key;
        key.reserve(text.size());
        for (const char c : text)
            if (!isFoldedAway(static_cast<gunichar>(c))) key.push_back(g_ascii_tolower(c));
        return key;
    }
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::nullopt;
    // poppler compares in compatibility form; upper case first so letters whose
    // lower cases differ but whose capitals agree (dotless i) fold together.
    gchar* normal = g_utf8_normalize(text.data(), static_cast<gssize>(text.size()), G_NORMALIZE_ALL);
    if (!normal) return std::nullopt;
    gchar* upper = g_utf8_strup(normal, -1);
    gchar* folded = g_utf8_casefold(upper, -1);
    std::string key;
    key.reserve(std::strlen(folded));
    for (const char* p = folded; *p; p = g_utf8_next_char(p))
        if (!isFoldedAway(g_utf8_get_char(p))) key.append(p, static_cast<std::size_t>(g_utf8_next_char(p) - p));
    g_free(folded);
    g_free(upper);
    g_free(normal);
    return key;
}

std::vector<DocumentStore::CollectedPage> DocumentStore::collectPages(const PdfBytes& bytes, const LayoutPdf& layout,
                                                                      int workers, const std::string& password,
                                                                      std::size_t keepBytes) {
    const int pageCount = layout.pageCount();
    std::vector<CollectedPage> pages(std::max(pageCount, 0));
    std::atomic<int> next{0};
    std::atomic<std::size_t> claimed{0};
    auto take = [&](const LayoutPdf& from) {
        for (int i = next++; i < pageCount; i = next++) {
            pages[i].lines = from.textLines(i);
            // The lines hold every inked character of the page in reading
            // order; what they leave out is white space, which the key drops.
            std::string text;
            for (const TextLine& line : pages[i].lines) text += line.text;
            pages[i].searchText = searchKey(text);
            // Pages are taken in order, so the words kept are the first
            // pages', where a search starts; the others are let go here.
            std::shared_ptr<const PageWords> words = from.takeWords(i);
            if (!words) continue;
            const std::size_t size = LayoutPdf::footprint(*words);
            if (claimed.fetch_add(size) + size <= keepBytes) pages[i].words = std::move(words);
        }
    };
    // Short-lived threads of its own rather than the shared queue: an open
    // called from that queue must not wait for the queue.
    std::vector<std::thread> threads;
    for (int w = 1; w < std::min(workers, pageCount); ++w) {
        try {
            // One poppler document is not safe across threads; each worker reads
            // the shared bytes through its own. A worker that cannot open one
            // takes no pages, and the others share them out.
            threads.emplace_back([&] {
                if (const std::unique_ptr<LayoutPdf> own = LayoutPdf::open(bytes, password)) take(*own);
            });
        } catch (const std::system_error&) {
            break;  // no more threads: the ones running and the caller finish the pages
        }
    }
    take(layout);
    for (std::thread& thread : threads) thread.join();
    return pages;
}

bool DocumentStore::pageMayMatchLocked(const Held&, int index, const std::string& key) const {
    if (index < 0 || index >= static_cast<int>(searchTexts_.size()) || !searchTexts_[index]) return true;
    return searchTexts_[index]->find(key) != std::string::npos;
}

std::optional<DocumentStore::Info> DocumentStore::open(const std::filesystem::path& path, const std::string& password) {
    return openScript(path, password).info;
}

DocumentStore::OpenResult DocumentStore::openScript(const std::filesystem::path& path, const std::string& password) {
    const Held held(lock_);
    const PdfBytes bytes = readPdfBytes(path);
    std::unique_ptr<LayoutPdf> layout = LayoutPdf::open(bytes, password);
    if (!layout) {
        // poppler-glib's error is what tells a locked file from a bad one.
        PdfOpenError problem = PdfOpenError::unreadable;
        RenderPdf::open(bytes, password, &problem);
        return {std::nullopt, problem};
    }
    // The first pages' words stay for the first search, within half the
    // budget: kept among the freed words of the other pages, they hold about
    // twice their size of the open's heap resident.
    layout->setWordsBudget(wordsBudget_);
    std::vector<CollectedPage> collected =
        collectPages(bytes, *layout, collectionWorkers(), password, wordsBudget_ / 2);
    for (std::size_t i = 0; i < collected.size(); ++i)
        layout->keepWords(static_cast<int>(i), std::move(collected[i].words));

    document_ = std::move(layout);
    url_ = std::filesystem::absolute(path);
    wipe(password_);
    password_ = password;
    {
        // After the line collection: opened before it, the drawing document's
        // heap sits among the collection's and keeps more of it resident.
        std::scoped_lock render(renderLock_);
        renderPdf_ = RenderPdf::open(bytes, password);
    }
    clearImageCacheLocked(held);
    lineCache_.clear();
    searchTexts_.clear();
    searchTexts_.reserve(collected.size());
    for (std::size_t i = 0; i < collected.size(); ++i) {
        lineCache_.emplace(static_cast<int>(i), std::move(collected[i].lines));
        searchTexts_.push_back(std::move(collected[i].searchText));
    }
    manualCrop_.reset();
    cropFractions_.clear();
    cropFractions_ = computeCropFractionsLocked(held, std::nullopt);
    automaticCrop_ = cropFractions_.empty() ? std::nullopt : std::optional(cropFractions_.front());
    return {currentInfoLocked(held), PdfOpenError::unreadable};
}

std::optional<PdfOpenError> DocumentStore::openProblem(const std::filesystem::path& path, const std::string& password) {
    PdfOpenError problem = PdfOpenError::unreadable;
    if (RenderPdf::open(readPdfBytes(path), password, &problem)) return std::nullopt;
    return problem;
}

std::string DocumentStore::password() const {
    const Held held(lock_);
    return password_;
}

void DocumentStore::close() {
    const Held held(lock_);
    document_.reset();
    url_.reset();
    wipe(password_);
    {
        std::scoped_lock render(renderLock_);
        renderPdf_.reset();
    }
    clearImageCacheLocked(held);
    lineCache_.clear();
    searchTexts_.clear();
    cropFractions_.clear();
    manualCrop_.reset();
    automaticCrop_.reset();
}

void DocumentStore::clearImageCacheLocked(const Held&) {
    cache_.clear();
    cacheOrder_.clear();
    ++cacheGeneration_;
}

std::optional<DocumentStore::Info> DocumentStore::currentInfo() const {
    const Held held(lock_);
    return currentInfoLocked(held);
}

std::optional<DocumentStore::Info> DocumentStore::currentInfoLocked(const Held& held) const {
    if (!document_ || !url_) return std::nullopt;
    Info info;
    info.path = url_->string();
    info.title = url_->stem().string();
    info.pageCount = document_->pageCount();
    info.aspects.reserve(info.pageCount);
    for (int i = 0; i < info.pageCount; ++i) {
        double aspect = fallbackAspect;
        if (const std::optional<PageBoxes> boxes = document_->pageBoxes(i)) {
            double width, height;
            fullSize(*boxes, width, height);
            if (const std::optional<BoxFraction> crop = cropFractionLocked(held, i)) {
                width *= crop->width;
                height *= crop->height;
            }
            if (height > 0) aspect = width / height;
        }
        info.aspects.push_back(aspect);
    }
    return info;
}

std::vector<std::array<double, 2>> DocumentStore::pageSizes() {
    const Held held(lock_);
    std::vector<std::array<double, 2>> sizes;
    const int pageCount = document_ ? document_->pageCount() : 0;
    for (int i = 0; i < pageCount; ++i) {
        double width = 0, height = 0;
        if (const std::optional<PageBoxes> boxes = document_->pageBoxes(i)) fullSize(*boxes, width, height);
        if (const std::optional<BoxFraction> crop = cropFractionLocked(held, i)) {
            width *= crop->width;
            height *= crop->height;
        }
        sizes.push_back({width, height});
    }
    return sizes;
}

std::optional<BoxFraction> DocumentStore::cropFraction(int index) const {
    const Held held(lock_);
    return cropFractionLocked(held, index);
}

std::optional<BoxFraction> DocumentStore::cropFractionLocked(const Held&, int index) const {
    if (index < 0 || index >= static_cast<int>(cropFractions_.size())) return std::nullopt;
    return cropFractions_[index];
}

std::string DocumentStore::pageText(int index) {
    std::scoped_lock guard(lock_);
    return document_ ? document_->pageText(index) : std::string();
}

void DocumentStore::setWordsBudget(std::size_t bytes) {
    std::scoped_lock guard(lock_);
    wordsBudget_ = bytes;
    if (document_) document_->setWordsBudget(bytes);
}

std::size_t DocumentStore::keptWordsBytes() const {
    std::scoped_lock guard(lock_);
    return document_ ? document_->keptWordsBytes() : 0;
}

std::vector<std::string> DocumentStore::cachedKeys() {
    std::scoped_lock guard(lock_);
    return cacheOrder_;
}

std::optional<DocumentStore::RenderPlan> DocumentStore::planRenderLocked(const Held& held, int index) const {
    if (!document_) return std::nullopt;
    const std::optional<PageBoxes> boxes = document_->pageBoxes(index);
    if (!boxes) return std::nullopt;
    RenderPlan plan;
    fullSize(*boxes, plan.fullWidth, plan.fullHeight);
    plan.crop = cropFractionLocked(held, index);
    plan.width = plan.fullWidth * (plan.crop ? plan.crop->width : 1);
    plan.height = plan.fullHeight * (plan.crop ? plan.crop->height : 1);
    if (!(plan.width > 0 && plan.height > 0)) return std::nullopt;
    plan.generation = cacheGeneration_;
    return plan;
}

std::optional<DocumentStore::PageFrame> DocumentStore::pageFrame(int index) const {
    const Held held(lock_);
    if (!document_) return std::nullopt;
    const std::optional<PageBoxes> boxes = document_->pageBoxes(index);
    if (!boxes) return std::nullopt;
    PageFrame frame;
    fullSize(*boxes, frame.fullWidth, frame.fullHeight);
    frame.crop = cropFractionLocked(held, index);
    return frame;
}

bool DocumentStore::drawPageForPrinting(int index, cairo_t* cr, double width, double height) const {
    std::scoped_lock render(renderLock_);
    return renderPdf_ && renderPdf_->drawPage(index, cr, width, height, /*forPrinting=*/true);
}

std::optional<DocumentStore::Bytes> DocumentStore::renderPage(int index, int pixelWidth) {
    const std::string key = std::to_string(index) + "@" + std::to_string(pixelWidth);
    std::optional<RenderPlan> plan;
    {
        const Held held(lock_);
        if (auto hit = cache_.find(key); hit != cache_.end()) return hit->second;
        plan = planRenderLocked(held, index);
    }
    if (!plan) return std::nullopt;

    const int pw = std::max(pixelWidth, 1);
    const double exactHeight = std::floor(plan->height * pw / plan->width);
    if (!std::isfinite(exactHeight) || exactHeight * pw > static_cast<double>(maxRenderPixels))
        return std::nullopt;
    const int ph = std::max(static_cast<int>(exactHeight), 1);

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, pw, ph);
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surfaceOwner(surface, cairo_surface_destroy);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    cairo_t* cr = cairo_create(surface);
    std::unique_ptr<cairo_t, void (*)(cairo_t*)> crOwner(cr, cairo_destroy);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const double scale = pw / plan->width;
    cairo_scale(cr, scale, scale);
    if (plan->crop) {
        // The crop's top-left corner lands on the bitmap's; cairo's y runs down.
        cairo_translate(cr, -plan->crop->x * plan->fullWidth, -(1 - plan->crop->maxY()) * plan->fullHeight);
    }
    {
        std::scoped_lock render(renderLock_);
        if (!renderPdf_ || !renderPdf_->drawPage(index, cr, plan->fullWidth, plan->fullHeight))
            return std::nullopt;
    }
    crOwner.reset();
    std::optional<Bytes> png = encodePng(surface);
    if (!png) return std::nullopt;
    if (afterDrawHook_) afterDrawHook_();

    std::scoped_lock guard(lock_);
    // An image drawn for a document, crop or flag that has since changed goes
    // to its caller but never into the cache.
    if (plan->generation == cacheGeneration_ && !cache_.contains(key)) {
        cache_[key] = *png;
        cacheOrder_.push_back(key);
        while (cacheOrder_.size() > static_cast<std::size_t>(cacheLimit)) {
            cache_.erase(cacheOrder_.front());
            cacheOrder_.erase(cacheOrder_.begin());
        }
    }
    return png;
}

}  // namespace tallowmark
