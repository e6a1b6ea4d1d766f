#include "support/pdf_fixtures.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "support/temp_dir.hpp"

namespace tallowmark::testing {

namespace {

std::string shellWord(const std::filesystem::path& path) { return "'" + path.string() + "'"; }
bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

PangoLayout* fixtureLayout(cairo_t* cr, const std::string& text, double size) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Liberation Serif");
    pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, text.c_str(), -1);
    return layout;
}

// A line drawn word by word, `advance` points from a word's end to the next (negative: they
// overlap); with `spaceGlyphs` every word but the last carries its trailing space glyph.
void addWordByWord(FixturePage& page, double top, const std::string& line, double advance, bool spaceGlyphs) {
    std::vector<std::string> words;
    std::istringstream split(line);
    for (std::string word; split >> word;) words.push_back(word);
    double x = 40;
    for (std::size_t i = 0; i < words.size(); ++i) {
        page.texts.push_back({x, top, spaceGlyphs && i + 1 < words.size() ? words[i] + " " : words[i]});
        x += textWidth(words[i]) + advance;
    }
}

// Speeches a blank line apart, 15 pt a line, names at `nameX`, speech from `speechX`; the next top.
double addSpeeches(FixturePage& page, double top, double nameX, double speechX,
                   const std::vector<std::pair<std::string, std::vector<std::string>>>& speeches) {
    for (const auto& [name, lines] : speeches) {
        page.texts.push_back({nameX, top, name});
        for (const std::string& line : lines) {
            page.texts.push_back({speechX, top, line});
            top += 15;
        }
        top += 15;
    }
    return top;
}

}  // namespace

double textWidth(const std::string& text, double size) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = fixtureLayout(cr, text, size);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

void writePdf(const std::filesystem::path& path, const std::vector<FixturePage>& pages) {
    const FixturePage first = pages.empty() ? FixturePage{} : FixturePage{pages[0].width, pages[0].height, {}};
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), first.width, first.height);
    cairo_t* cr = cairo_create(surface);
    for (const FixturePage& page : pages) {
        cairo_pdf_surface_set_size(surface, page.width, page.height);
        for (const FixtureText& item : page.texts) {
            PangoLayout* layout = fixtureLayout(cr, item.text, item.size);
            cairo_move_to(cr, item.x, item.top);
            pango_cairo_show_layout(cr, layout);
            g_object_unref(layout);
        }
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
}

FixturePage twoColumnScriptPage() {
    FixturePage page{420, 400, {}};
    double top = addSpeeches(page, 40, 40, 130,
                             {{"WARDEN", {"Do not touch that.", "It is older than the house.", "Older than the river."}},
                              {"TOMAS", {"Then why keep it here", "where anyone can reach?"}},
                              {"WARDEN", {"Because nobody ever has.", "Nobody ever will."}}});
    // A cast list: name and role one short tab apart.
    for (const auto& [name, role] : {std::pair<std::string, std::string>{"V\u00c4IN\u00d6", "vanha lautturi"},
                                     {"ELSA", "hanen tyttarensa"}, {"AAPO", "kalastaja"}}) {
        page.texts.push_back({40, top, name});
        page.texts.push_back({40 + textWidth("V\u00c4IN\u00d6") + 14, top, role});
        top += 15;
    }
    return page;
}

FixturePage spreadPage() {
    FixturePage page{842, 595, {}};
    addSpeeches(page, 60, 50, 120,
                {{"TOMAS", {"I heard the bell twice.", "Once for each of us."}},
                 {"ELSA", {"Then it is time.", "Bring the lantern,", "the wind is rising."}},
                 {"TOMAS", {"It always rises."}}});
    addSpeeches(page, 60, 471, 541,
                {{"TOMAS", {"The ferry waits for no one.", "Not even for you."}},
                 {"ELSA", {"Then row me across", "before the light goes."}},
                 {"TOMAS", {"Hold on to the rail."}}});
    page.texts.push_back({200, 550, "12"});
    page.texts.push_back({621, 550, "13"});
    return page;
}

FixturePage tightSetPage() {
    FixturePage page{420, 300, {}};
    addWordByWord(page, 40, "The water climbs the old pipes.", -1.2, true);
    addWordByWord(page, 56, "Nobody has mended them since spring.", -0.8, true);
    addWordByWord(page, 72, "Listen to the walls tonight.", 2.5, false);
    addWordByWord(page, 88, "Every room answers the river.", 3, false);
    return page;
}

std::vector<std::vector<LibraryWord>> libraryWords(const std::filesystem::path& pdf) {
    const std::filesystem::path out = pdf.string() + ".bbox.html";
    std::vector<std::vector<LibraryWord>> pages;
    if (!run("pdftotext -bbox-layout " + shellWord(pdf) + " " + shellWord(out))) return pages;
    const std::string html = readText(out);
    const std::regex tag(R"x(<page |<word xMin="([^"]*)" yMin="([^"]*)" xMax="([^"]*)" yMax="([^"]*)">([^<]*)</word>)x");
    for (std::sregex_iterator at(html.begin(), html.end(), tag), end; at != end; ++at) {
        const std::smatch& m = *at;
        if (!m[1].matched) pages.emplace_back();
        if (!m[1].matched || pages.empty()) continue;  // a page begins, or a word outside any
        std::string text = m[5];
        for (const auto& [entity, plain] : {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"},
                                            {"&quot;", "\""}, {"&apos;", "'"}, {"&#39;", "'"}, {"&amp;", "&"}})
            for (std::size_t i; (i = text.find(entity)) != std::string::npos;) text.replace(i, entity.size(), plain);
        pages.back().push_back({text, std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])});
    }
    return pages;
}

bool rotatePdf(const std::filesystem::path& in, const std::filesystem::path& out, int degrees,
               const std::string& pages) {
    return run("qpdf " + shellWord(in) + " --rotate=+" + std::to_string(degrees) + ":" + pages + " " + shellWord(out));
}

bool encryptPdf(const std::filesystem::path& in, const std::filesystem::path& out, const std::string& userPassword,
                const std::string& ownerPassword, int keyBits) {
    // 40- and 128-bit keys are RC4, which qpdf writes only when told that weak is meant.
    return run("qpdf --allow-weak-crypto " + shellWord(in) + " --encrypt " + shellWord(userPassword) + " " +
               shellWord(ownerPassword) + " " + std::to_string(keyBits) + " -- " + shellWord(out));
}

bool setCropBox(const std::filesystem::path& in, const std::filesystem::path& out, double x1, double y1,
                double x2, double y2) {
    const std::filesystem::path qdf = out.string() + ".qdf";
    if (!run("qpdf --qdf --object-streams=disable " + shellWord(in) + " " + shellWord(qdf))) return false;
    std::string text = readText(qdf);
    std::ostringstream boxText;
    boxText << "/CropBox [ " << x1 << " " << y1 << " " << x2 << " " << y2 << " ]\n  /MediaBox";
    const std::string box = boxText.str();
    std::size_t edits = 0;
    for (std::size_t at = 0; (at = text.find("/MediaBox", at)) != std::string::npos; at += box.size(), ++edits)
        text.replace(at, 9, box);
    writeText(qdf, text);
    // fix-qdf repairs the object offsets the edit moved.
    return edits > 0 && run("fix-qdf " + shellWord(qdf) + " > " + shellWord(out));
}

Bitmap decodePng(const std::vector<std::uint8_t>& png) {
    Bitmap bitmap;
    spng_ctx* ctx = spng_ctx_new(0);
    spng_ihdr header{};
    std::size_t size = 0;
    if (spng_set_png_buffer(ctx, png.data(), png.size()) == 0 && spng_get_ihdr(ctx, &header) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size) == 0) {
        bitmap.rgb.resize(size);
        if (spng_decode_image(ctx, bitmap.rgb.data(), size, SPNG_FMT_RGB8, 0) == 0)
            std::tie(bitmap.width, bitmap.height) = std::pair(int(header.width), int(header.height));
        else
            bitmap.rgb.clear();
    }
    spng_ctx_free(ctx);
    return bitmap;
}

InkBox inkBox(const Bitmap& bitmap) {
    InkBox box;
    for (int y = 0; y < bitmap.height; ++y)
        for (int x = 0; x < bitmap.width; ++x) {
            const unsigned char* p = &bitmap.rgb[3 * (static_cast<std::size_t>(y) * bitmap.width + x)];
            if (p[0] + p[1] + p[2] > 3 * 128) continue;
            box.minX = std::min(box.minX, double(x) / bitmap.width);
            box.maxX = std::max(box.maxX, double(x + 1) / bitmap.width);
            box.minY = std::min(box.minY, double(y) / bitmap.height);
            box.maxY = std::max(box.maxY, double(y + 1) / bitmap.height);
        }
    return box;
}

}  // namespace tallowmark::testing
