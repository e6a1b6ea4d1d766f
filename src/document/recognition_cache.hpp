#pragma once

// The recognised words of scanned pages, kept on disk so that a script is
// read once and not at every open: reading takes about a second a page. An
// entry belongs to the PDF's content (not its name or place), the page, and
// the languages, engine and language data that read it; a change to any of
// them makes the entry miss, and the page is read again.
//
// The cache is shared by every thread and process of the program: entries are
// written whole (atomically), a damaged or foreign file is a miss, and the
// whole cache is held under a size by removing the folders of the PDFs least
// recently used.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "document/pdf_bytes.hpp"
#include "document/text_recognition.hpp"

namespace tallowmark {

struct RecognitionKey {
    std::string pdfHash;    // contentHash of the PDF: 64 lowercase hex digits
    int page = 0;           // 0-based
    std::string languages;  // as the recognizer was given them ("eng+fin")
    std::string engine;     // TextRecognizer::engineVersion()
    std::string dataStamp;  // languageDataStamp of the data the recognizer read; empty never matches
};

// SHA-256 of the PDF's bytes in lowercase hex; empty for no bytes. Some tenths
// of a second for a large file: not on the main thread.
std::string contentHash(const PdfBytes& pdf);

// The size and modification time of each language's .traineddata in
// `dataFolder`, so that an updated language package makes its entries miss.
// Empty (a stamp no entry is stored or found under) when `languages` names
// none, is not a list of language names, or one's file is missing.
std::string languageDataStamp(const std::filesystem::path& dataFolder, const std::string& languages);

struct CachedPage {
    int dpi = 0;    // what the page was drawn at
    int width = 0;  // the image read, pixels
    int height = 0;
    std::vector<RecognisedWord> words;  // boxes in the image's pixels
    double skewDegrees = 0;
};

class RecognitionCache {
public:
    // What one page may hold; a file past them is damaged or not ours.
    static constexpr std::size_t maxWords = 20000;
    static constexpr std::size_t maxWordBytes = 200;
    // Room for maxWords words of maxWordBytes each, written with escapes.
    static constexpr std::size_t maxEntryBytes = 32u << 20;
    static constexpr std::uintmax_t defaultMaxBytes = 256u << 20;

    // The user's cache folder: $XDG_CACHE_HOME/TALLOWMARK/ocr.
    RecognitionCache();
    explicit RecognitionCache(std::filesystem::path root, std::uintmax_t maxBytes = defaultMaxBytes);

    static std::filesystem::path defaultRoot();
    const std::filesystem::path& root() const { return root_; }

    // The page stored under exactly this key; none for a miss, or for a file
    // that is damaged, past the bounds, not a regular file or reached through
    // a link. A hit marks the PDF's folder as used now.
    std::optional<CachedPage> load(const RecognitionKey& key) const;

    // Writes the page under the key, then prunes the cache when it has grown
    // past its size. A word box that stands past the image's edge (a turned
    // page's word at the border) is stored cut to the image. False when
    // nothing was stored: a key without a hash or data stamp, a page past the
    // bounds load accepts, or a failed write.
    bool store(const RecognitionKey& key, const CachedPage& page) const;

    // <root>/<pdfHash>/p<page>-<short hash of the rest of the key>.json; empty for a key that names no entry.
    std::filesystem::path entryPath(const RecognitionKey& key) const;

private:
    // Removes the folders of the least recently used PDFs, never `kept`, until
    // the cache is under three quarters of maxBytes_.
    void prune(const std::string& kept) const;

    std::filesystem::path root_;
    std::uintmax_t maxBytes_;
};

}  // namespace tallowmark
