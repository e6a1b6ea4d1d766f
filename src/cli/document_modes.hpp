#pragma once

// The command-line modes that inspect a script's text: lines, sizes, text
// boxes, selection snapping and lock waits. Each prints to `out` and returns
// the exit status.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "document/document_store.hpp"

namespace tallowmark {

// The script a mode reads, with the password given by "--password" (empty: none).
struct ScriptOperand {
    std::filesystem::path path;
    std::string password;
    // Scanned pages are read by text recognition (from the cache when it has them), as the program reads them.
    bool readScans = false;
};

// Opens the script for a mode. On failure prints one line: `unreadable` for
// a file that is no readable PDF; for a locked one, that it needs
// "--password", or that the one given is wrong.
std::optional<DocumentStore::Info> openForMode(DocumentStore& store, const ScriptOperand& pdf, std::FILE* out,
                                               const char* unreadable = "virhe: PDF:aa ei voitu avata\n");

int pageLinesMode(const ScriptOperand& pdf, int page, std::FILE* out);
// `crop` is the operand of "--maxtext-crop", when given.
int maxTextDataMode(const ScriptOperand& pdf, const std::optional<std::string>& crop, std::FILE* out);
int pageSizesMode(const ScriptOperand& pdf, std::FILE* out);
int lockLatencyMode(const ScriptOperand& pdf, std::FILE* out);
int snapTestMode(const ScriptOperand& pdf, std::FILE* out);
int textBoxMode(const ScriptOperand& pdf, std::FILE* out);
// Every match of `text` in the script, as the program's search finds them.
int searchMode(const ScriptOperand& pdf, const std::string& text, std::FILE* out);

}  // namespace tallowmark
