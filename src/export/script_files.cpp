#include "export/script_files.hpp"

#include "core/file_identity.hpp"
#include "cues/cue_engine.hpp"
#include "cues/cue_sidecar.hpp"
#include "cues/run_state.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

std::vector<ScriptFile> scriptFilesOf(const fs::path& pdf) {
    const fs::path marks = sidecarPathFor(pdf);
    std::vector<ScriptFile> files{{ScriptFileKind::script, pdf},
                                  {ScriptFileKind::marks, marks},
                                  {ScriptFileKind::runFile, runFilePathFor(marks)}};
    for (int n = 1; n <= CueEngine::backupCount; ++n)
        files.push_back({ScriptFileKind::marksBackup, CueEngine::backupPath(marks, n)});
    return files;
}

std::optional<ScriptFileKind> scriptFileAt(const fs::path& pdf, const fs::path& path) {
    const std::vector<ScriptFile> files = scriptFilesOf(pdf);
    std::vector<fs::path> paths;
    for (const ScriptFile& file : files) paths.push_back(file.path);
    if (const auto at = findSameFile(path, paths)) return files[*at].kind;
    return std::nullopt;
}

}  // namespace tallowmark
