#include "document/pdf_bytes.hpp"

#include <glib.h>

namespace tallowmark {

PdfBytes readPdfBytes(const std::filesystem::path& path) {
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return nullptr;
    return PdfBytes(g_bytes_new_take(contents, length), g_bytes_unref);
}

}  // namespace tallowmark
