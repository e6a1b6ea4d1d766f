#include <system_error>

#include "update/build_info.hpp"

namespace tallowmark::update {

namespace fs = std::filesystem;

std::filesystem::path bundleExecutable(const fs::path& bundle) { return bundle / "Contents" / "bin" / "tallowmark"; }

std::optional<fs::path> bundleOfExecutable(const fs::path& executable) {
    const fs::path bin = executable.parent_path();
    const fs::path contents = bin.parent_path();
    const fs::path bundle = contents.parent_path();
    if (bin.filename() != "bin" || contents.filename() != "Contents" || bundle.filename() != "TALLOWMARK.app") {
        return std::nullopt;
    }
    std::error_code error;
    if (!fs::is_regular_file(contents / "Info.json", error)) return std::nullopt;
    return bundle;
}

}  // namespace tallowmark::update
