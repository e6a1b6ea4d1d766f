// DocumentStore: reading scanned pages with text recognition, off the main
// thread and at the lowest priority, so that a show never waits for it.
#include <glib.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "core/system_log.hpp"
#include "document/document_store.hpp"
#include "document/recognition_cache.hpp"

namespace tallowmark {

namespace {

// Recognition reads at this resolution; Tesseract reads body text best at
// 300 dpi, and the store's pictures are drawn from the PDF, not the scan.
constexpr int readingDpi = 300;

// Pages whose pictures are looked at while the open holds the store; each is
// a fraction of a millisecond, and a text script has a few blank or title pages.
constexpr int pagesAskedAtOpen = 32;

// A page takes a core for a second or more: the reading runs only on time
// nothing else wants (SCHED_IDLE), or at the weakest nice where that is refused.
void lowestThreadPriority() {
    sched_param none{};
    if (sched_setscheduler(0, SCHED_IDLE, &none) != 0) (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

int scanWorkers(int asked) {
    if (asked > 0) return std::min(asked, 8);
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    // One core stays with the show: the main thread, the drawing and the web view.
    return std::clamp(cores - 1, 1, 4);
}

}  // namespace

struct DocumentStore::Scan {
    PdfBytes bytes;
    std::string password;
    std::int64_t generation = 0;
    RecognitionOptions options;
    std::string languages;
    std::atomic<bool> cancelled{false};

    std::once_flag keyOnce;  // the content hash and the data stamp, taken by the first reader
    std::string hash;
    std::string stamp;

    std::mutex queueLock;
    std::vector<int> pending;  // pages still to read, ascending
    std::optional<int> preferred;

    // Guarded by the store's lock:
    int total = 0;
    int done = 0;
    int readersLeft = 0;
    std::vector<int> recognised;
    std::optional<std::string> problem;
    bool running = true;

    std::vector<std::thread> threads;

    std::mutex endLock;
    std::condition_variable endSignal;
    bool ended = false;

    // The page in view first, then the pages in order; -1 when none is left.
    int take() {
        const std::scoped_lock guard(queueLock);
        if (pending.empty() || cancelled) return -1;
        auto at = pending.begin();
        if (preferred) {
            // The first page left at or after the one in view: reading on from it.
            at = std::lower_bound(pending.begin(), pending.end(), *preferred);
            if (at == pending.end()) at = pending.begin();
        }
        const int page = *at;
        pending.erase(at);
        return page;
    }

    void end() {
        {
            const std::scoped_lock guard(endLock);
            ended = true;
        }
        endSignal.notify_all();
    }

    ~Scan() { explicit_bzero(password.data(), password.size()); }
};

std::vector<std::string> DocumentStore::installedLanguages(const std::optional<std::filesystem::path>& dataFolder) {
    std::vector<std::string> installed = TextRecognizer::installedLanguages(dataFolder);
    const auto english = std::find(installed.begin(), installed.end(), "eng");
    if (english != installed.end()) std::rotate(installed.begin(), english, english + 1);
    return installed;
}

std::string DocumentStore::defaultLanguages(const std::optional<std::filesystem::path>& dataFolder) {
    std::string joined;
    for (const std::string& name : installedLanguages(dataFolder)) joined += (joined.empty() ? "" : "+") + name;
    return joined;
}

void DocumentStore::setRecognition(RecognitionOptions options) {
    const Held held(lock_);
    recognition_ = std::move(options);
}

DocumentStore::RecognitionOptions DocumentStore::recognition() const {
    const Held held(lock_);
    return recognition_;
}

void DocumentStore::setOnScanProgress(std::function<void(const ScanStatus&)> callback) {
    const Held held(lock_);
    onScanProgress_ = std::move(callback);
}

std::int64_t DocumentStore::recognitionsRun() const { return recognitionsRun_; }

bool DocumentStore::pageRecognised(int index) const {
    const Held held(lock_);
    return document_ && document_->recognised(index);
}

DocumentStore::ScanStatus DocumentStore::scanStatus() const {
    const Held held(lock_);
    ScanStatus status;
    status.generation = documentGeneration_;
    if (!scan_ || scan_->generation != documentGeneration_) return status;
    status.done = scan_->done;
    status.total = scan_->total;
    status.recognisedPages = scan_->recognised;
    status.problem = scan_->problem;
    status.running = scan_->running;
    return status;
}

void DocumentStore::preferScanPage(int index) {
    std::shared_ptr<Scan> scan;
    {
        const Held held(lock_);
        scan = scan_;
    }
    if (!scan) return;
    const std::scoped_lock guard(scan->queueLock);
    scan->preferred = index;
}

void DocumentStore::waitForScans() {
    std::shared_ptr<Scan> scan;
    {
        const Held held(lock_);
        scan = scan_;
    }
    if (!scan) return;
    std::unique_lock guard(scan->endLock);
    scan->endSignal.wait(guard, [&] { return scan->ended; });
}

bool DocumentStore::startScanLocked(const Held&) {
    if (!recognition_.enabled || !document_) return false;
    std::vector<int> pages;
    std::unique_ptr<ScannedPages> pictures;  // opened only for a page of a few characters
    int asked = 0;
    for (std::size_t i = 0; i < searchTexts_.size(); ++i) {
        // Text that could not be folded is text all the same.
        const std::optional<std::string>& text = searchTexts_[i];
        if (!text) continue;
        const auto characters = static_cast<std::size_t>(g_utf8_strlen(text->data(), static_cast<gssize>(text->size())));
        if (characters >= fewTextCharacters) continue;
        // A blank, title or numbered page is no scan: asked here, so that a
        // text script's crop does not wait on a reading of nothing. Past a
        // few, under the lock, the reading threads ask instead.
        if (asked < pagesAskedAtOpen) {
            ++asked;
            if (!pictures) pictures = ScannedPages::open(document_->bytes(), password_);
            const std::optional<PageTextCounts> counts =
                pictures ? pictures->counts(static_cast<int>(i)) : std::nullopt;
            if (counts && !needsRecognition(*counts)) continue;
        }
        pages.push_back(static_cast<int>(i));
    }
    if (pages.empty()) return false;
    auto scan = std::make_shared<Scan>();
    scan->bytes = document_->bytes();
    scan->password = password_;
    scan->generation = documentGeneration_;
    scan->options = recognition_;
    scan->languages = recognition_.languages.empty() ? defaultLanguages(recognition_.dataFolder) : recognition_.languages;
    scan->pending = pages;
    scan->total = static_cast<int>(pages.size());
    const int workers = std::min(scanWorkers(recognition_.workers), scan->total);
    scan->readersLeft = workers;
    for (int w = 0; w < workers; ++w) {
        try {
            scan->threads.emplace_back([this, scan] { readScans(scan); });
        } catch (const std::system_error&) {
            scan->readersLeft = static_cast<int>(scan->threads.size());
            break;
        }
    }
    if (scan->threads.empty()) {
        logSystem("skannattujen sivujen luku ei kaynnistynyt");
        return false;
    }
    scan_ = scan;
    return true;
}

bool DocumentStore::installRecognisedLocked(const Held&, const Scan& scan, int index,
                                            const std::vector<RecognisedWord>& words, int dpi) {
    if (!document_ || scan.generation != documentGeneration_) return false;
    std::shared_ptr<const PageWords> read =
        document_->wordsFromRecognition(index, words, dpi, scan.options.minConfidence);
    if (!read) return false;
    if (!document_->setRecognised(index, std::move(read))) {
        logSystem("sivun " + std::to_string(index + 1) + " tunnistettuja sanoja ei pideta: muistiraja tuli vastaan");
        return false;
    }
    std::vector<TextLine> lines = document_->textLines(index);
    std::string text;
    for (const TextLine& line : lines) text += line.text;
    lineCache_[index] = std::move(lines);
    if (index < static_cast<int>(searchTexts_.size())) searchTexts_[static_cast<std::size_t>(index)] = searchKey(text);
    return true;
}

void DocumentStore::readScans(const std::shared_ptr<Scan>& scan) {
    lowestThreadPriority();
    const RecognitionOptions& options = scan->options;
    std::string why;
    const std::unique_ptr<ScannedPages> pages = ScannedPages::open(scan->bytes, scan->password, &why);
    const RecognitionCache cache = options.cacheRoot ? RecognitionCache(*options.cacheRoot) : RecognitionCache();
    std::call_once(scan->keyOnce, [&] {
        scan->hash = contentHash(scan->bytes);
        scan->stamp = languageDataStamp(TextRecognizer::dataFolder(options.dataFolder), scan->languages);
    });
    const std::string engine = TextRecognizer::engineVersion();
    std::unique_ptr<TextRecognizer> recognizer;  // made at the first page the cache does not have

    for (int index = scan->take(); index >= 0; index = scan->take()) {
        const RecognitionKey key{scan->hash, index, scan->languages, engine, scan->stamp};
        std::optional<CachedPage> read = cache.load(key);
        std::optional<std::string> fatal;
        if (!read && pages) {
            const std::optional<PageTextCounts> counts = pages->counts(index);
            if (counts && needsRecognition(*counts)) {
                if (!recognizer) recognizer = std::make_unique<TextRecognizer>(scan->languages, options.dataFolder);
                if (recognizer->problem()) {
                    fatal = recognizer->problem();
                } else if (const std::optional<GreyPage> grey = pages->draw(index, readingDpi, &why)) {
                    const tallowmark::Recognition result = recognizer->recognise(grey->image, grey->dpi, &scan->cancelled);
                    ++recognitionsRun_;
                    if (result.cancelled) break;
                    if (result.problem) {
                        logSystem("sivua " + std::to_string(index + 1) + " ei luettu: " + *result.problem);
                    } else {
                        read = CachedPage{grey->dpi, grey->image.width, grey->image.height, result.words,
                                          result.skewDegrees};
                        cache.store(key, *read);
                    }
                } else {
                    logSystem("sivua " + std::to_string(index + 1) + " ei piirretty luettavaksi: " + why);
                }
            }
        } else if (!read) {
            fatal = why;
        }

        ScanStatus status;
        std::function<void(const ScanStatus&)> progress;
        {
            const Held held(lock_);
            if (scan->cancelled || scan->generation != documentGeneration_) break;
            if (fatal) {
                // Nothing more can be read with these languages: the pages keep their text layer.
                scan->problem = *fatal;
                scan->cancelled = true;
            } else {
                if (read && !read->words.empty() && installRecognisedLocked(held, *scan, index, read->words, read->dpi))
                    scan->recognised.insert(std::upper_bound(scan->recognised.begin(), scan->recognised.end(), index),
                                            index);
                ++scan->done;
            }
            status = {scan->generation, scan->done, scan->total, scan->recognised, scan->problem, true};
            progress = onScanProgress_;
        }
        if (progress && !fatal) progress(status);
        if (fatal) break;
    }

    // The last reader out finishes the crop, unless the script has gone meanwhile.
    ScanStatus status;
    std::function<void(const ScanStatus&)> progress;
    std::function<void(std::int64_t)> collected;
    {
        const Held held(lock_);
        if (--scan->readersLeft > 0) return;
        if (scan->generation == documentGeneration_ && scan_ == scan) {
            scan->running = false;
            linesComplete_ = true;
            computeCropLocked(held);
            status = {scan->generation, scan->done, scan->total, scan->recognised, scan->problem, false};
            progress = onScanProgress_;
            collected = onLinesCollected_;
        }
    }
    scan->end();
    if (progress) progress(status);
    if (collected) collected(scan->generation);
}

void DocumentStore::stopScan() {
    std::shared_ptr<Scan> running;
    {
        const Held held(lock_);
        running = std::move(scan_);
        scan_.reset();
    }
    if (!running) return;
    running->cancelled = true;
    for (std::thread& thread : running->threads)
        if (thread.joinable()) thread.join();
    running->end();
}

}  // namespace tallowmark
