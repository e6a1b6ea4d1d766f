#pragma once

// What the exporter draws over the script page: hidden and cut lines,
// highlights, regions, memos, flags, cue boxes, inserted lines and labels.

#include <cairo.h>

#include <cstdint>
#include <cstdio>

#include "cues/cue_sidecar.hpp"
#include "export/export_drawing.hpp"
#include "export/export_layout.hpp"

namespace tallowmark::export_drawing {

// Without a measured page only the sidecar's own marks are drawn. debugOut,
// when set, gets each label's measures.
void drawOverlays(cairo_t* cr, const PageGeometry& g, std::int64_t pageIndex, const CueSidecar& sidecar,
                  bool includeMemos, const Layout& layout, const PageLayout* page, std::FILE* debugOut);

}  // namespace tallowmark::export_drawing
