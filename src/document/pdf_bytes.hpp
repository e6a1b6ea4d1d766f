#pragma once

// The bytes of one opened PDF file, read once and shared by the layout and the
// drawing handle, so both see the same file even if it changes on disk.

#include <filesystem>
#include <memory>

typedef struct _GBytes GBytes;

namespace tallowmark {

using PdfBytes = std::shared_ptr<GBytes>;

// Whole file contents; none when the file cannot be read.
PdfBytes readPdfBytes(const std::filesystem::path& path);

// Why poppler would not open a PDF. `locked`: the file is encrypted and needs
// a password, or the one given is wrong; poppler does not tell the two apart.
enum class PdfOpenError { unreadable, locked };

}  // namespace tallowmark
