#pragma once

// The script page drawn onto the output page in bands, so the room made for
// inserted lines and the rows moved aside at a cut open up in the page itself.

#include <cairo.h>

#include "document/document_store.hpp"
#include "export/export_drawing.hpp"
#include "export/export_layout.hpp"

namespace tallowmark::export_drawing {

// Without a measured page the whole page is drawn as one band.
void drawPageBands(cairo_t* cr, const DocumentStore& store, int index, const PageFrame& frame, const PageGeometry& g,
                   const PageLayout* page);

}  // namespace tallowmark::export_drawing
