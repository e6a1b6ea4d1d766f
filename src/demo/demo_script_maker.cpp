#include "demo/demo_script_maker.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <system_error>
#include <vector>

#include "core/atomic_file.hpp"
#include "core/system_log.hpp"
#include "demo/demo_play.hpp"
#include "document/document_store.hpp"

namespace tallowmark {

namespace {

// A4 in points. Vertical positions below are measured up from the page's foot,
// as a printer's layout sheet gives them; cairo's y runs down, converted once in `fromTop`.
constexpr double pageWidth = 595;
constexpr double pageHeight = 842;
constexpr double columnX = 78;
constexpr double columnWidth = 352;
constexpr double firstBlockTop = 750;
constexpr double lowestText = 70;
constexpr double headerBaseline = 784;
constexpr double headerGrey = 0.42;
constexpr double directionGrey = 0.18;
constexpr double lineSpacing = 2.5;
constexpr double speakerLetterSpacing = 0.6;
constexpr int searchLimit = 20;

double fromTop(double upFromFoot) { return pageHeight - upFromFoot; }

struct Placement {
    double indent = 0;
    double spaceBefore = 0;
};

Placement placementOf(DemoBlockKind kind) {
    switch (kind) {
        case DemoBlockKind::mainHeading: return {0, 4};
        case DemoBlockKind::heading: return {0, 14};
        case DemoBlockKind::direction: return {0, 7};
        case DemoBlockKind::line: return {34, 9};
        case DemoBlockKind::pageBreak: break;
    }
    return {};
}

struct LayoutDeleter {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

enum class Face { regular, bold, italic };

// Family, weight and style are set apart: parsed from one string, "Roman" in
// the family's name would be taken as a style word and the family lost.
// Sizes are absolute: one cairo unit on the PDF surface is one point, so
// pango's screen resolution must not scale them.
PangoFontDescription* fontOf(Face face, double points) {
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, "Times New Roman");
    pango_font_description_set_weight(font, face == Face::bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(font, face == Face::italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_font_description_set_absolute_size(font, points * PANGO_SCALE);
    return font;
}

void setFont(PangoLayout* layout, Face face, double points) {
    PangoFontDescription* font = fontOf(face, points);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
}

guint16 greyLevel(double white) { return static_cast<guint16>(white * 65535); }

void addRange(PangoAttrList* attributes, PangoAttribute* attribute, std::size_t start, std::size_t end) {
    attribute->start_index = static_cast<guint>(start);
    attribute->end_index = static_cast<guint>(end);
    pango_attr_list_insert(attributes, attribute);
}

// A spoken line: the speaker's name in small bold capitals, then the speech,
// with every parenthesised aside set like a stage direction.
void styleSpokenLine(PangoLayout* layout, const DemoBlock& block) {
    const std::string text = std::string(block.speaker) + "  " + std::string(block.text);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
    setFont(layout, Face::regular, 12);
    PangoAttrList* attributes = pango_attr_list_new();
    const std::size_t nameEnd = block.speaker.size() + 2;
    PangoFontDescription* bold = fontOf(Face::bold, 11);
    addRange(attributes, pango_attr_font_desc_new(bold), 0, nameEnd);
    addRange(attributes, pango_attr_letter_spacing_new(static_cast<int>(speakerLetterSpacing * PANGO_SCALE)), 0,
             nameEnd);
    pango_font_description_free(bold);
    for (std::size_t open = text.find('(', nameEnd); open != std::string::npos; open = text.find('(', open + 1)) {
        const std::size_t close = text.find(')', open);
        const std::size_t end = close == std::string::npos ? text.size() : close + 1;
        PangoFontDescription* italic = fontOf(Face::italic, 12);
        addRange(attributes, pango_attr_font_desc_new(italic), open, end);
        pango_font_description_free(italic);
        const guint16 grey = greyLevel(directionGrey);
        addRange(attributes, pango_attr_foreground_new(grey, grey, grey), open, end);
        if (close == std::string::npos) break;
        open = close;
    }
    pango_layout_set_attributes(layout, attributes);
    pango_attr_list_unref(attributes);
}

LayoutPtr blockLayout(cairo_t* cr, const DemoBlock& block) {
    LayoutPtr layout(pango_cairo_create_layout(cr));
    const double width = columnWidth - placementOf(block.kind).indent;
    pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD);
    const std::string text(block.text);
    switch (block.kind) {
        case DemoBlockKind::mainHeading:
        case DemoBlockKind::heading:
            pango_layout_set_text(layout.get(), text.c_str(), -1);
            setFont(layout.get(), Face::bold, block.kind == DemoBlockKind::mainHeading ? 13 : 12);
            pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
            break;
        case DemoBlockKind::direction: {
            pango_layout_set_text(layout.get(), text.c_str(), -1);
            setFont(layout.get(), Face::italic, 12);
            pango_layout_set_spacing(layout.get(), static_cast<int>(lineSpacing * PANGO_SCALE));
            PangoAttrList* attributes = pango_attr_list_new();
            const guint16 grey = greyLevel(directionGrey);
            pango_attr_list_insert(attributes, pango_attr_foreground_new(grey, grey, grey));
            pango_layout_set_attributes(layout.get(), attributes);
            pango_attr_list_unref(attributes);
            break;
        }
        case DemoBlockKind::line:
            styleSpokenLine(layout.get(), block);
            pango_layout_set_spacing(layout.get(), static_cast<int>(lineSpacing * PANGO_SCALE));
            break;
        case DemoBlockKind::pageBreak: break;
    }
    return layout;
}

double layoutHeight(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    return static_cast<double>(logical.height) / PANGO_SCALE;
}

void drawHeader(cairo_t* cr) {
    LayoutPtr layout(pango_cairo_create_layout(cr));
    const std::string header(demoRunningHeader);
    pango_layout_set_text(layout.get(), header.c_str(), -1);
    setFont(layout.get(), Face::regular, 9.5);
    const double baseline = static_cast<double>(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
    cairo_set_source_rgb(cr, headerGrey, headerGrey, headerGrey);
    cairo_move_to(cr, columnX, fromTop(headerBaseline) - baseline);
    pango_cairo_show_layout(cr, layout.get());
}

cairo_status_t appendToString(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::string demoCueID(std::string_view number) {
    std::string id = "demo-" + std::string(number);
    std::replace(id.begin() + 5, id.end(), '.', '-');
    return id;
}

std::filesystem::path defaultDemoFolder() {
    const char* desktop = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
    const std::filesystem::path base =
        desktop && *desktop ? std::filesystem::path(desktop) : std::filesystem::path(g_get_home_dir()) / "Desktop";
    return base / "TALLOWMARK Demo";
}

bool DemoScriptMaker::writePdf(const std::filesystem::path& path) {
    // Drawn into memory and written in one step, so a failed run never leaves
    // half a script where the previous demo was.
    std::string bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(appendToString, &bytes, pageWidth, pageHeight);
    const std::string title(demoPlayTitle);
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, title.c_str());
    cairo_t* cr = cairo_create(surface);

    int pages = 1;
    drawHeader(cr);
    double top = firstBlockTop;
    bool pageIsEmpty = true;
    const auto newPage = [&] {
        cairo_show_page(cr);
        ++pages;
        drawHeader(cr);
        top = firstBlockTop;
        pageIsEmpty = true;
    };
    for (const DemoBlock& block : demoBlocks()) {
        if (block.kind == DemoBlockKind::pageBreak) {
            newPage();
            continue;
        }
        const LayoutPtr layout = blockLayout(cr, block);
        const double height = layoutHeight(layout.get());
        // The first block of a page starts at the top line itself.
        double blockTop = pageIsEmpty ? top : top - placementOf(block.kind).spaceBefore;
        if (blockTop - height < lowestText && !pageIsEmpty) {
            newPage();
            blockTop = top;
        }
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_move_to(cr, columnX + placementOf(block.kind).indent, fromTop(blockTop));
        pango_cairo_show_layout(cr, layout.get());
        top = blockTop - height;
        pageIsEmpty = false;
    }
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const bool drawn = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (!drawn || !writeFileAtomically(path, bytes)) return false;
    pageCount_ = pages;
    return true;
}

CueSidecar DemoScriptMaker::demoSidecar(const std::string& documentName, const std::filesystem::path& pdf) {
    CueSidecar sidecar;
    sidecar.version = 1;
    sidecar.documentName = documentName;

    DocumentStore store;
    const bool opened = store.open(pdf).has_value();
    std::string missing;
    for (const DemoCue& demo : demoCues()) {
        Cue cue;
        cue.id = demoCueID(demo.number);
        cue.number = demo.number;
        cue.label = demo.label;
        cue.kind = demo.kind;
        cue.note = demo.note;
        cue.snippet = demo.trigger;
        std::vector<DocumentStore::SearchHit> hits;
        if (opened) hits = store.search(std::string(demo.trigger), searchLimit);
        if (!hits.empty()) {
            const DocumentStore::SearchHit& hit = hits.front();
            cue.page = hit.page;
            cue.x = hit.rect.x;
            cue.y = hit.rect.y;
            cue.w = hit.rect.width;
            cue.h = hit.rect.height;
            cue.labelX = hit.lineEnd;
        } else {
            // Parked where the operator will see it and can drag it into place.
            cue.page = 0;
            cue.x = cue.y = 0.12;
            cue.w = 0.2;
            cue.h = 0.016;
            cue.labelX = 0;
            missing += (missing.empty() ? "" : ", ") + std::string(demo.number);
        }
        sidecar.cues.push_back(std::move(cue));
    }
    if (!missing.empty()) std::fprintf(out_, "  HUOM: liipaisutekstia ei loytynyt iskuille %s\n", missing.c_str());
    return sidecar;
}

int DemoScriptMaker::run(const std::filesystem::path& folder) {
    const auto start = std::chrono::steady_clock::now();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error && !std::filesystem::is_directory(folder, error) && !error)
        error = std::make_error_code(std::errc::not_a_directory);
    if (error) {
        std::fprintf(out_, "virhe: kansiota ei voitu luoda: %s\n", error.message().c_str());
        return 1;
    }

    const std::filesystem::path pdf = folder / (std::string(demoPlayTitle) + " - rehearsal script.pdf");
    if (!writePdf(pdf)) {
        std::fputs("virhe: PDF:n kirjoitus epaonnistui\n", out_);
        return 1;
    }
    lastWrittenPDF_ = pdf;

    // A marks file that cannot be written does not fail the run: the script is
    // there and the operator can still place cues by hand.
    const std::filesystem::path marks = sidecarPathFor(pdf);
    const std::optional<std::string> encoded = encodeSidecar(demoSidecar(pdf.filename().string(), pdf));
    std::string writeError;
    if (!encoded || !writeFileAtomically(marks, *encoded, &writeError))
        logSystem("sivutiedoston tallennus epaonnistui: " + writeError);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(out_, "valmis %.2f s\n", seconds);
    std::fprintf(out_, "  %s  (%d sivua)\n", pdf.c_str(), pageCount_);
    std::fprintf(out_, "  %s  (%zu iskua)\n", marks.c_str(), demoCues().size());
    std::fputs("\nKansio EI nay sovelluksessa ennen kuin avaat PDF:n itse (Ctrl+O).\n", out_);
    return 0;
}

}  // namespace tallowmark
