#pragma once

// The words of a scanned page, whose PDF holds a picture and no text. The page
// is drawn grey, cleaned and straightened with Leptonica and read by Tesseract
// with the language data installed on this machine; nothing is fetched. Word
// boxes come back in the pixels of the image as it was handed in, so a caller
// that drew the page at d dpi has points as pixels * 72 / d.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/pdf_bytes.hpp"

typedef struct _PopplerPage PopplerPage;

namespace tallowmark {

// A language as Tesseract names its data file: letters, digits, '_' and '-'
// only, so a name never reaches outside the data folder.
bool validLanguageName(const std::string& name);
// "eng+fin" -> {"eng", "fin"}; every part kept, empty ones included.
std::vector<std::string> splitLanguages(const std::string& languages);

struct RecognisedWord {
    std::string text;
    double x = 0, y = 0, w = 0, h = 0;  // pixels of the image handed to recognise, from its top-left, y down
    int confidence = 0;                 // 0..100
    int line = 0;                       // the word's line, counted from 0 in reading order
};

// An 8-bit grey picture: 0 black to 255 white, rows top to bottom, `stride`
// bytes apart.
struct GreyImage {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> bytes;

    // Sides above zero and bytes for every row.
    bool valid() const;
};

// Neither side of an image to recognise may pass this: at 12000 x 12000
// reading one page takes some 650 MB and five seconds, growing with the area.
inline constexpr int maxRecognitionSide = 12000;
// Below this the letters are too few pixels to read; a page that fits the
// size limit only below it is refused.
inline constexpr int minRecognitionDpi = 50;
// Above this nothing reads better, only slower.
inline constexpr int maxRecognitionDpi = 1200;

struct GreyPage {
    GreyImage image;
    int dpi = 0;              // what the page was drawn at: a pixel is 72 / dpi points
    bool dpiLowered = false;  // the dpi asked would have made a side longer than maxRecognitionSide
};

// What decides whether a page is read by recognition: its text layer and the
// pictures on it.
struct PageTextCounts {
    std::size_t characters = 0;  // characters in the text layer, white space not counted
    double imageCover = 0;       // fraction of the page the pictures cover, 0..1, overlaps counted once
};

// The pages of one PDF as recognition draws them, through a poppler document
// of its own: a worker opens one and draws page after page of it. Not for two
// threads at once.
class ScannedPages {
public:
    // None with the reason, an English sentence, in `why`. `password` (empty:
    // none) opens an encrypted file.
    static std::unique_ptr<ScannedPages> open(const PdfBytes& pdf, const std::string& password = {},
                                              std::string* why = nullptr);
    ~ScannedPages();
    ScannedPages(const ScannedPages&) = delete;
    ScannedPages& operator=(const ScannedPages&) = delete;

    int pageCount() const;
    // What decides whether page `index` is read (see needsRecognition); none for no such page.
    std::optional<PageTextCounts> counts(int index) const;
    // Page `index` (0-based, rotation applied, crop box) grey on white at
    // `dpi`, or at the highest whole dpi the size limit allows. None with the
    // reason in `why`.
    std::optional<GreyPage> draw(int index, int dpi, std::string* why = nullptr) const;

private:
    struct Document;
    explicit ScannedPages(std::unique_ptr<Document> document);
    std::unique_ptr<Document> document_;
};

// One page drawn as ScannedPages::draw does, the document opened for it alone.
std::optional<GreyPage> drawPageGrey(const PdfBytes& pdf, int index, int dpi, const std::string& password = {},
                                     std::string* why = nullptr);

struct Recognition {
    std::vector<RecognisedWord> words;
    // How far the text lines stood turned from level, degrees, clockwise
    // positive, undone before reading; 0 when no turn was sure enough to undo.
    double skewDegrees = 0;
    // Why the page was not read, an English sentence; the words are then empty.
    std::optional<std::string> problem;
    bool cancelled = false;
};

// One Tesseract engine with its languages loaded. Loading takes a few tenths
// of a second and reading a page about a second: make and use it off the main
// thread. Not for two threads at once; give each worker its own.
class TextRecognizer {
public:
    // `languages` as Tesseract names them, several joined by '+' ("eng",
    // "eng+fin"); `dataFolder` the folder of the *.traineddata files, when
    // not the one Tesseract would use (see dataFolder()).
    explicit TextRecognizer(const std::string& languages = "eng",
                            const std::optional<std::filesystem::path>& dataFolder = std::nullopt);
    ~TextRecognizer();
    TextRecognizer(const TextRecognizer&) = delete;
    TextRecognizer& operator=(const TextRecognizer&) = delete;

    // The folder Tesseract reads language data from: `given` when there is
    // one, otherwise TESSDATA_PREFIX, otherwise the library's own.
    static std::filesystem::path dataFolder(const std::optional<std::filesystem::path>& given = std::nullopt);
    // The languages with data in that folder, sorted; "osd" (page orientation) is no language.
    static std::vector<std::string> installedLanguages(
        const std::optional<std::filesystem::path>& given = std::nullopt);
    // Tesseract's version: recognised words stay valid while it does not change.
    static std::string engineVersion();

    // Why this recognizer cannot read anything, an English sentence; none when it can.
    const std::optional<std::string>& problem() const { return problem_; }

    // Reads the words of `image`, a page drawn or scanned at `dpi`. `cancel`,
    // when given and set, stops the reading between words; a page is given up
    // after timeLimitSeconds.
    Recognition recognise(const GreyImage& image, int dpi, const std::atomic<bool>* cancel = nullptr);

    static constexpr int timeLimitSeconds = 120;

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
    std::optional<std::string> problem_;
};

// A page needs recognising when it has a picture and no text layer, or a
// text layer of a few characters (a scanner's page number or stamp) while a
// picture covers most of it. A page of no picture and no text is blank or
// drawn: there is nothing scanned to read.
inline constexpr std::size_t fewTextCharacters = 20;
inline constexpr double mostOfPage = 0.6;
bool needsRecognition(const PageTextCounts& counts);

// The counts of a poppler page: its text, and the image areas it maps (at
// most maxCountedImages of them; a page with more counts its first).
inline constexpr int maxCountedImages = 64;
PageTextCounts pageTextCounts(PopplerPage* page);
inline bool pageNeedsRecognition(PopplerPage* page) { return needsRecognition(pageTextCounts(page)); }

}  // namespace tallowmark
