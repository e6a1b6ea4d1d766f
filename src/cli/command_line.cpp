#include "cli/command_line.hpp"

#include "cli/carry_mode.hpp"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "cli/document_modes.hpp"
#include "cli/self_checks.hpp"
#include "core/atomic_file.hpp"
#include "core/file_identity.hpp"
#include "cues/cue_sidecar.hpp"
#include "demo/demo_script_maker.hpp"
#include "document/document_store.hpp"
#include "export/export_layout.hpp"
#include "export/markup_exporter.hpp"
#include "export/script_files.hpp"
#include "settings/settings_store.hpp"
#include "update/build_info.hpp"

namespace tallowmark {

namespace {

constexpr int defaultRenderWidth = 1600;
constexpr double pageChangeBudgetMs = 100;

std::optional<long> parseInteger(const std::string& text) {
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end || text.empty()) return std::nullopt;
    return value;
}

// Width operand when present and a number; the default otherwise.
int widthOperand(const std::string* operand) {
    const std::optional<long> value = operand ? parseInteger(*operand) : std::nullopt;
    if (!value) return defaultRenderWidth;
    return static_cast<int>(std::clamp<long>(*value, INT32_MIN, INT32_MAX));
}

// The operands after the switch, when the switch occurs: none when it does not.
std::optional<std::vector<std::string>> operandsOf(const std::vector<std::string>& arguments, std::string_view name) {
    const auto at = std::find(arguments.begin(), arguments.end(), name);
    if (at == arguments.end()) return std::nullopt;
    return std::vector<std::string>(at + 1, arguments.end());
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double kilobytes(std::size_t bytes) { return bytes / 1024.0; }

// The venue self-checks, in the order they are examined. They take no operands,
// so their presence alone runs them, ahead of every mode that reads a script.
struct SelfCheck {
    std::string_view name;
    int (*run)(std::FILE* out);
};
constexpr SelfCheck selfChecks[] = {
    {"--osc-test", oscSelfCheck},
    {"--msc-test", mscSelfCheck},
    {"--resume-test", resumeSelfCheck},
    {"--titlebar-probe", titleBarSelfCheck},
    {"--export-test", exportSelfCheck},
    {"--update-probe", updateSelfCheck},
};

int renderPageMode(const std::vector<std::string>& operands, const std::string& password, std::FILE* out) {
    const ScriptOperand pdf{expandPathOperand(operands[0]), password};
    const int page = pageOperand(&operands[1]);
    const std::filesystem::path target = expandPathOperand(operands[2]);
    const int width = widthOperand(operands.size() > 3 ? &operands[3] : nullptr);

    DocumentStore store;
    const std::optional<DocumentStore::Info> info = openForMode(store, pdf, out);
    if (!info) return 1;
    const std::optional<DocumentStore::Bytes> png = store.renderPage(page - 1, width);
    if (!png) {
        std::fputs("virhe: renderointi epaonnistui\n", out);
        return 1;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(png->data()), png->size());
    if (!writeFileAtomically(target, bytes)) {
        std::fprintf(out, "virhe: tiedostoa %s ei voitu kirjoittaa\n", target.c_str());
        return 1;
    }
    std::fprintf(out, "sivu %d, kuvasuhde %.4f\n", page, info->aspects[page - 1]);
    std::fprintf(out, "kirjoitettu: %s (%.1f kB)\n", target.c_str(), kilobytes(png->size()));
    return 0;
}

int renderBenchmarkMode(const std::vector<std::string>& operands, const std::string& password, std::FILE* out) {
    const ScriptOperand pdf{expandPathOperand(operands[0]), password};
    const int width = widthOperand(operands.size() > 1 ? &operands[1] : nullptr);
    // A number of rounds asks for the measuring form: every page drawn that
    // many times from an empty cache, with the thread's CPU time beside the
    // wall time. Without one (or with anything else there, such as a switch
    // meant for another mode) the report is the plain one callers already read.
    constexpr long mostRounds = 1000;
    const std::optional<long> roundsOperand = operands.size() > 2 ? parseInteger(operands[2]) : std::nullopt;
    const bool measuring = roundsOperand.has_value();
    const int rounds = static_cast<int>(std::clamp<long>(roundsOperand.value_or(1), 1, mostRounds));

    DocumentStore store;
    const auto openStart = std::chrono::steady_clock::now();
    const std::optional<DocumentStore::Info> info = openForMode(store, pdf, out);
    const double openMs = millisecondsSince(openStart);
    if (!info) return 1;
    if (info->pageCount < 1) {  // rendering nothing is no pass
        std::fputs("virhe: PDF:ssa ei ole sivuja\n", out);
        return 1;
    }
    std::fprintf(out, "avaus + geometria:  %6.1f ms  %d sivua\n", openMs, info->pageCount);
    std::fprintf(out, "renderointileveys:  %d\n", width);
    if (measuring) std::fprintf(out, "kierroksia:         %d  (valimuisti tyhjana joka kierroksella)\n", rounds);

    // renderPage draws and encodes on the calling thread, so this thread's CPU
    // time is the page's cost without other threads' work or waits.
    const auto threadCpuMs = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    };
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    };

    // Per page and round; the cache is emptied before every round but the first.
    std::vector<std::vector<double>> wallMs(info->pageCount), cpuMs(info->pageCount);
    double totalMs = 0, slowestMs = 0;
    std::size_t totalBytes = 0;
    int slowestPage = 0;
    for (int round = 0; round < rounds; ++round) {
        if (round > 0) store.setCrop(std::nullopt);  // no manual crop here: this only empties the cache
        for (int i = 0; i < info->pageCount; ++i) {
            const double cpuStart = threadCpuMs();
            const auto start = std::chrono::steady_clock::now();
            const std::optional<DocumentStore::Bytes> png = store.renderPage(i, width);
            const double ms = millisecondsSince(start), cpu = threadCpuMs() - cpuStart;
            if (!png) {
                std::fprintf(out, "virhe: renderointi epaonnistui (sivu %d)\n", i + 1);
                return 1;
            }
            wallMs[i].push_back(ms);
            cpuMs[i].push_back(cpu);
            totalMs += ms;
            if (ms > slowestMs) {
                slowestMs = ms;
                slowestPage = i + 1;
            }
            if (round + 1 < rounds) continue;
            // The last round has each page's every time: its line, as the page is done.
            const std::size_t base64 = (png->size() + 2) / 3 * 4;
            std::fprintf(out, "sivu %3d  %6.1f ms  %7.1f kB PNG  %7.1f kB base64", i + 1, median(wallMs[i]),
                         kilobytes(png->size()), kilobytes(base64));
            if (measuring) std::fprintf(out, "  suoritin %6.1f ms", median(cpuMs[i]));
            std::fputc('\n', out);
            totalBytes += png->size();
        }
    }
    const int pages = std::max(info->pageCount, 1);
    const double averageMs = totalMs / (static_cast<double>(pages) * rounds);
    std::fprintf(out, "keskiarvo:          %6.1f ms/sivu\n", averageMs);
    std::fprintf(out, "hitain:             %6.1f ms  (sivu %d)\n", slowestMs, slowestPage);
    std::fprintf(out, "keskikoko:          %6.1f kB PNG\n", kilobytes(totalBytes) / pages);
    if (measuring) {
        std::vector<double> allWall, allCpu;
        for (int i = 0; i < info->pageCount; ++i) {
            allWall.insert(allWall.end(), wallMs[i].begin(), wallMs[i].end());
            allCpu.insert(allCpu.end(), cpuMs[i].begin(), cpuMs[i].end());
        }
        std::fprintf(out, "suoritinaika:       %6.1f ms/sivu mediaani  (piirto + pakkaus, %6.1f ms suurin)\n",
                     median(allCpu), *std::max_element(allCpu.begin(), allCpu.end()));
        std::fprintf(out, "seinakelloaika:     %6.1f ms/sivu mediaani\n", median(allWall));
    }

    // Only the last pages drawn are still in the bounded cache; ask for those again.
    const int firstCached = std::max(info->pageCount - DocumentStore::cacheLimit, 0);
    const auto cachedStart = std::chrono::steady_clock::now();
    for (int i = firstCached; i < info->pageCount; ++i) store.renderPage(i, width);
    const double cachedMs = millisecondsSince(cachedStart) / std::max(info->pageCount - firstCached, 1);
    std::fprintf(out, "valimuistista:      %6.3f ms/sivu  (%.0fx nopeampi)\n", cachedMs,
                 cachedMs > 0 ? averageMs / cachedMs : 0.0);
    if (averageMs <= pageChangeBudgetMs)
        std::fprintf(out, "OK - sivunvaihto pysyy 100 ms budjetissa (%.0f %% kaytossa)\n",
                     100 * averageMs / pageChangeBudgetMs);
    else
        std::fputs("HUOM - keskiarvo ylittaa 100 ms budjetin. Harkitse pienempaa renderointileveytta.\n", out);

    // The pages as the window gets them (by address, encoded for the screen):
    // every page drawn once more, after the figures above.
    double screenMs = 0;
    std::size_t screenBytes = 0;
    for (int i = 0; i < info->pageCount; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (const auto screen = store.pageImage(i, width, ImageEncoding::screen)) screenBytes += screen->bytes.size();
        screenMs += millisecondsSince(start);
    }
    std::fprintf(out, "nayttokuva:         %6.1f ms/sivu  %7.1f kB\n", screenMs / pages, kilobytes(screenBytes) / pages);
    return 0;
}

// Why the export may not be written to `target`: it would replace one of its
// own inputs, the script's files or the layout. Decided by file identity.
std::optional<std::string> exportTargetClash(const std::filesystem::path& pdf, const std::filesystem::path& target,
                                             const std::filesystem::path& layoutPath) {
    if (const auto kind = scriptFileAt(pdf, target)) {
        switch (*kind) {
            case ScriptFileKind::script: return "kasikirjoituksen";
            case ScriptFileKind::marks: return "sivutiedoston";
            case ScriptFileKind::marksBackup: return "sivutiedoston varmuuskopion";
            case ScriptFileKind::runFile: return "ajotiedoston";
        }
    }
    if (sameFile(target, layoutPath)) return "ladonnan";
    return std::nullopt;
}

int exportMarkedMode(const std::vector<std::string>& operands, const std::string& password, std::FILE* out) {
    if (operands.size() < 3) {
        std::fputs("virhe: --export-marked <pdf> <out.pdf> <layout.json> - ruudun ladonta (JSON) on pakollinen,\n"
                   "       ilman sita vientia ei tehda (ks. MarkupExporter / buildExportLayout).\n",
                   out);
        return 1;
    }
    const std::filesystem::path pdf = expandPathOperand(operands[0]);
    const std::filesystem::path target = expandPathOperand(operands[1]);
    const std::filesystem::path layoutPath = expandPathOperand(operands[2]);
    if (const auto clash = exportTargetClash(pdf, target, layoutPath)) {
        std::fprintf(out, "virhe: vienti kirjoittaisi %s paalle: %s\n", clash->c_str(), target.c_str());
        return 1;
    }

    const std::filesystem::path marksPath = sidecarPathFor(pdf);
    const ReadResult marks = readWholeFile(marksPath, maxSidecarBytes);
    const std::optional<CueSidecar> sidecar =
        marks.status == ReadStatus::ok ? decodeSidecar(marks.bytes) : std::nullopt;
    if (!sidecar) {
        std::fprintf(out, "virhe: sivutiedostoa ei loytynyt tai se ei jasenny: %s\n", marksPath.c_str());
        return 1;
    }
    const ReadResult layoutFile = readWholeFile(layoutPath, maxLayoutBytes);
    const std::optional<Layout> layout =
        layoutFile.status == ReadStatus::ok ? decodeLayout(layoutFile.bytes) : std::nullopt;
    if (!layout) {
        std::fprintf(out, "virhe: ladonta ei jasenny: %s\n", layoutPath.c_str());
        return 1;
    }
    // A locked script without its password, or with a wrong one, is said as
    // such, not as a failed export. Only the drawing side is opened to tell.
    if (const auto problem = DocumentStore::openProblem(pdf, password); problem == PdfOpenError::locked) {
        std::fputs(password.empty() ? "virhe: PDF on suojattu salasanalla - anna se valitsimella --password\n"
                                    : "virhe: salasana ei kelpaa\n",
                   out);
        return 1;
    }
    SettingsStore settings(false);
    const bool dropPageNumbers = settings.settings().dropPageNumbers;
    if (std::getenv("TALLOWMARK_EXPORT_DEBUG")) {
        DocumentStore store;
        if (const auto info = store.open(pdf, password)) {
            if (dropPageNumbers) store.setDropPageNumbers(true);
            if (!sidecar->crop.empty()) store.setCrop(cropFromList(sidecar->crop));
            const std::vector<std::array<double, 2>> sizes = store.pageSizes();
            for (int i = 0; i < info->pageCount && i < static_cast<int>(sizes.size()); ++i) {
                const auto frame = store.pageFrame(i);
                if (!frame) continue;
                const PageCrop crop = frame->crop.value_or(PageCrop{0, 0, 1, 1});
                std::fprintf(out,
                             "sivu %d  rajaus x %.4f y %.4f w %.4f h %.4f  renderoitu %.1f x %.1f pt  "
                             "taysi %.1f x %.1f pt\n",
                             i + 1, crop.x, crop.y, crop.width, crop.height, sizes[i][0], sizes[i][1], frame->fullWidth,
                             frame->fullHeight);
            }
        }
    }
    if (!MarkupExporter::exportMarkedScript(pdf, *sidecar, *layout, target, /*includeMemos=*/true, dropPageNumbers,
                                            out, password)) {
        std::fputs("virhe: vienti epaonnistui\n", out);
        return 1;
    }
    std::fprintf(out, "kirjoitettu: %s\n", target.c_str());
    return 0;
}

}  // namespace

std::filesystem::path expandPathOperand(const std::string& operand) {
    if (operand == "~" || operand.starts_with("~/")) {
        const char* home = std::getenv("HOME");
        const std::string folder = home && *home ? home : g_get_home_dir();
        return folder + operand.substr(1);
    }
    return operand;
}

int pageOperand(const std::string* operand) {
    const std::optional<long> value = operand ? parseInteger(*operand) : std::nullopt;
    if (!value || *value < 1) return 1;
    return static_cast<int>(std::min<long>(*value, INT32_MAX));
}

std::optional<int> runCommandLineMode(const std::vector<std::string>& arguments, std::FILE* out) {
    // The build's stamp comes before every mode: it is what a script asks a
    // copy it is about to replace or has just installed, and it needs nothing else.
    if (std::find(arguments.begin(), arguments.end(), "--version") != arguments.end()) {
        std::fprintf(out, "%s\n", update::runningBuild().stamp.c_str());
        return 0;
    }
    // "--password TEXT" unlocks the script of whichever mode runs. It is taken
    // out first, so that neither it nor its text is read as a mode's operand.
    std::vector<std::string> rest = arguments;
    std::string password;
    if (const auto at = std::find(rest.begin(), rest.end(), "--password"); at != rest.end()) {
        if (at + 1 == rest.end()) {
            std::fputs("virhe: --password ilman salasanaa\n", out);
            return 1;
        }
        password = *(at + 1);
        rest.erase(at, at + 2);
    }
    // "--no-ocr": the modes take the PDF's own text layer only, and scanned pages have no words.
    bool readScans = true;
    if (const auto at = std::find(rest.begin(), rest.end(), "--no-ocr"); at != rest.end()) {
        readScans = false;
        rest.erase(at);
    }
    const auto script = [&](const std::string& operand) { return ScriptOperand{expandPathOperand(operand), password}; };
    // The modes that read the page's words read its scanned pages as the program does.
    const auto scanned = [&](const std::string& operand) {
        return ScriptOperand{expandPathOperand(operand), password, readScans};
    };

    for (const SelfCheck& check : selfChecks) {
        if (std::find(rest.begin(), rest.end(), check.name) != rest.end()) return check.run(out);
    }
    // Table order; a mode without its required operands gives way to the next.
    if (const auto operands = operandsOf(rest, "--pdf-test"); operands && operands->size() >= 1)
        return renderBenchmarkMode(*operands, password, out);
    if (const auto operands = operandsOf(rest, "--page-lines"); operands && operands->size() >= 1)
        return pageLinesMode(scanned((*operands)[0]), pageOperand(operands->size() > 1 ? &(*operands)[1] : nullptr), out);
    if (const auto operands = operandsOf(rest, "--maxtext-data"); operands && operands->size() >= 1) {
        const auto crop = operandsOf(rest, "--maxtext-crop");
        return maxTextDataMode(scanned((*operands)[0]), crop && !crop->empty() ? std::optional(crop->front()) : std::nullopt,
                               out);
    }
    if (const auto operands = operandsOf(rest, "--page-sizes"); operands && operands->size() >= 1)
        return pageSizesMode(scanned((*operands)[0]), out);
    if (const auto operands = operandsOf(rest, "--lock-latency-test"); operands && operands->size() >= 1)
        return lockLatencyMode(script((*operands)[0]), out);
    if (const auto operands = operandsOf(rest, "--snap-test"); operands && operands->size() >= 1)
        return snapTestMode(scanned((*operands)[0]), out);
    if (const auto operands = operandsOf(rest, "--text-box"); operands && operands->size() >= 1)
        return textBoxMode(scanned((*operands)[0]), out);
    if (const auto operands = operandsOf(rest, "--search"); operands && operands->size() >= 2)
        return searchMode(scanned((*operands)[0]), (*operands)[1], out);
    if (const auto operands = operandsOf(rest, "--render-page"); operands && operands->size() >= 3)
        return renderPageMode(*operands, password, out);
    // Without its layout an export would guess where the page placed the
    // marks, so missing operands are an error here rather than a fall-through.
    if (const auto operands = operandsOf(rest, "--export-marked")) return exportMarkedMode(*operands, password, out);
    if (const auto operands = operandsOf(rest, "--carry-marks")) {
        std::vector<std::string> paths;
        for (const std::string& operand : *operands)
            if (operand != "--replace") paths.push_back(operand);
        return carryMarksMode(paths, paths.size() != operands->size(), password, out);
    }
    if (const auto operands = operandsOf(rest, "--make-demo")) {
        const std::filesystem::path folder =
            operands->empty() ? defaultDemoFolder() : expandPathOperand(operands->front());
        return DemoScriptMaker(out).run(folder);
    }
    // "--open" path belongs to the interactive application, which does not
    // exist yet: like no mode at all, it ends in the usage and status 2.
    return std::nullopt;
}

}  // namespace tallowmark
