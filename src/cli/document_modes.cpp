#include "cli/document_modes.hpp"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <latch>
#include <map>
#include <set>
#include <thread>

#include "core/json_helpers.hpp"
#include "document/document_store.hpp"
#include "settings/settings_store.hpp"

namespace tallowmark {

namespace {

using Line = ViewFraction;

// A mode that walks the pages has nothing to report on a script without any;
// printing empty statistics would read as a pass.
constexpr const char* noPages = "virhe: PDF:ssa ei ole sivuja\n";
// A query waiting longer than one frame at 30 Hz is a visible stall.
constexpr double stallMs = 33;
// Below this a fixed padding around a cue box would cover the neighbouring word.
constexpr double paddingPx = 8.5;

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double middleOf(const Line& line) { return line.y + line.height / 2; }

// Median distance between neighbouring line middles, in fractions of the
// page; lines side by side on one baseline (a name and its speech, the halves
// of a spread) are no step down.
double lineSpacing(const std::vector<Line>& lines) {
    std::vector<double> heights, steps;
    for (const Line& line : lines) heights.push_back(line.height);
    const double sideBySide = 0.3 * median(heights);
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (const double step = middleOf(lines[i]) - middleOf(lines[i - 1]); step >= sideBySide) steps.push_back(step);
    return median(steps);
}

// The lines below line `i` in its own column (overlapping it across), nearest
// first: where a drag over one, two or three line gaps down ends.
std::vector<std::size_t> linesBelowInColumn(const std::vector<Line>& lines, std::size_t i, double spacing) {
    std::vector<std::size_t> below;
    for (std::size_t k = i + 1; k < lines.size(); ++k) {
        const bool across = lines[k].x < lines[i].x + lines[i].width && lines[i].x < lines[k].x + lines[k].width;
        if (across && middleOf(lines[k]) - middleOf(lines[i]) >= 0.5 * spacing) below.push_back(k);
    }
    return below;
}

std::optional<std::vector<double>> parseNumbers(const std::string& text) {
    std::vector<double> numbers;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        char* end = nullptr;
        const double value = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0') return std::nullopt;
        numbers.push_back(value);
        at = comma + 1;
    }
    return numbers;
}

}  // namespace

std::optional<DocumentStore::Info> openForMode(DocumentStore& store, const ScriptOperand& pdf, std::FILE* out,
                                               const char* unreadable) {
    if (pdf.readScans) {
        DocumentStore::RecognitionOptions reading;
        reading.enabled = true;
        reading.languages = SettingsStore(false).settings().ocrLanguages;
        store.setRecognition(std::move(reading));
        // A page takes a second or more to read: the wait is shown, apart from the mode's own output.
        store.setOnScanProgress([](const DocumentStore::ScanStatus& status) {
            if (status.running) std::fprintf(stderr, "luetaan skannattuja sivuja: %d/%d\n", status.done, status.total);
        });
    }
    const DocumentStore::OpenResult opened = store.openScript(pdf.path, pdf.password);
    if (opened.info && pdf.readScans) {
        store.waitForScans();
        if (const std::optional<std::string> problem = store.scanStatus().problem) {
            std::fprintf(out, "virhe: skannattuja sivuja ei voi lukea: %s\n", problem->c_str());
            return std::nullopt;
        }
    }
    if (opened.info) return opened.info;
    if (opened.problem != PdfOpenError::locked) std::fputs(unreadable, out);
    // poppler answers the same for no password and a wrong one; which it was is ours to know.
    else if (pdf.password.empty()) std::fputs("virhe: PDF on suojattu salasanalla - anna se valitsimella --password\n", out);
    else std::fputs("virhe: salasana ei kelpaa\n", out);
    return std::nullopt;
}

int pageLinesMode(const ScriptOperand& pdf, int page, std::FILE* out) {
    DocumentStore store;
    const std::optional<DocumentStore::Info> info = openForMode(store, pdf, out);
    if (!info) return 1;
    if (page > info->pageCount) {
        std::fprintf(out, "virhe: sivua %d ei ole (%d sivua)\n", page, info->pageCount);
        return 1;
    }
    const std::vector<DocumentStore::LineText> lines = store.pageLineTexts(page - 1);
    std::fprintf(out, "sivu %d: %zu rivia\n", page, lines.size());
    for (const auto& [f, text] : lines)
        std::fprintf(out, "x %.4f  y %.4f  l %.4f  k %.4f  %s\n", f.x, f.y, f.width, f.height, text.c_str());
    return 0;
}

int searchMode(const ScriptOperand& pdf, const std::string& text, std::FILE* out) {
    DocumentStore store;
    if (!openForMode(store, pdf, out)) return 1;
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) ||
        g_utf8_strlen(text.data(), static_cast<gssize>(text.size())) < 2) {
        std::fputs("virhe: haettavassa tekstissa pitaa olla vahintaan kaksi merkkia\n", out);
        return 1;
    }
    constexpr int hitLimit = 1000;
    const std::vector<DocumentStore::SearchHit> hits = store.search(text, hitLimit);
    std::fprintf(out, "haku \"%s\": %zu osumaa%s\n", text.c_str(), hits.size(),
                 hits.size() >= static_cast<std::size_t>(hitLimit) ? " (raja)" : "");
    for (const DocumentStore::SearchHit& hit : hits)
        std::fprintf(out, "sivu %d  x %.4f  y %.4f  l %.4f  k %.4f  %s\n", hit.page + 1, hit.rect.x, hit.rect.y,
                     hit.rect.width, hit.rect.height, hit.snippet.c_str());
    return 0;
}

int maxTextDataMode(const ScriptOperand& pdf, const std::optional<std::string>& crop, std::FILE* out) {
    DocumentStore store;
    std::optional<DocumentStore::Info> info = openForMode(store, pdf, out);
    if (!info) return 1;
    if (crop)
        if (const auto numbers = parseNumbers(*crop))
            if (const std::optional<PageCrop> fraction = cropFromList(*numbers)) info = store.setCrop(fraction);
    Json data = {{"aspects", info->aspects}, {"lines", nullptr}};
    if (const auto pages = store.allPageLines()) {
        // Per page, per line: [x, y, width, height, 1 for a page number or 0].
        Json lines = Json::array();
        for (const auto& page : *pages) {
            Json onPage = Json::array();
            for (const DocumentStore::NumberedLine& line : page)
                onPage.push_back({line.rect.x, line.rect.y, line.rect.width, line.rect.height,
                                  line.pageNumber ? 1.0 : 0.0});
            lines.push_back(std::move(onPage));
        }
        data["lines"] = std::move(lines);
    }
    std::fprintf(out, "%s\n", dumpJson(data, -1).c_str());
    return 0;
}

int pageSizesMode(const ScriptOperand& pdf, std::FILE* out) {
    DocumentStore store;
    if (!openForMode(store, pdf, out)) return 1;
    const SettingsStore settings(false);
    const std::optional<DocumentStore::Info> info = store.setDropPageNumbers(settings.settings().dropPageNumbers);
    const std::vector<std::array<double, 2>> sizes = store.pageSizes();
    // Per page: displayed width and height in points with the crop applied, and their ratio.
    Json pages = Json::array();
    for (std::size_t i = 0; i < sizes.size(); ++i) pages.push_back({sizes[i][0], sizes[i][1], info->aspects[i]});
    std::fprintf(out, "%s\n", dumpJson(pages, -1).c_str());
    return 0;
}

int lockLatencyMode(const ScriptOperand& pdf, std::FILE* out) {
    DocumentStore store;
    const std::optional<DocumentStore::Info> info = openForMode(store, pdf, out);
    if (!info) return 1;
    if (info->pageCount < 1) {
        std::fputs(noPages, out);
        return 1;
    }
    constexpr int queries = 300;
    constexpr int backgroundRenders = 3;
    std::atomic<int> rendered = 0;
    auto measure = [&](const char* label, bool untilRendered) {
        std::vector<double> waits;
        for (int i = 0; i < queries || (untilRendered && rendered.load() < backgroundRenders); ++i) {
            const auto start = std::chrono::steady_clock::now();
            (void)store.pageLines(i % info->pageCount);
            waits.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(waits.begin(), waits.end());
        const std::size_t n = waits.size();
        const long stalls = std::count_if(waits.begin(), waits.end(), [](double ms) { return ms > stallMs; });
        std::fprintf(out, "%s: %zu kyselya, mediaani %.1f ms, 95 %% %.1f ms, max %.1f ms, yli 33 ms: %ld\n", label, n,
                     waits[n / 2], waits[std::min(n - 1, n * 95 / 100)], waits.back(), stalls);
    };
    measure("ilman renderointia ", false);

    // Renders at a new width each time, so none is answered from the cache.
    std::atomic<bool> stop = false;
    std::latch drawing(1);
    std::thread renderer([&] {
        drawing.count_down();
        for (int k = 0; !stop.load(); ++k) {
            (void)store.renderPage(k % info->pageCount, 1600 + k);
            rendered.fetch_add(1);
        }
    });
    drawing.wait();
    measure("renderointi taustalla", true);
    stop = true;
    renderer.join();
    return 0;
}

int snapTestMode(const ScriptOperand& pdf, std::FILE* out) {
    DocumentStore store;
    const std::optional<DocumentStore::Info> info = openForMode(store, pdf, out);
    if (!info) return 1;
    if (info->pageCount < 1) {
        std::fputs(noPages, out);
        return 1;
    }
    const std::vector<std::array<double, 2>> sizes = store.pageSizes();
    std::vector<double> tapHeights, gapsPx, dragHeights;
    int midWordDrags = 0, wholeWordDrags = 0, lineDrags = 0, caughtNeighbour = 0;
    // Deliberate drags over 1, 2 and 3 line gaps: how many, and how many selected exactly those lines.
    std::map<int, std::pair<int, int>> deliberate;

    for (int page = 0; page < info->pageCount; ++page) {
        const std::vector<Line> lines = store.pageLines(page);
        const double spacing = lineSpacing(lines);
        // The page is drawn about one CSS pixel per point at 100 % zoom.
        const double widthPx = sizes[page][0];
        auto select = [&](double x0, double y0, double x1, double y1) {
            return store.textSelection(page, {x0, y0}, {x1, y1}, true);
        };
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const Line& line = lines[i];
            const double y = middleOf(line);
            const auto first = select(line.x + 0.25 * line.width, y, line.x + 0.25 * line.width, y);
            const auto second = select(line.x + 0.75 * line.width, y, line.x + 0.75 * line.width, y);
            for (const auto& tap : {first, second}) {
                if (!tap) continue;
                tapHeights.push_back(tap->rect.height);
                if (tap->gapR * widthPx < 1000) gapsPx.push_back(tap->gapR * widthPx);
            }
            if (first && second && first->rect.x + first->rect.width < second->rect.x) {
                ++midWordDrags;
                const auto drag = select(first->rect.x + first->rect.width / 2, y,
                                         second->rect.x + second->rect.width / 2, y);
                if (drag && drag->text.starts_with(first->text) && drag->text.ends_with(second->text)) ++wholeWordDrags;
            }
            if (const auto drag = select(line.x + 0.1 * line.width, y, line.x + 0.9 * line.width, y)) {
                ++lineDrags;
                if (spacing > 0) dragHeights.push_back(drag->rect.height / spacing);
                if (drag->lines.size() > 1) ++caughtNeighbour;
            }
            const std::vector<std::size_t> below = linesBelowInColumn(lines, i, spacing);
            for (int gaps = 1; gaps <= 3 && static_cast<std::size_t>(gaps) <= below.size(); ++gaps) {
                const Line& target = lines[below[gaps - 1]];
                const auto drag =
                    select(line.x + 0.1 * line.width, y, target.x + 0.5 * target.width, middleOf(target));
                ++deliberate[gaps].first;
                if (drag && drag->lines.size() == static_cast<std::size_t>(gaps) + 1) ++deliberate[gaps].second;
            }
        }
    }

    auto share = [](int part, int whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
    const double tapMedian = median(tapHeights);
    const auto [tapMin, tapMax] = tapHeights.empty() ? std::pair(0.0, 0.0)
                                                     : std::pair(*std::min_element(tapHeights.begin(), tapHeights.end()),
                                                                 *std::max_element(tapHeights.begin(), tapHeights.end()));
    std::set<long long> distinct;
    for (double h : tapHeights) distinct.insert(std::llround(h * 1e5));
    std::fprintf(out, "%zu napautusta  mediaani %.5f  min %.5f  max %.5f  hajonta %.1f %%  eri korkeuksia %zu\n",
                 tapHeights.size(), tapMedian, tapMin, tapMax, tapMedian > 0 ? 100 * (tapMax - tapMin) / tapMedian : 0.0,
                 distinct.size());
    std::fprintf(out, "%d vetoa sanan keskelta sanan keskelle  kokonaisiin sanoihin osui %d (%.0f %%)\n", midWordDrags,
                 wholeWordDrags, share(wholeWordDrags, midWordDrags));
    const long narrow = std::count_if(gapsPx.begin(), gapsPx.end(), [](double g) { return g < paddingPx; });
    std::fprintf(out, "%zu sanavalia  min %.1f px  mediaani %.1f px  alle 8,5 px (kiintea ilmavaus peittaisi naapurin) %ld (%.0f %%)\n",
                 gapsPx.size(), gapsPx.empty() ? 0.0 : *std::min_element(gapsPx.begin(), gapsPx.end()), median(gapsPx),
                 narrow, share(static_cast<int>(narrow), static_cast<int>(gapsPx.size())));
    std::fprintf(out, "%d vetoa yhden rivin yli  korkeus %.2f-%.2f rivia  naapuriin tarttui %d (%.0f %%)\n", lineDrags,
                 dragHeights.empty() ? 0.0 : *std::min_element(dragHeights.begin(), dragHeights.end()),
                 dragHeights.empty() ? 0.0 : *std::max_element(dragHeights.begin(), dragHeights.end()), caughtNeighbour,
                 share(caughtNeighbour, lineDrags));
    for (int gaps = 1; gaps <= 3; ++gaps) {
        const auto [count, exact] = deliberate[gaps];
        std::fprintf(out, "tahallinen veto %d rivivalia alas -> %d vetoa, %d rivia valittu oikein (%.0f %%)\n", gaps,
                     count, exact, share(exact, count));
    }
    return 0;
}

int textBoxMode(const ScriptOperand& pdf, std::FILE* out) {
    DocumentStore store;
    const std::optional<DocumentStore::Info> info = openForMode(store, pdf, out, "PDF ei aukea\n");
    if (!info) return 1;
    if (info->pageCount < 1) {
        std::fputs(noPages, out);
        return 1;
    }
    struct Box {
        double x0 = 1, x1 = 0, y0 = 1, y1 = 0;
        double width() const { return x1 - x0; }
        double height() const { return y1 - y0; }
    };
    std::vector<Box> boxes;
    Box all;
    for (int page = 0; page < info->pageCount; ++page) {
        const std::vector<Line> lines = store.pageLines(page);
        if (lines.empty()) {
            std::fprintf(out, "ei tekstia sivulla %d\n", page + 1);
            continue;
        }
        // Lines come as fractions of the cropped page; the box is of the whole page.
        const PageCrop crop = store.pageCrop(page).value_or(PageCrop{0, 0, 1, 1});
        Box box;
        for (const Line& line : lines) {
            const PageCrop onPage = line.onPage(crop);
            box.x0 = std::min(box.x0, onPage.minX());
            box.x1 = std::max(box.x1, onPage.maxX());
            box.y0 = std::min(box.y0, onPage.minY());
            box.y1 = std::max(box.y1, onPage.maxY());
        }
        std::fprintf(out, "sivu %2d  x %.3f-%.3f  y %.3f-%.3f  ala %.1f %%\n", page + 1, box.x0, box.x1, box.y0, box.y1,
                     100 * box.width() * box.height());
        all = {std::min(all.x0, box.x0), std::max(all.x1, box.x1), std::min(all.y0, box.y0), std::max(all.y1, box.y1)};
        boxes.push_back(box);
    }
    if (boxes.empty()) return 0;
    // The page is shown fitted to its width, so cropping to a box enlarges the
    // text by the page width over the box width.
    std::vector<double> factors;
    for (const Box& box : boxes)
        if (box.width() > 0) factors.push_back(1 / box.width());
    const double unionFactor = all.width() > 0 ? 1 / all.width() : 1;
    std::fprintf(out, "\nyhdiste  x %.3f-%.3f  y %.3f-%.3f  ala %.1f %%  teksti kasvaisi %.0f %%\n", all.x0, all.x1, all.y0,
                 all.y1, 100 * all.width() * all.height(), 100 * (unionFactor - 1));
    if (!factors.empty()) {
        const auto [low, high] = std::minmax_element(factors.begin(), factors.end());
        std::fprintf(out, "sivukohtainen rajaus antaisi kertoimet %.2f-%.2f (ero %.0f %%)\n", *low, *high,
                     100 * (*high / *low - 1));
    }
    return 0;
}

}  // namespace tallowmark
