#pragma once

// The one open script PDF: document information, page images from a small
// bounded cache, page text and lines, and the crop. Shared between the main
// thread and render threads; see the lock notes beside the fields.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/layout_pdf.hpp"
#include "document/page_frame.hpp"
#include "document/page_geometry.hpp"
#include "document/page_image.hpp"
#include "document/render_pdf.hpp"
#include "document/text_recognition.hpp"

namespace tallowmark {

namespace testing {
struct DocumentStoreAccess;
}

// The fractions it hands out are measured down from the top of the page: of
// the visible box (ViewFraction) or of the whole display box (PageCrop).
// Inside, crops are kept y up, as PDF page space has them.
class DocumentStore {
public:
    struct Info {
        std::string path;
        std::string title;  // file name without its extension
        int pageCount = 0;
        std::vector<double> aspects;  // displayed width / height per page, crop applied

        bool operator==(const Info&) const = default;
    };

    // What a click or drag on a page selects.
    struct Selection {
        ViewFraction rect;
        std::string text;  // trimmed
        double lineEnd = 0;
        double gapL = 0;
        double gapR = 0;
        std::vector<ViewFraction> lines;
    };

    struct SearchHit {
        int page = 0;
        ViewFraction rect;
        std::string snippet;
        double lineEnd = 0;
    };

    // A text line, and whether it reads as a page number on the page's outer baselines.
    struct NumberedLine {
        ViewFraction rect;
        bool pageNumber = false;
    };

    struct LineText {
        ViewFraction rect;
        std::string text;  // trimmed
    };

    struct PageWord {
        ViewFraction rect;
        std::string text;
        int line = 0;  // the word's line, counted in reading order
    };

    using Bytes = std::vector<std::uint8_t>;

    static constexpr int cacheLimit = 12;
    static constexpr double cropMargin = 0.006;
    static constexpr double fallbackAspect = 0.7071;
    // A bitmap larger than this is refused rather than allocated: an absurd
    // page size or width would otherwise ask for gigabytes. Room for a page
    // twice as tall as wide at the widest width the page may ask for (8192).
    static constexpr std::int64_t maxRenderPixels = 8192LL * 16384;

    DocumentStore();
    ~DocumentStore();
    DocumentStore(const DocumentStore&) = delete;
    DocumentStore& operator=(const DocumentStore&) = delete;

    // Every public operation takes the locks it needs itself, so a caller can
    // neither forget the lock nor hold it across work of its own.

    struct OpenResult {
        std::optional<Info> info;
        PdfOpenError problem = PdfOpenError::unreadable;  // why, when there is no info
    };
    // When an open has every page's lines. `collected`: before it returns.
    // `inBackground`: a script of more than collectAtOnceUpTo pages returns
    // with its pages shown whole; threads of the store collect the lines, a
    // page asked about meanwhile is laid out on demand, and once the last
    // page is in the crop is computed and onLinesCollected runs.
    enum class Lines { collected, inBackground };
    static constexpr int collectAtOnceUpTo = 16;
    // Opens the script; on failure the store is unchanged. `password` (empty:
    // none) unlocks an encrypted file. It stays with the open document, for
    // every later use of the file while it is open (the export asks for it),
    // and is wiped from memory when the document closes or is replaced.
    // Opening or closing cancels a collection still running for the old script.
    OpenResult openScript(const std::filesystem::path& path, const std::string& password = {},
                          Lines lines = Lines::collected);
    // None, with the store unchanged, when the file cannot be opened as a PDF.
    std::optional<Info> open(const std::filesystem::path& path, const std::string& password = {});
    void close();
    // The password the open script was unlocked with; empty when it needed none.
    std::string password() const;
    // Why the file would not open with `password`, asking only poppler's
    // drawing side (no pages are read); none when it would open.
    static std::optional<PdfOpenError> openProblem(const std::filesystem::path& path, const std::string& password = {});
    std::optional<Info> currentInfo() const;

    // PNG bytes of the page at `pixelWidth` (at least 1), crop applied; none on
    // any failure. Safe from any thread; draws outside the main lock.
    std::optional<Bytes> renderPage(int index, int pixelWidth);
    // The page's image in `encoding`, from the cache or drawn now (outside
    // the main lock); null on any failure. Shared with the cache, so a hit
    // copies nothing.
    std::shared_ptr<const EncodedImage> pageImage(int index, int pixelWidth, ImageEncoding encoding);
    // Pages of the open script; none when nothing is open.
    std::optional<int> pageCount() const;
    std::string pageText(int index);
    // Cached image keys, oldest first.
    std::vector<std::string> cachedKeys();
    // Besides cacheLimit images, the cache holds at most this many bytes: a
    // screen image is several megabytes uncompressed. A smaller bound lets
    // the oldest images go at once.
    static constexpr std::size_t defaultImageCacheBytes = std::size_t{64} << 20;
    void setImageCacheBytes(std::size_t bytes);
    std::size_t imageCacheBytes() const;

    // Changes with every open and close: tells one script's answers from another's.
    std::int64_t documentGeneration() const;
    // Whether page `index` has its lines already, so asking for them lays out nothing.
    bool linesReady(int index) const;
    // Whether every page's lines, and so the crop, are known.
    bool linesComplete() const;
    // Runs once per background collection that completes, on the collecting
    // thread with no lock held, with the documentGeneration it belongs to.
    // Set before the first open.
    void setOnLinesCollected(std::function<void(std::int64_t)> callback);

    // Text lines, top of the page first.
    std::vector<ViewFraction> pageLines(int index);
    std::vector<LineText> pageLineTexts(int index);
    // The page's words in reading order (columns one after the other).
    std::vector<PageWord> pageWords(int index);
    std::optional<std::vector<std::vector<NumberedLine>>> allPageLines();
    std::optional<Info> setDropPageNumbers(bool drop);
    bool dropsPageNumbers() const;
    static bool looksLikePageNumber(std::string_view text);

    // What a click (`from` and `to` close together) or a drag selects.
    std::optional<Selection> textSelection(int page, ViewPoint from, ViewPoint to, bool snapWords);
    // At most `limit` matches of `query` (two characters or more), in page order.
    std::vector<SearchHit> search(const std::string& query, int limit);

    // Displayed size in points with the crop applied, one per page; lets the
    // command line report geometry without re-deriving the crop.
    std::vector<std::array<double, 2>> pageSizes();

    // A page as the export draws it; none for a missing page.
    std::optional<PageFrame> pageFrame(int index) const;
    // Draws the whole page as vectors into (0, 0, width, height) of `cr`'s user
    // space, as for printing; false when there is no such page. Takes only the
    // render lock.
    bool drawPageForPrinting(int index, cairo_t* cr, double width, double height) const;

    // The manual crop, clamped to a sensible size inside the page; none, or a
    // crop with a value that is not finite, clears it.
    std::optional<Info> setCrop(const std::optional<PageCrop>& crop);
    std::optional<PageCrop> manualCrop() const;
    // The crop the text alone gives (the first page's); a manual crop leaves it as it was.
    std::optional<PageCrop> automaticCrop() const;
    // The crop in force on page `index`.
    std::optional<PageCrop> pageCrop(int index) const;

    // What the open keeps of each page once poppler's objects for it are gone:
    // its lines and its text in the form search compares (searchKey).
    struct CollectedPage {
        std::vector<TextLine> lines;
        std::optional<std::string> searchText;  // none: the text could not be folded
        // The page's words, for the first pages whose words fit in
        // `keepBytes` together; none for the others.
        std::shared_ptr<const PageWords> words;
    };
    // Every page's lines and search text, taken on `workers` threads (the
    // caller's one of them), each extra one reading `bytes` through a poppler
    // document of its own; `layout` is the caller's. Pages are released from
    // every document once taken. The result does not depend on `workers`,
    // except for which pages near the end of `keepBytes` keep their words.
    // `password` unlocks the workers' documents as it did the caller's.
    static std::vector<CollectedPage> collectPages(const PdfBytes& bytes, const LayoutPdf& layout, int workers,
                                                   const std::string& password = {}, std::size_t keepBytes = 0);
    // Text folded for a test that can rule a page out of a search without
    // poppler: compatibility forms, letter case, white space and hyphens are
    // all gone, so anything poppler's find matches (case ignored, across line
    // ends and end-of-line hyphens) still contains the folded query. None
    // for text that is not UTF-8.
    static std::optional<std::string> searchKey(std::string_view text);

    // The bytes of page words kept for selections and search (see
    // LayoutPdf::defaultWordsBudget); the open hands over the words of the
    // first pages it laid out, up to half the budget. A budget set applies to
    // the open script and the next ones.
    void setWordsBudget(std::size_t bytes);
    std::size_t keptWordsBytes() const;

    // Scanned pages. A page whose text layer is empty, or holds a few
    // characters over a full-page picture, is read by text recognition on
    // threads of the store at low priority once the open has its lines; the
    // words read become the page's words, for lines, crop, snapping and
    // search. Every mark is kept in fractions of the cropped page, so the
    // crop (and linesComplete) waits for the reading, as for a long
    // script's lines. Results are kept in a RecognitionCache: a second open
    // reads none again.
    struct RecognitionOptions {
        bool enabled = false;
        std::string languages;  // "eng+fin"; empty: defaultLanguages()
        std::optional<std::filesystem::path> dataFolder;  // none: Tesseract's own
        std::optional<std::filesystem::path> cacheRoot;   // none: the user's cache folder
        int workers = 0;                                  // 0: one per core but one, at least one
        // Words read with less confidence are never snapped to (0..100).
        int minConfidence = 60;
    };
    // For the opens that follow.
    void setRecognition(RecognitionOptions options);
    RecognitionOptions recognition() const;
    // The installed languages, English first.
    static std::vector<std::string> installedLanguages(
        const std::optional<std::filesystem::path>& dataFolder = std::nullopt);
    // The same joined by '+'; empty when none is installed.
    static std::string defaultLanguages(const std::optional<std::filesystem::path>& dataFolder = std::nullopt);

    struct ScanStatus {
        std::int64_t generation = 0;  // the documentGeneration it belongs to
        int done = 0;                 // pages read, from the cache or by recognition, or given up
        int total = 0;                // pages to read
        std::vector<int> recognisedPages;  // whose words came from recognition, ascending
        // Why the pages are not read at all (a missing language), an English sentence.
        std::optional<std::string> problem;
        bool running = false;
    };
    ScanStatus scanStatus() const;
    // Runs after every page read and when the reading ends, on a reading
    // thread with no lock held. Set before the first open.
    void setOnScanProgress(std::function<void(const ScanStatus&)> callback);
    // The page in view: it is read next, before the pages in order.
    void preferScanPage(int index);
    // Blocks until the open script's scanned pages are read or given up.
    void waitForScans();
    bool pageRecognised(int index) const;
    // Pages the recognition engine has read (not taken from the cache) since the store was made.
    std::int64_t recognitionsRun() const;

private:
    friend struct testing::DocumentStoreAccess;

    // What drawing a page needs, taken under the main lock (document_render.cpp).
    struct RenderPlan {
        PageFrame frame;
        std::int64_t generation = 0;
    };
    struct Collection;
    struct Scan;
    // The ...Locked operations take the held main lock, so none can be called without it.
    using Held = std::unique_lock<std::mutex>;

    std::optional<Info> currentInfoLocked(const Held& held) const;
    // The crop of page `index` as the store keeps it, y up.
    std::optional<BoxFraction> cropFractionLocked(const Held& held, int index) const;
    std::optional<PageCrop> pageCropLocked(const Held& held, int index) const;
    std::optional<PageFrame> frameLocked(const Held& held, int index) const;
    std::optional<RenderPlan> planRenderLocked(const Held& held, int index) const;
    void clearImageCacheLocked(const Held& held);
    // Lets the oldest images go until the cache is within both of its bounds.
    void trimImageCacheLocked(const Held& held);
    std::optional<PageRect> visibleBoxLocked(const Held& held, int index) const;
    // False only when page `index` cannot hold a match of the query folded to `key`.
    // A page whose text could not be folded may always match.
    bool pageMayMatchLocked(const Held& held, int index, const std::string& key) const;
    const std::vector<TextLine>& loadLinesLocked(const Held& held, int index);
    std::vector<BoxFraction> computeCropFractionsLocked(const Held& held, const std::optional<BoxFraction>& within);
    void applyManualCropLocked(const Held& held);
    PageRect snappedToLinesLocked(const Held& held, const PageRect& rect, int index);
    std::pair<double, double> neighbourGapsLocked(const Held& held, const PageRect& selection, int index) const;
    double lineEndLocked(const Held& held, int index, PagePoint from, PagePoint to, const PageRect& fallback,
                         const PageRect& visible) const;
    std::optional<Selection> textSelectionLocked(const Held& held, int page, ViewPoint from, ViewPoint to,
                                                 bool snapWords);
    std::vector<SearchHit> searchLocked(const Held& held, const std::string& query, int limit);
    // Adds the hits on page `index` to `hits`, up to `limit` in all; `key` is the folded query.
    void searchPageLocked(const Held& held, int index, const std::string& query, const std::string& key, int limit,
                          std::vector<SearchHit>& hits);
    // One page's lines, search text and (within `keepBytes` for all pages
    // that `claimed` counts) words, laid out by `from`.
    static CollectedPage collectPage(const LayoutPdf& from, int index, std::atomic<std::size_t>& claimed,
                                     std::size_t keepBytes);
    // The body of each collecting thread.
    void collectLines(const std::shared_ptr<Collection>& collection);
    // Returns whether the crop is known now; false when scanned pages are
    // still to be read (the reading has started, and it finishes the crop).
    bool finishCollectionLocked(const Held& held);
    void computeCropLocked(const Held& held);
    // Starts reading the scanned pages of the script just collected; false when there are none.
    bool startScanLocked(const Held& held);
    void readScans(const std::shared_ptr<Scan>& scan);
    // Installs page `index`'s recognised words when `scan` is still the open script's.
    bool installRecognisedLocked(const Held& held, const Scan& scan, int index, const std::vector<RecognisedWord>& words,
                                 int dpi);
    void stopScan();
    // Cancels the running collection and waits for its threads (a page each
    // at most). Called without the main lock, which the threads take.
    void stopCollection();

    // Lock order: lock_, then renderLock_; never lock_ while holding renderLock_.
    mutable std::mutex lock_;
    // Guarded by lock_:
    std::unique_ptr<LayoutPdf> document_;
    std::optional<std::filesystem::path> url_;
    std::map<std::string, std::shared_ptr<const EncodedImage>> cache_;
    std::size_t cacheBytes_ = 0;  // of the images in cache_
    std::size_t cacheByteLimit_ = defaultImageCacheBytes;
    std::vector<std::string> cacheOrder_;
    std::int64_t cacheGeneration_ = 0;
    std::vector<BoxFraction> cropFractions_;
    std::optional<BoxFraction> manualCrop_;
    std::optional<BoxFraction> automaticCrop_;
    // Rectangles and texts of a page's lines together, so the two cannot drift apart.
    std::map<int, std::vector<TextLine>> lineCache_;
    // searchKey of each page's text, taken at open; lets search skip pages
    // without asking poppler to lay them out again.
    std::vector<std::optional<std::string>> searchTexts_;
    bool dropPageNumbers_ = false;
    std::size_t wordsBudget_ = LayoutPdf::defaultWordsBudget;
    std::int64_t documentGeneration_ = 0;
    // Every page's lines are in lineCache_; until then no crop is computed,
    // since that would lay out every page left under the lock.
    bool linesComplete_ = true;
    // The collection behind the open script, while it runs or until the next open or close.
    std::shared_ptr<Collection> collection_;
    std::shared_ptr<Scan> scan_;
    RecognitionOptions recognition_;
    std::function<void(const ScanStatus&)> onScanProgress_;
    std::atomic<std::int64_t> recognitionsRun_{0};
    std::function<void(std::int64_t)> onLinesCollected_;
    int collectAtOnceUpTo_ = collectAtOnceUpTo;  // lowered by tests, through DocumentStoreAccess
    // Never written anywhere; wiped when the document goes.
    std::string password_;

    mutable std::mutex renderLock_;
    // Guarded by renderLock_:
    std::unique_ptr<RenderPdf> renderPdf_;

    // Set by tests only, through DocumentStoreAccess: runs after a page is
    // drawn and encoded, before the image is stored.
    std::function<void()> afterDrawHook_;
};

}  // namespace tallowmark
