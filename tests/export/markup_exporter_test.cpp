#include "export/markup_exporter.hpp"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;

// The exported PDF read back by the store, pages drawn for printing at 2 px per point.
class Exported {
public:
    explicit Exported(const std::filesystem::path& path) { store_.open(path); }
    ~Exported() {
        for (auto [page, s] : surfaces_) cairo_surface_destroy(s);
    }
    int pages() const { return store_.currentInfo() ? store_.currentInfo()->pageCount : 0; }
    std::array<double, 2> size(int page) const {
        const auto frame = store_.pageFrame(page);
        return {frame->fullWidth, frame->fullHeight};
    }
    std::string text(int page) { return store_.pageText(page); }
    // RGB of the pixel at (x, y) in points from the page's top-left.
    std::array<int, 3> pixel(int page, double x, double y) {
        cairo_surface_t* s = render(page);
        const unsigned char* data = cairo_image_surface_get_data(s);
        const int stride = cairo_image_surface_get_stride(s);
        const auto* px = reinterpret_cast<const std::uint32_t*>(data + int(y * scale) * stride) + int(x * scale);
        return {int(*px >> 16 & 0xff), int(*px >> 8 & 0xff), int(*px & 0xff)};
    }
    // Whether any dark pixel lies in the rectangle (points, y down).
    bool inked(int page, double x, double y, double w, double h) {
        for (double py = y; py < y + h; py += 0.5)
            for (double px = x; px < x + w; px += 0.5) {
                const auto c = pixel(page, px, py);
                if (c[0] + c[1] + c[2] < 300) return true;
            }
        return false;
    }

private:
    static constexpr double scale = 2;
    cairo_surface_t* render(int page) {
        if (surfaces_.count(page)) return surfaces_[page];
        const auto [w, h] = size(page);
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(w * scale), int(h * scale));
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        store_.drawPageForPrinting(page, cr, w * scale, h * scale);
        cairo_destroy(cr);
        cairo_surface_flush(s);
        return surfaces_[page] = s;
    }
    DocumentStore store_;
    std::map<int, cairo_surface_t*> surfaces_;
};

// Where the on-screen crop puts the script page: the export draws the cropped
// page, so test positions are given in script points and turned into fractions.
struct Frame {
    double x0 = 0, y0 = 0, cw = 1, ch = 1;
    double fx(double x) const { return (x - x0) / cw; }
    double fy(double y) const { return (y - y0) / ch; }
    double ox(double x) const { return x - x0; }  // script point -> output point
    double oy(double y) const { return y - y0; }
};

Frame frameOf(const std::filesystem::path& pdf, int page) {
    DocumentStore store;
    store.open(pdf);
    const auto frame = store.pageFrame(page);
    const PageCrop c = frame->crop.value_or(PageCrop{0, 0, 1, 1});
    return {c.x * frame->fullWidth, c.y * frame->fullHeight, frame->croppedWidth(), frame->croppedHeight()};
}

Json box(const Frame& f, double x, double y, double w, double h) {
    return {{"x", f.fx(x)}, {"w", w / f.cw}, {"dy", f.fy(y)}, {"dh", h / f.ch}};
}

Json layoutJson(const Frame& f0, const Frame& f1) {
    auto with = [](Json base, const Json& more) {
        base.update(more);
        return base;
    };
    const Json dark = "#203080";
    Json page0 = {{"index", 0}, {"extra", 0}, {"pageWpx", 2 * f0.cw},
                  {"marks", {with(box(f0, 25, 95, 150, 25), {{"kind", "hide"}}),
                             with(box(f0, 25, 155, 150, 25), {{"kind", "cut"}})}},
                  {"cues", {with(box(f0, 150, 220, 80, 20),
                                 {{"color", "#2060ff"}, {"padL_px", 0}, {"padR_px", 0}, {"outlineOffset_px", 1}})}},
                  {"labels", {with(box(f0, 240, 220, 30, 20), {{"text", "Q1"}, {"padL_px", 0}, {"measuredWpx", 40}}),
                              with(box(f0, 240, 260, 30, 30), {{"text", "Q2\nGO"}, {"padL_px", 0}}),
                              // in the gutter, its leader from the cue box's height through the page's margin
                              {{"x", 1 + 1 / f0.cw}, {"w", 28 / f0.cw}, {"dy", f0.fy(330)}, {"dh", 20 / f0.ch},
                               {"text", "Q3"}, {"padL_px", 0}, {"color", dark},
                               {"leader", {f0.fx(230), f0.fy(340), 1 + 1 / f0.cw, f0.fy(340)}}}}}};
    // 60 px of gutter is 30 pt at 2 px a point: right of page 0, left of page 1.
    page0["gutter"] = {{"side", "right"}, {"px", 60}};
    // Room for one inserted line at 200 pt, and the row above it pulled apart
    // at 46 pt, its right part moving 40 pt right.
    const double G1 = 1.1 * f1.ch;
    Json page1 = {{"index", 1}, {"extra", 0.1}, {"pageWpx", 2 * f1.cw},
                  {"gaps", {{{"afterY", f1.fy(200)}, {"height", 0.1}}}},
                  {"hrows", {{{"top", f1.fy(45)}, {"bottom", f1.fy(200)}, {"x0", f1.fx(25)}, {"x1", f1.fx(46)},
                              {"dL", 0}, {"dR", 40 / f1.cw}}}},
                  {"inserts", {{{"text", "Added line"}, {"x", f1.fx(150)}, {"w", 100 / f1.cw},
                                {"dy", f1.oy(200) / G1}, {"dh", 0.1 * f1.ch / G1}, {"lineH", 0.04}}}},
                  {"gutter", {{"side", "left"}, {"px", 60}}},
                  {"labels", {{{"x", -29 / f1.cw}, {"w", 28 / f1.cw}, {"dy", f1.fy(100)}, {"dh", 20 / f1.ch},
                               {"text", "Q4"}, {"padL_px", 0}, {"color", dark}}}}};
    return {{"labelFontPx", 20}, {"labelLineH", 1.2}, {"labelPadX_px", 4}, {"labelPadY_px", 2},
            {"pages", {page0, page1}}};
}

class MarkupExporterTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path pdf = dir / "script.pdf";
    std::filesystem::path out = dir / "marked.pdf";
    CueSidecar sidecar;
    Frame f0, f1;
    Layout layout;

    void SetUp() override {
        const testing::FixtureText topLeft{10, 10, "Corner"}, bottomRight{240, 370, "Corner"};
        testing::writePdf(pdf, {{300, 400, {topLeft, {30, 40, "Visible line"}, {30, 100, "Hidden words"},
                                            {30, 160, "Struck text"}, bottomRight}},
                                {300, 400, {topLeft, {30, 50, "Upper"}, {30, 300, "Lower"}, bottomRight}}});
        f0 = frameOf(pdf, 0);
        f1 = frameOf(pdf, 1);
        layout = *Layout::fromJson(layoutJson(f0, f1));
        sidecar.cues.emplace_back();
        sidecar.memos.push_back(
            {.x = f0.fx(30), .y = f0.fy(300), .w = 100 / f0.cw, .h = 40 / f0.ch, .text = "Watch the door", .color = "rose"});
        // Sidecar marks of kind "cut" and "hide" are drawn from the layout, so never highlighted; any other kind is.
        for (const std::string kind : {"cut", "hide", ""})
            sidecar.marks.push_back({.x = f0.fx(200), .y = f0.fy(kind.empty() ? 60 : 100), .w = 40 / f0.cw,
                                     .h = 10 / f0.ch, .kind = kind, .text = {}, .color = {}, .group = {}});
    }

    bool exportIt(bool includeMemos = true, std::FILE* debug = stdout) {
        return MarkupExporter::exportMarkedScript(pdf, sidecar, layout, out, includeMemos, false, debug);
    }
    // Whether the export succeeded, and what it printed for debugging.
    std::pair<bool, std::string> exportPrinting(bool includeMemos) {
        std::FILE* debug = std::fopen((dir / "debug.txt").c_str(), "w");
        const bool ok = exportIt(includeMemos, debug);
        std::fclose(debug);
        return {ok, testing::readText(dir / "debug.txt")};
    }
    // Whether the export succeeded, and what it logged.
    std::pair<bool, std::string> exportLogging() {
        ::testing::internal::CaptureStderr();
        const bool ok = exportIt();
        return {ok, ::testing::internal::GetCapturedStderr()};
    }
};

TEST_F(MarkupExporterTest, DrawsMarksWhereTheLayoutPutsThem) {
    ASSERT_TRUE(exportIt());
    Exported e(out);
    ASSERT_EQ(e.pages(), 2);
    // Each page grows by its gutter, and page 1 by its extra 0.1 for the inserted line.
    EXPECT_NEAR(e.size(0)[0], f0.cw + 30, 0.01);
    EXPECT_NEAR(e.size(0)[1], f0.ch, 0.01);
    EXPECT_NEAR(e.size(1)[0], f1.cw + 30, 0.01);
    EXPECT_NEAR(e.size(1)[1], 1.1 * f1.ch, 0.01);
    EXPECT_TRUE(e.text(0).find("Visible") != std::string::npos) << e.text(0);

    // Page 1 moves right by its left gutter. Its gap at 200 pt opens 0.1 of the page: "Lower" (top at 300)
    // moves down by that much; the opened band holds the inserted line only. "Upper" (30 to about 64 pt),
    // split at 46, keeps its left part, its right part moving 40 pt right.
    const double gap = 0.1 * f1.ch, x1 = 30 - f1.x0, y1 = -f1.y0;
    const struct { const char* what; int page; double x, y, w, h; bool inked; } areas[] = {
        {"the script", 0, f0.ox(30), f0.oy(42), 60, 10, true},
        {"hidden words covered white", 0, f0.ox(28), f0.oy(98), 140, 18, false},
        {"a label in the right gutter", 0, f0.cw + 3, f0.oy(332), 24, 16, true},
        {"a label in the left gutter", 1, 3, f1.oy(102), 24, 16, true},
        {"the left gutter beside it", 1, 0, f1.oy(50), 29, 14, false},
        {"the text below the gap, where it was", 1, x1 + 30, y1 + 300, 60, 12, false},
        {"the text below the gap, moved down", 1, x1 + 30, y1 + 300 + gap, 60, 12, true},
        {"the gap left of the inserted line", 1, 30, y1 + 200, x1 + 115, gap, false},
        {"the inserted line", 1, x1 + 150, y1 + 200, 100, gap, true},
        {"the split row's left part", 1, x1 + 31, y1 + 50, 12, 14, true},
        {"the split row's hole", 1, x1 + 48, y1 + 50, 36, 14, false},
        {"the split row's right part", 1, x1 + 90, y1 + 50, 12, 14, true},
    };
    for (const auto& a : areas) EXPECT_EQ(e.inked(a.page, a.x, a.y, a.w, a.h), a.inked) << a.what;

    const struct { const char* what; double x, y; std::array<int, 3> rgb; int tolerance; } colours[] = {
        {"the strike-through, mid cut box", 100, 167.5, {0x3a, 0x4a, 0x86}, 12},
        {"the highlight, yellow at 0.3", 220, 65, {255, 242, 182}, 8},
        {"cut and hide marks, never highlighted", 220, 105, {255, 255, 255}, 0},
        {"the cue box, its colour at 0.3", 190, 230, {188, 207, 255}, 12},
        {"a rose memo, #ffe0d8 at 0.92", 120, 335, {255, 226, 219}, 4},
    };
    for (const auto& c : colours) {
        const auto got = e.pixel(0, f0.ox(c.x), f0.oy(c.y));
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], c.rgb[i], c.tolerance) << c.what << ", channel " << i;
    }
    const auto leader = e.pixel(0, f0.ox(265), f0.oy(340));  // in the margin: #203080 at 0.55, partly covering
    EXPECT_TRUE(leader[0] < 200 && leader[0] < leader[2]) << leader[0] << ", " << leader[2];
}

TEST_F(MarkupExporterTest, MemosAndDebugLinesOnlyWhenAsked) {
    unsetenv("TALLOWMARK_EXPORT_DEBUG");
    EXPECT_EQ(exportPrinting(false), std::pair(true, std::string()));
    EXPECT_EQ(Exported(out).pixel(0, f0.ox(120), f0.oy(335)), (std::array<int, 3>{255, 255, 255})) << "a memo drawn";

    // Two lines per label.
    setenv("TALLOWMARK_EXPORT_DEBUG", "1", 1);
    const auto [ok, text] = exportPrinting(true);
    unsetenv("TALLOWMARK_EXPORT_DEBUG");
    ASSERT_TRUE(ok);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8) << text;
    EXPECT_TRUE(text.starts_with("sivu 1 selite 'Q1': ruutu 40.0 px, natiivi ")) << text;
    char box[160];
    std::snprintf(box, sizeof box, "  laatikko x %.2f y %.2f w 30.00 h 20.00 pt (dy %.5f dh %.5f, grownH %.2f)\n",
                  f0.ox(240), f0.oy(220), f0.fy(220), 20 / f0.ch, f0.ch);
    EXPECT_NE(text.find(box), std::string::npos) << text;
    // Without the page reporting a system monospaced font, labels are set in the Courier stand-in.
    EXPECT_NE(text.find("px (Liberation Mono)\n"), std::string::npos) << text;
}

// Whatever a label, inserted line, memo, flag or tab holds, the export lays out and draws the start that can show:
// the file stays the size of a page of marks, not of the text.
TEST_F(MarkupExporterTest, HugeTextsDrawOnlyWhatCanShow) {
    ASSERT_TRUE(exportIt(true, nullptr));
    const auto plain = std::filesystem::file_size(out);
    std::string words;
    for (int i = 0; i < 100'000; ++i) words += "storm ";
    const std::string unbroken(1'000'000, 'x'), feeds = "Q\n" + std::string(200'000, '\n');
    layout.pages[0].labels[0].text = "Q1 " + unbroken;
    layout.pages[0].labels[1].text = feeds;
    layout.pages[1].inserts[0].text = "Added " + words + "\n" + feeds;
    sidecar.memos[0].text = words + feeds;
    sidecar.flags.push_back({.page = 1, .x = 0.1, .text = words, .color = {}, .role = unbroken});
    sidecar.marks.push_back({.page = 1, .x = 0.1, .y = 0.7, .w = 0.5, .h = 0.1, .kind = "region", .text = unbroken,
                             .color = {}, .group = {}});

    ASSERT_TRUE(exportIt(true, nullptr));
    EXPECT_LT(std::filesystem::file_size(out), plain + 200'000);
    Exported e(out);
    ASSERT_EQ(e.pages(), 2);
    EXPECT_NE(e.text(0).find("Q1 xxx"), std::string::npos);
    EXPECT_NE(e.text(1).find("Added storm"), std::string::npos);
}

// Asked to write over the script or its marks, by any path, the exporter writes nothing; nor when the script or
// the target's folder is missing, nor when a page with marks was never measured (logged with its own prefix).
TEST_F(MarkupExporterTest, RefusalsWriteNothing) {
    testing::writeText(dir / "script.tallowmark", "marks");
    testing::writeText(dir / "plain", "not a folder");
    std::filesystem::create_directory_symlink(dir.path(), dir / "link");
    const std::string script = testing::readText(pdf);
    for (const auto& target : {pdf, dir / "link" / "script.pdf", dir / "script.tallowmark",
                               dir / "link" / "script.tallowmark.bak1", dir / "plain" / "out.pdf"})
        EXPECT_FALSE(MarkupExporter::exportMarkedScript(pdf, sidecar, layout, target, true, false)) << target;
    EXPECT_FALSE(MarkupExporter::exportMarkedScript(dir / "missing.pdf", sidecar, layout, out, true, false));
    EXPECT_EQ(testing::readText(pdf), script);
    EXPECT_EQ(testing::readText(dir / "script.tallowmark"), "marks");

    sidecar.cues.emplace_back().page = 2;
    EXPECT_EQ(exportLogging(), std::pair(false, std::string("TALLOWMARK export: sivulle 3 ei ole ruudun ladontaa - "
                                                            "vientia ei tehda\n")));
    sidecar.cues.pop_back();
    layout.pages[1].pageWpx = 0;  // measured page width missing: as good as no layout
    sidecar.inserts.emplace_back().page = 1;
    EXPECT_EQ(exportLogging(), std::pair(false, std::string("TALLOWMARK export: sivulle 2 (lisatty rivi) ei ole "
                                                            "ruudun ladontaa - vientia ei tehda\n")));
    EXPECT_EQ(dir.entries(), 4) << "script, marks, plain file and link alone";
}

TEST(MarkupExporterRules, ColoursAndChipPlacement) {
    EXPECT_NEAR(MarkupExporter::hexColor("#FFe0d8", "#000000").g, 0xe0 / 255.0, 1e-9);
    for (const char* bad : {"", "ffe0d8", "#ffe0d", "#ffe0d8a", "#ggg000", "red"})
        EXPECT_NEAR(MarkupExporter::hexColor(bad, "#2f6fd0").b, 0xd0 / 255.0, 1e-9) << bad;
    EXPECT_EQ(MarkupExporter::memoPalette("purple"), MarkupExporter::memoPalette(""));  // the yellow default
    EXPECT_DOUBLE_EQ(MarkupExporter::chipOriginX(100, 50, 300, 2), 100);  // fits: stays
    EXPECT_DOUBLE_EQ(MarkupExporter::chipOriginX(280, 50, 300, 2), 248);  // ends 2 inside the edge
    EXPECT_DOUBLE_EQ(MarkupExporter::chipOriginX(100, 400, 300, 2), 2);   // wider than the page
}

// Layouts from a broken or hostile page: far-off and huge numbers, negative sizes and thousands of entries end in a
// written file or a refusal, never a crash; drawable pages still come out.
TEST(MarkupExporterHostileLayout, ExportsWhatIsDrawable) {
    TempDir dir;
    const auto pdf = dir / "script.pdf";
    testing::writePdf(pdf, {{300, 400, {{30, 40, "One"}}}, {300, 400, {{30, 40, "Two"}}}, {300, 400, {{30, 40, "Three"}}}});
    Json page0 = {{"index", 0}, {"extra", 0}, {"pageWpx", 1e-300}, {"labelFontPx", 1e300}};
    Json page1 = {{"index", 1}, {"extra", 1e300}, {"pageWpx", 600}};  // too tall to draw: left out
    Json page2 = {{"index", 2}, {"extra", -0.5}, {"pageWpx", 600}};
    Json many = Json::array();
    for (int i = 0; i < 3000; ++i) {
        const double v = i % 3 == 0 ? 1e300 : i % 3 == 1 ? -1e12 : 0.5;
        many.push_back({{"x", v}, {"w", v}, {"dy", 0.1}, {"dh", v}, {"padL_px", v}, {"padR_px", 0},
                        {"outlineOffset_px", v}, {"kind", "cut"}, {"lineH", v}, {"text", "Q\nGO"}});
    }
    for (Json* page : {&page0, &page2})
        for (const char* list : {"cues", "labels", "marks", "inserts"}) (*page)[list] = many;
    // Gaps and split rows that move the text off the page: page 0 comes out blank.
    page0["gaps"] = {{{"afterY", -1e300}, {"height", 1e300}}, {{"afterY", 0.5}, {"height", -2}}};
    page0["hrows"] = {{{"top", 0}, {"bottom", 1}, {"x0", 1e300}, {"x1", -1e300}, {"dL", 1e300}, {"dR", 1}}};
    const auto layout = Layout::fromJson({{"labelFontPx", 12}, {"labelLineH", 1e300}, {"labelPadX_px", -1e300},
                                          {"labelPadY_px", 2}, {"markRadius_px", 1e300}, {"insertLineK", -1e300},
                                          {"pages", {page0, page1, page2}}});
    ASSERT_TRUE(layout);
    CueSidecar sidecar;
    sidecar.flags.push_back({.page = 2, .x = 1e300, .text = std::string(5000, 'x'), .color = {}, .role = {}});
    sidecar.memos.push_back({.page = 2, .h = -1e300, .text = {}, .color = {}});

    const auto out = dir / "marked.pdf";
    ASSERT_TRUE(MarkupExporter::exportMarkedScript(pdf, sidecar, *layout, out, true, false));
    Exported e(out);
    ASSERT_EQ(e.pages(), 2);  // page 2 of the script could not be drawn
    EXPECT_NEAR(e.size(1)[1], e.size(0)[1] / 2, 0.01);  // extra -0.5 taken as measured
}

}  // namespace
}  // namespace tallowmark
