#pragma once

// The files that belong to an open script: the script, its marks file, the
// marks backups and the run file. A copy of the script or a marked export must
// never land on any of them, or it would destroy what it was made from.

#include <filesystem>
#include <optional>
#include <vector>

namespace tallowmark {

enum class ScriptFileKind { script, marks, marksBackup, runFile };

struct ScriptFile {
    ScriptFileKind kind;
    std::filesystem::path path;
};

// The script at `pdf` and the files beside it that belong to it, whether or
// not they exist yet.
std::vector<ScriptFile> scriptFilesOf(const std::filesystem::path& pdf);

// Which of the files of the script at `pdf` `path` names, by file identity
// (core/file_identity); none when it names none of them.
std::optional<ScriptFileKind> scriptFileAt(const std::filesystem::path& pdf, const std::filesystem::path& path);

}  // namespace tallowmark
