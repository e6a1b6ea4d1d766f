#include "document/document_store.hpp"

#include <cairo.h>

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include "core/system_log.hpp"

namespace tallowmark {

// A collection of every page's lines behind an open (Lines::inBackground).
// Its threads read the shared bytes through poppler documents of their own and
// take the store's lock only to hand a finished page in.
struct DocumentStore::Collection {
    PdfBytes bytes;
    std::string password;
    int pageCount = 0;
    std::int64_t generation = 0;  // the documentGeneration_ it collects for
    std::size_t keepBytes = 0;    // page words handed to the open document, as in collectPages
    std::atomic<bool> cancelled{false};
    std::atomic<int> next{0};
    std::atomic<std::size_t> claimed{0};
    int stored = 0;  // pages handed in; guarded by the store's lock
    std::vector<std::thread> threads;

    ~Collection() { explicit_bzero(password.data(), password.size()); }
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

// Collecting threads give way to the main thread, the renders and the web
// view: on a machine of two cores the first page is drawn beside them. A
// failure leaves the thread at normal priority, which is only slower to draw beside.
void lowerThreadPriority() {
    constexpr int backgroundNice = 10;
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), backgroundNice);
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
DocumentStore::~DocumentStore() {
    stopCollection();
    stopScan();
    wipe(password_);
}

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

DocumentStore::CollectedPage DocumentStore::collectPage(const LayoutPdf& from, int index,
                                                        std::atomic<std::size_t>& claimed, std::size_t keepBytes) {
    CollectedPage page;
    page.lines = from.textLines(index);
    // The lines hold every inked character of the page in reading order;
    // what they leave out is white space, which the key drops.
    std::string text;
    for (const TextLine& line : page.lines) text += line.text;
    page.searchText = searchKey(text);
    // Pages are taken in order, so the words kept are the first pages',
    // where a search starts; the others are let go here.
    std::shared_ptr<const PageWords> words = from.takeWords(index);
    if (!words) return page;
    const std::size_t size = LayoutPdf::footprint(*words);
    if (claimed.fetch_add(size) + size <= keepBytes) page.words = std::move(words);
    return page;
}

std::vector<DocumentStore::CollectedPage> DocumentStore::collectPages(const PdfBytes& bytes, const LayoutPdf& layout,
                                                                      int workers, const std::string& password,
                                                                      std::size_t keepBytes) {
    const int pageCount = layout.pageCount();
    std::vector<CollectedPage> pages(std::max(pageCount, 0));
    std::atomic<int> next{0};
    std::atomic<std::size_t> claimed{0};
    auto take = [&](const LayoutPdf& from) {
        for (int i = next++; i < pageCount; i = next++) pages[i] = collectPage(from, i, claimed, keepBytes);
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

DocumentStore::OpenResult DocumentStore::openScript(const std::filesystem::path& path, const std::string& password,
                                                    Lines lines) {
    // Nothing of the store is touched until the new script has opened, so a
    // failed open leaves the old one as it was, its collection included.
    const PdfBytes bytes = readPdfBytes(path);
    std::unique_ptr<LayoutPdf> layout = LayoutPdf::open(bytes, password);
    if (!layout) {
        // poppler-glib's error is what tells a locked file from a bad one.
        PdfOpenError problem = PdfOpenError::unreadable;
        RenderPdf::open(bytes, password, &problem);
        return {std::nullopt, problem};
    }
    std::size_t budget;
    int atOnceUpTo;
    {
        const Held held(lock_);
        budget = wordsBudget_;
        atOnceUpTo = collectAtOnceUpTo_;
    }
    // The first pages' words stay for the first search, within half the
    // budget: kept among the freed words of the other pages, they hold about
    // twice their size of the open's heap resident.
    layout->setWordsBudget(budget);
    const int pageCount = layout->pageCount();
    std::shared_ptr<Collection> collection;
    std::vector<CollectedPage> collected;
    if (lines == Lines::inBackground && pageCount > atOnceUpTo) {
        collection = std::make_shared<Collection>();
        collection->bytes = bytes;
        collection->password = password;
        collection->pageCount = pageCount;
        collection->keepBytes = budget / 2;
    } else {
        collected = collectPages(bytes, *layout, collectionWorkers(), password, budget / 2);
        for (std::size_t i = 0; i < collected.size(); ++i)
            layout->keepWords(static_cast<int>(i), std::move(collected[i].words));
    }
    stopCollection();
    stopScan();

    const Held held(lock_);
    document_ = std::move(layout);
    url_ = std::filesystem::absolute(path);
    wipe(password_);
    password_ = password;
    ++documentGeneration_;
    {
        // After the line collection: opened before it, the drawing document's
        // heap sits among the collection's and keeps more of it resident.
        std::scoped_lock render(renderLock_);
        renderPdf_ = RenderPdf::open(bytes, password);
    }
    clearImageCacheLocked(held);
    lineCache_.clear();
    searchTexts_.assign(static_cast<std::size_t>(std::max(pageCount, 0)), std::nullopt);
    for (std::size_t i = 0; i < collected.size(); ++i) {
        lineCache_.emplace(static_cast<int>(i), std::move(collected[i].lines));
        searchTexts_[i] = std::move(collected[i].searchText);
    }
    manualCrop_.reset();
    cropFractions_.clear();
    automaticCrop_.reset();
    linesComplete_ = !collection;
    if (collection) {
        collection->generation = documentGeneration_;
        collection_ = collection;
        // Started under the lock: the threads wait for it only to hand their
        // first page in, and the open has nothing left to do but answer.
        for (int w = 0; w < collectionWorkers(); ++w) {
            try {
                collection->threads.emplace_back([this, collection] { collectLines(collection); });
            } catch (const std::system_error&) {
                break;
            }
        }
        // Without a thread the pages are still laid out one by one on demand;
        // only the crop stays unknown, and the pages are shown whole.
        if (collection->threads.empty()) logSystem("rivien keruu ei kaynnistynyt: sivut rajaamatta");
    } else if (startScanLocked(held)) {
        linesComplete_ = false;
    } else {
        cropFractions_ = computeCropFractionsLocked(held, std::nullopt);
        automaticCrop_ = cropFractions_.empty() ? std::nullopt : std::optional(cropFractions_.front());
    }
    return {currentInfoLocked(held), PdfOpenError::unreadable};
}

void DocumentStore::collectLines(const std::shared_ptr<Collection>& collection) {
    lowerThreadPriority();
    const std::unique_ptr<LayoutPdf> own = LayoutPdf::open(collection->bytes, collection->password);
    // A thread that cannot open the bytes takes no pages; the others share them out.
    if (!own) return;
    for (int i = collection->next++; i < collection->pageCount; i = collection->next++) {
        if (collection->cancelled) return;
        CollectedPage page = collectPage(*own, i, collection->claimed, collection->keepBytes);
        bool last = false;
        std::function<void(std::int64_t)> collected;
        {
            const Held held(lock_);
            if (collection->cancelled || collection->generation != documentGeneration_) return;
            // A page laid out on demand meanwhile keeps its lines; they are the same.
            lineCache_.try_emplace(i, std::move(page.lines));
            searchTexts_[static_cast<std::size_t>(i)] = std::move(page.searchText);
            if (page.words) document_->keepWords(i, std::move(page.words));
            last = ++collection->stored == collection->pageCount;
            if (last && finishCollectionLocked(held)) collected = onLinesCollected_;
        }
        if (last && collected) collected(collection->generation);
    }
}

bool DocumentStore::finishCollectionLocked(const Held& held) {
    linesComplete_ = true;
    if (startScanLocked(held)) {
        linesComplete_ = false;
        return false;
    }
    computeCropLocked(held);
    return true;
}

void DocumentStore::computeCropLocked(const Held& held) {
    // What the open would have found with every line in at once, with the
    // manual crop and the page-number flag set meanwhile.
    const std::vector<BoxFraction> automatic = computeCropFractionsLocked(held, std::nullopt);
    automaticCrop_ = automatic.empty() ? std::nullopt : std::optional(automatic.front());
    cropFractions_ = manualCrop_ ? computeCropFractionsLocked(held, manualCrop_) : automatic;
    clearImageCacheLocked(held);
}

void DocumentStore::stopCollection() {
    std::shared_ptr<Collection> running;
    {
        const Held held(lock_);
        running = std::move(collection_);
        collection_.reset();
    }
    if (!running) return;
    running->cancelled = true;
    for (std::thread& thread : running->threads)
        if (thread.joinable()) thread.join();
}

std::int64_t DocumentStore::documentGeneration() const {
    const Held held(lock_);
    return documentGeneration_;
}

bool DocumentStore::linesComplete() const {
    const Held held(lock_);
    return linesComplete_;
}

bool DocumentStore::linesReady(int index) const {
    const Held held(lock_);
    return linesComplete_ || lineCache_.contains(index);
}

void DocumentStore::setOnLinesCollected(std::function<void(std::int64_t)> callback) {
    const Held held(lock_);
    onLinesCollected_ = std::move(callback);
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
    stopCollection();
    stopScan();
    const Held held(lock_);
    ++documentGeneration_;
    linesComplete_ = true;
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
    cacheBytes_ = 0;
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
        const std::optional<PageFrame> frame = frameLocked(held, i);
        const bool hasHeight = frame && frame->croppedHeight() > 0;
        info.aspects.push_back(hasHeight ? frame->croppedWidth() / frame->croppedHeight() : fallbackAspect);
    }
    return info;
}

std::vector<std::array<double, 2>> DocumentStore::pageSizes() {
    const Held held(lock_);
    std::vector<std::array<double, 2>> sizes;
    const int pageCount = document_ ? document_->pageCount() : 0;
    for (int i = 0; i < pageCount; ++i) {
        const std::optional<PageFrame> frame = frameLocked(held, i);
        sizes.push_back({frame ? frame->croppedWidth() : 0, frame ? frame->croppedHeight() : 0});
    }
    return sizes;
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
    const std::optional<PageFrame> frame = frameLocked(held, index);
    if (!frame || !(frame->croppedWidth() > 0 && frame->croppedHeight() > 0)) return std::nullopt;
    return RenderPlan{*frame, cacheGeneration_};
}

std::optional<PageFrame> DocumentStore::pageFrame(int index) const {
    const Held held(lock_);
    return frameLocked(held, index);
}

std::optional<PageFrame> DocumentStore::frameLocked(const Held& held, int index) const {
    if (!document_) return std::nullopt;
    const std::optional<PageBoxes> boxes = document_->pageBoxes(index);
    if (!boxes) return std::nullopt;
    PageFrame frame;
    fullSize(*boxes, frame.fullWidth, frame.fullHeight);
    frame.crop = pageCropLocked(held, index);
    return frame;
}

bool DocumentStore::drawPageForPrinting(int index, cairo_t* cr, double width, double height) const {
    std::scoped_lock render(renderLock_);
    return renderPdf_ && renderPdf_->drawPage(index, cr, width, height, /*forPrinting=*/true);
}

}  // namespace tallowmark
