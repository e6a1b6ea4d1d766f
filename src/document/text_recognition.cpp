#include "document/text_recognition.hpp"

#include <cairo.h>
#include <dlfcn.h>
#include <leptonica/allheaders.h>
#include <poppler.h>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <system_error>

namespace tallowmark {

namespace {

// Where Debian's libtesseract 5 looks when neither the caller nor
// TESSDATA_PREFIX names a folder (its compiled-in prefix + "/tessdata").
// Passed to Tesseract explicitly, so the folder listed is the folder read.
constexpr const char* systemDataFolder = "/usr/share/tesseract-ocr/5/tessdata";

// A band of the page drawn at a time, in pixels: an A4 page at 300 dpi is one
// band, a page at the size limit many, so drawing never holds more than this
// much colour at once (4 bytes a pixel) beside the grey page.
constexpr std::size_t drawBandPixels = std::size_t(1) << 24;

// Leptonica's own thresholds for pixDeskew: a smaller slant is not worth the
// resampling, a less sure one is more likely wrong than right.
constexpr float minDeskewDegrees = 0.1f;
constexpr float minSkewConfidence = 3.0f;

// The recogniser reads a wide gap between a name and its speech, or a fleck,
// as a dash or an underscore it is unsure of. A mark alone below this
// confidence is taken for that; a real dash or ellipsis reads surer.
constexpr int leastMarkConfidence = 60;

bool hasLetterOrDigit(const std::string& text) {
    for (const char* p = text.c_str(); *p; p = g_utf8_next_char(p))
        if (g_unichar_isalnum(g_utf8_get_char(p))) return true;
    return false;
}

struct PixDeleter {
    void operator()(PIX* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

template <class T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

// Debian names a language's package after it, "_" written "-".
std::string packageOf(std::string language) {
    std::transform(language.begin(), language.end(), language.begin(), [](char c) {
        return c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return "tesseract-ocr-" + language;
}

// Why `languages` cannot be loaded from `folder`; none when every one has its data there.
std::optional<std::string> languageProblem(const std::string& languages, const std::filesystem::path& folder) {
    std::vector<std::string> missing;
    for (const std::string& name : splitLanguages(languages)) {
        if (!validLanguageName(name))
            return "\"" + languages + "\" is not a language list: give names such as eng, or eng+fin.";
        std::error_code error;
        if (!std::filesystem::is_regular_file(folder / (name + ".traineddata"), error) &&
            std::find(missing.begin(), missing.end(), name) == missing.end())
            missing.push_back(name);
    }
    if (missing.empty()) return std::nullopt;
    const bool several = missing.size() > 1;
    std::string text = "The language data for " + listed(missing) + (several ? " are" : " is");
    if (folder != systemDataFolder) return text + " not in " + folder.string() + ".";
    std::vector<std::string> packages;
    for (const std::string& name : missing) packages.push_back(packageOf(name));
    return text + " not installed (package" + (several ? "s " : " ") + listed(packages) + ").";
}

// Leptonica reports through stderr; only its errors are worth anyone's eyes.
void quietLeptonica() {
    static std::once_flag once;
    std::call_once(once, [] { setMsgSeverity(L_SEVERITY_ERROR); });
}

PixPtr pixFromGrey(const GreyImage& image) {
    PixPtr pix(pixCreate(image.width, image.height, 8));
    if (!pix) return nullptr;
    l_uint32* data = pixGetData(pix.get());
    const int wordsPerLine = pixGetWpl(pix.get());
    for (int y = 0; y < image.height; ++y) {
        l_uint32* line = data + static_cast<std::size_t>(y) * wordsPerLine;
        const std::uint8_t* row = image.bytes.data() + static_cast<std::size_t>(y) * image.stride;
        for (int x = 0; x < image.width; ++x) SET_DATA_BYTE(line, x, row[x]);
    }
    return pix;
}

// An even background: a scan's shading and yellowed paper gone. A
// picture under 5 of Leptonica's 10 x 15 tiles a side has too little
// background to measure; it is read as it is.
PixPtr evened(PIX* grey) {
    if (pixGetWidth(grey) < 50 || pixGetHeight(grey) < 75) return PixPtr(pixClone(grey));
    PixPtr even(pixBackgroundNormSimple(grey, nullptr, nullptr));
    return even ? std::move(even) : PixPtr(pixClone(grey));
}

// A scanner's grain smoothed away, strokes kept: the median of each 3 x 3.
PixPtr smoothed(PIX* grey) {
    PixPtr smooth(pixMedianFilter(grey, 3, 3));
    return smooth ? std::move(smooth) : PixPtr(pixClone(grey));
}

// How far the text lines are turned from level, degrees, clockwise positive;
// 0 when no turn is sure enough to undo. Measured before smoothing, which
// blurs the line edges the measure looks for.
float turnOf(PIX* grey) {
    PixPtr binary(pixThresholdToBinary(grey, 128));
    float correction = 0, confidence = 0;
    if (!binary || pixFindSkew(binary.get(), &correction, &confidence) != 0) return 0;
    // Leptonica gives the turn that levels the lines: the opposite.
    return std::abs(correction) >= minDeskewDegrees && confidence >= minSkewConfidence ? -correction : 0;
}

// Debian builds Tesseract with OpenMP, which spreads a page over more threads
// than cores, each spinning while it waits: on a machine with other work (the
// show's own, another page) a page then reads six to eight times slower than
// on one thread. With dynamic threads OpenMP uses only the cores the load
// leaves free. Looked up rather than linked, so a build without OpenMP needs
// nothing; the setting is the calling thread's.
void spareTheBusyCores() {
    using SetDynamic = void (*)(int);
    static const auto setDynamic = reinterpret_cast<SetDynamic>(dlsym(RTLD_DEFAULT, "omp_set_dynamic"));
    if (setDynamic) setDynamic(1);
}

struct CancelFlag {
    const std::atomic<bool>* flag;
    static bool check(void* self, int) {
        const auto* flag = static_cast<CancelFlag*>(self)->flag;
        return flag && flag->load(std::memory_order_relaxed);
    }
};

}  // namespace

bool validLanguageName(const std::string& name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

std::vector<std::string> splitLanguages(const std::string& languages) {
    std::vector<std::string> names;
    for (std::size_t start = 0;;) {
        const std::size_t plus = languages.find('+', start);
        names.push_back(languages.substr(start, plus == std::string::npos ? std::string::npos : plus - start));
        if (plus == std::string::npos) return names;
        start = plus + 1;
    }
}

bool GreyImage::valid() const {
    return width > 0 && height > 0 && stride >= width &&
           bytes.size() >= static_cast<std::size_t>(stride) * static_cast<std::size_t>(height - 1) +
                               static_cast<std::size_t>(width);
}

namespace {

std::optional<GreyPage> drawPopplerPage(PopplerPage* page, int index, int dpi, std::string* why) {
    const auto fail = [why](const std::string& text) -> std::optional<GreyPage> {
        if (why) *why = text;
        return std::nullopt;
    };
    if (dpi < minRecognitionDpi || dpi > maxRecognitionDpi)
        return fail("A page is drawn for reading at " + std::to_string(minRecognitionDpi) + " to " +
                    std::to_string(maxRecognitionDpi) + " dpi, not " + std::to_string(dpi) + ".");
    double pageWidth = 0, pageHeight = 0;
    if (page) poppler_page_get_size(page, &pageWidth, &pageHeight);
    if (!(pageWidth > 0 && pageHeight > 0 && std::isfinite(pageWidth) && std::isfinite(pageHeight)))
        return fail("Page " + std::to_string(index + 1) + " has no size.");

    GreyPage drawn;
    const double longest = std::max(pageWidth, pageHeight);
    drawn.dpi = dpi;
    if (longest * dpi / 72 > maxRecognitionSide) {
        drawn.dpi = static_cast<int>(std::floor(maxRecognitionSide * 72.0 / longest));
        drawn.dpiLowered = true;
        if (drawn.dpi < minRecognitionDpi)
            return fail("Page " + std::to_string(index + 1) + " is too large to read: at " +
                        std::to_string(minRecognitionDpi) + " dpi it would be more than " +
                        std::to_string(maxRecognitionSide) + " pixels across.");
    }
    const double scale = drawn.dpi / 72.0;
    GreyImage& image = drawn.image;
    image.width = std::clamp(static_cast<int>(std::lround(pageWidth * scale)), 1, maxRecognitionSide);
    image.height = std::clamp(static_cast<int>(std::lround(pageHeight * scale)), 1, maxRecognitionSide);
    image.stride = image.width;
    image.bytes.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));

    const int band = static_cast<int>(std::clamp<std::size_t>(drawBandPixels / static_cast<std::size_t>(image.width), 1,
                                                              static_cast<std::size_t>(image.height)));
    for (int top = 0; top < image.height; top += band) {
        const int rows = std::min(band, image.height - top);
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, rows);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_translate(cr, 0, -top);
        cairo_scale(cr, scale, scale);
        poppler_page_render(page, cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        const bool drawnWell = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
        const unsigned char* data = drawnWell ? cairo_image_surface_get_data(surface) : nullptr;
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; data && y < rows; ++y) {
            const auto* pixel = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
            std::uint8_t* out = image.bytes.data() + static_cast<std::size_t>(top + y) * image.stride;
            // The luma of Rec. 601, which scanners' grey modes use too.
            for (int x = 0; x < image.width; ++x) {
                const std::uint32_t p = pixel[x];
                out[x] = static_cast<std::uint8_t>(
                    (((p >> 16) & 0xff) * 77 + ((p >> 8) & 0xff) * 150 + (p & 0xff) * 29) >> 8);
            }
        }
        cairo_surface_destroy(surface);
        if (!data) return fail("Page " + std::to_string(index + 1) + " could not be drawn: out of memory.");
    }
    return drawn;
}

}  // namespace

struct ScannedPages::Document {
    std::unique_ptr<PopplerDocument, GObjectDeleter<PopplerDocument>> poppler;
};

ScannedPages::ScannedPages(std::unique_ptr<Document> document) : document_(std::move(document)) {}
ScannedPages::~ScannedPages() = default;

std::unique_ptr<ScannedPages> ScannedPages::open(const PdfBytes& pdf, const std::string& password, std::string* why) {
    const auto fail = [why](const std::string& text) -> std::unique_ptr<ScannedPages> {
        if (why) *why = text;
        return nullptr;
    };
    if (!pdf) return fail("The PDF could not be read.");
    GError* error = nullptr;
    auto document = std::make_unique<Document>();
    if (password.empty()) {
        document->poppler.reset(poppler_document_new_from_bytes(pdf.get(), nullptr, &error));
    } else if (const gsize size = g_bytes_get_size(pdf.get()); size > 0) {
        // Through a stream, as RenderPdf::open does: poppler-glib 22.12 crashes
        // in new_from_bytes when a password is given and its first try fails.
        GInputStream* stream = g_memory_input_stream_new_from_bytes(pdf.get());
        document->poppler.reset(
            poppler_document_new_from_stream(stream, static_cast<goffset>(size), password.c_str(), nullptr, &error));
        g_object_unref(stream);
    }
    if (!document->poppler) {
        const bool locked = g_error_matches(error, POPPLER_ERROR, POPPLER_ERROR_ENCRYPTED);
        g_clear_error(&error);
        return fail(locked ? "The PDF is locked with a password." : "The PDF could not be read.");
    }
    return std::unique_ptr<ScannedPages>(new ScannedPages(std::move(document)));
}

int ScannedPages::pageCount() const { return poppler_document_get_n_pages(document_->poppler.get()); }

std::optional<PageTextCounts> ScannedPages::counts(int index) const {
    if (index < 0 || index >= pageCount()) return std::nullopt;
    std::unique_ptr<PopplerPage, GObjectDeleter<PopplerPage>> page(
        poppler_document_get_page(document_->poppler.get(), index));
    if (!page) return std::nullopt;
    return pageTextCounts(page.get());
}

std::optional<GreyPage> ScannedPages::draw(int index, int dpi, std::string* why) const {
    if (index < 0 || index >= pageCount()) {
        if (why) *why = "The PDF has no page " + std::to_string(index + 1) + ".";
        return std::nullopt;
    }
    std::unique_ptr<PopplerPage, GObjectDeleter<PopplerPage>> page(
        poppler_document_get_page(document_->poppler.get(), index));
    return drawPopplerPage(page.get(), index, dpi, why);
}

std::optional<GreyPage> drawPageGrey(const PdfBytes& pdf, int index, int dpi, const std::string& password,
                                     std::string* why) {
    const std::unique_ptr<ScannedPages> pages = ScannedPages::open(pdf, password, why);
    return pages ? pages->draw(index, dpi, why) : std::nullopt;
}

struct TextRecognizer::Engine {
    tesseract::TessBaseAPI api;
};

TextRecognizer::TextRecognizer(const std::string& languages, const std::optional<std::filesystem::path>& folder) {
    quietLeptonica();
    const std::filesystem::path data = dataFolder(folder);
    if ((problem_ = languageProblem(languages, data))) return;
    engine_ = std::make_unique<Engine>();
    // Tesseract talks on stderr unless told where else to; nobody reads it there.
    const std::vector<std::string> names{"debug_file"}, values{"/dev/null"};
    if (engine_->api.Init(data.c_str(), languages.c_str(), tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values,
                          false) != 0) {
        engine_.reset();
        problem_ = "The language data for " + languages + " in " + data.string() + " could not be loaded.";
    }
}

TextRecognizer::~TextRecognizer() {
    if (engine_) engine_->api.End();
}

std::filesystem::path TextRecognizer::dataFolder(const std::optional<std::filesystem::path>& given) {
    if (given) return *given;
    const char* prefix = std::getenv("TESSDATA_PREFIX");
    if (prefix && *prefix) return prefix;
    return systemDataFolder;
}

std::vector<std::string> TextRecognizer::installedLanguages(const std::optional<std::filesystem::path>& given) {
    std::vector<std::string> languages;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dataFolder(given), error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::path& path = it->path();
        const std::string name = path.stem().string();
        if (path.extension() == ".traineddata" && name != "osd" && validLanguageName(name) &&
            it->is_regular_file(error))
            languages.push_back(name);
    }
    std::sort(languages.begin(), languages.end());
    return languages;
}

std::string TextRecognizer::engineVersion() { return tesseract::TessBaseAPI::Version(); }

Recognition TextRecognizer::recognise(const GreyImage& image, int dpi, const std::atomic<bool>* cancel) {
    Recognition result;
    const auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    if (problem_ || !engine_) {
        result.problem = problem_.value_or("The text recognizer is not ready.");
        return result;
    }
    if (!image.valid()) {
        result.problem = "The page image is empty or cut short.";
        return result;
    }
    if (image.width > maxRecognitionSide || image.height > maxRecognitionSide) {
        result.problem = "The page image is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                         " pixels; at most " + std::to_string(maxRecognitionSide) + " pixels a side are read.";
        return result;
    }
    if (dpi < minRecognitionDpi || dpi > maxRecognitionDpi) {
        result.problem = "A page image of " + std::to_string(dpi) + " dpi is not read; " +
                         std::to_string(minRecognitionDpi) + " to " + std::to_string(maxRecognitionDpi) + " dpi are.";
        return result;
    }
    if ((result.cancelled = cancelled())) return result;

    PixPtr grey = pixFromGrey(image);
    PixPtr even = grey ? evened(grey.get()) : nullptr;
    grey.reset();
    if (!even) {
        result.problem = "The page image could not be prepared for reading: out of memory.";
        return result;
    }
    const float turn = turnOf(even.get());
    // Embedded in a canvas big enough that the turn cuts off no corner, centre on centre.
    PixPtr level(turn == 0 ? pixClone(even.get())
                           : pixRotate(even.get(), -turn * std::numbers::pi_v<float> / 180, L_ROTATE_AREA_MAP,
                                       L_BRING_IN_WHITE, image.width, image.height));
    even.reset();
    PixPtr clean = level ? smoothed(level.get()) : nullptr;
    level.reset();
    if (!clean) {
        result.problem = "The page image could not be levelled: out of memory.";
        return result;
    }
    result.skewDegrees = turn;
    if ((result.cancelled = cancelled())) return result;

    spareTheBusyCores();
    tesseract::TessBaseAPI& api = engine_->api;
    api.SetImage(clean.get());
    api.SetSourceResolution(dpi);
    tesseract::ETEXT_DESC monitor;
    CancelFlag flag{cancel};
    monitor.cancel = &CancelFlag::check;
    monitor.cancel_this = &flag;
    monitor.set_deadline_msecs(timeLimitSeconds * 1000);
    const int status = api.Recognize(&monitor);
    if (status != 0) {
        result.cancelled = cancelled();
        if (!result.cancelled)
            result.problem = monitor.deadline_exceeded()
                                 ? "Reading the page took longer than " + std::to_string(timeLimitSeconds) +
                                       " seconds and was given up."
                                 : std::string("The page could not be read.");
        api.Clear();
        return result;
    }

    // Boxes are found on the levelled canvas; each word's centre is turned
    // back to where it stands on the image handed in. Its size is kept: the
    // word is as long there, only slanted.
    const double radians = static_cast<double>(turn) * std::numbers::pi / 180;
    const double cosTurn = std::cos(radians), sinTurn = std::sin(radians);
    const double canvasCentreX = pixGetWidth(clean.get()) / 2.0, canvasCentreY = pixGetHeight(clean.get()) / 2.0;
    const double imageCentreX = image.width / 2.0, imageCentreY = image.height / 2.0;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    int line = -1;
    for (bool more = it && !it->Empty(tesseract::RIL_WORD); more; more = it->Next(tesseract::RIL_WORD)) {
        if (it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) ++line;
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!text || !text[0] || !g_utf8_validate(text.get(), -1, nullptr) ||
            !it->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
            continue;
        RecognisedWord word;
        word.text = text.get();
        word.confidence = std::clamp(static_cast<int>(std::lround(it->Confidence(tesseract::RIL_WORD))), 0, 100);
        if (word.confidence < leastMarkConfidence && !hasLetterOrDigit(word.text)) continue;
        word.w = right - left;
        word.h = bottom - top;
        const double dx = (left + right) / 2.0 - canvasCentreX, dy = (top + bottom) / 2.0 - canvasCentreY;
        word.x = imageCentreX + dx * cosTurn - dy * sinTurn - word.w / 2;
        word.y = imageCentreY + dx * sinTurn + dy * cosTurn - word.h / 2;
        word.line = std::max(line, 0);
        result.words.push_back(std::move(word));
    }
    it.reset();
    api.Clear();
    return result;
}

bool needsRecognition(const PageTextCounts& counts) {
    if (counts.characters == 0) return counts.imageCover > 0;
    return counts.characters < fewTextCharacters && counts.imageCover >= mostOfPage;
}

namespace {

// The area the rectangles cover together, overlaps once: over the grid their
// edges make, a cell counts when a rectangle holds it.
double unionArea(const std::vector<PopplerRectangle>& boxes) {
    std::vector<double> xs, ys;
    for (const PopplerRectangle& b : boxes) {
        xs.insert(xs.end(), {b.x1, b.x2});
        ys.insert(ys.end(), {b.y1, b.y2});
    }
    std::sort(xs.begin(), xs.end());
    std::sort(ys.begin(), ys.end());
    double area = 0;
    for (std::size_t i = 0; i + 1 < xs.size(); ++i)
        for (std::size_t j = 0; j + 1 < ys.size(); ++j) {
            const double cx = (xs[i] + xs[i + 1]) / 2, cy = (ys[j] + ys[j + 1]) / 2;
            if (std::any_of(boxes.begin(), boxes.end(), [&](const PopplerRectangle& b) {
                    return b.x1 <= cx && cx <= b.x2 && b.y1 <= cy && cy <= b.y2;
                }))
                area += (xs[i + 1] - xs[i]) * (ys[j + 1] - ys[j]);
        }
    return area;
}

}  // namespace

PageTextCounts pageTextCounts(PopplerPage* page) {
    PageTextCounts counts;
    if (!page) return counts;
    if (char* text = poppler_page_get_text(page)) {
        for (const char* p = text; *p; p = g_utf8_next_char(p))
            if (!g_unichar_isspace(g_utf8_get_char(p))) ++counts.characters;
        g_free(text);
    }
    double width = 0, height = 0;
    poppler_page_get_size(page, &width, &height);
    if (!(width > 0 && height > 0)) return counts;
    // poppler places the areas of a page turned by its /Rotate off the page,
    // unturned and moved, so they are measured where they are, not cut to
    // the page: only their size counts.
    std::vector<PopplerRectangle> boxes;
    GList* mapping = poppler_page_get_image_mapping(page);
    for (GList* at = mapping; at && boxes.size() < static_cast<std::size_t>(maxCountedImages); at = at->next) {
        const PopplerRectangle& area = static_cast<PopplerImageMapping*>(at->data)->area;
        PopplerRectangle box{std::min(area.x1, area.x2), std::min(area.y1, area.y2), std::max(area.x1, area.x2),
                             std::max(area.y1, area.y2)};
        if (std::isfinite(box.x1) && std::isfinite(box.y1) && std::isfinite(box.x2) && std::isfinite(box.y2) &&
            box.x2 > box.x1 && box.y2 > box.y1)
            boxes.push_back(box);
    }
    poppler_page_free_image_mapping(mapping);
    counts.imageCover = std::clamp(unionArea(boxes) / (width * height), 0.0, 1.0);
    return counts;
}

}  // namespace tallowmark
