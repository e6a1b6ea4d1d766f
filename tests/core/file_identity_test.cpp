#include "core/file_identity.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

// Two paths that name one file under different texts, and two that look alike
// but do not: the identity rule against what path text would say.
TEST(FileIdentity, SameFileFollowsLinksFoldersAndPlacesNotYetCreated) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    testing::writeText(dir / "Show.pdf", "script");
    testing::writeText(dir / "Other.pdf", "other");
    fs::create_directory_symlink(dir.path(), dir / "link");
    fs::create_symlink(dir / "Show.pdf", dir / "Alias.pdf");
    fs::create_hard_link(dir / "Show.pdf", dir / "Hard.pdf");
    fs::create_symlink("Pending.tallowmark", dir / "Dangling.tallowmark");
    const fs::path relativeDir = fs::relative(dir.path(), fs::current_path());

    struct Row { fs::path a, b; bool same; };
    const std::vector<Row> rows = {
        {dir / "Show.pdf", dir / "Show.pdf", true},
        {dir / "Show.pdf", dir / "link" / "Show.pdf", true},
        {dir / "Show.pdf", dir / "sub" / ".." / "Show.pdf", true},
        {dir / "Show.pdf", relativeDir / "Show.pdf", true},
        {dir / "Show.pdf", dir / "Alias.pdf", true},
        {dir / "Show.pdf", dir / "Hard.pdf", true},
        {dir / "Show.pdf", dir / "Other.pdf", false},
        // Nothing there yet: the same entry of the same folder.
        {dir / "New.pdf", dir / "link" / "New.pdf", true},
        {dir / "New.pdf", dir / "sub" / "New.pdf", false},
        {dir / "New.pdf", dir / "NEW.pdf", false},  // this folder tells case apart
        {dir / "Show.PDF", dir / "Show.pdf", false},
        // A write through a dangling link creates the file it points at.
        {dir / "Dangling.tallowmark", dir / "link" / "Pending.tallowmark", true},
        {dir / "Dangling.tallowmark", dir / "Dangling2.tallowmark", false},
        // A folder that does not exist: only the same text is the same place.
        {dir / "gone" / "x.pdf", dir / "gone" / "." / "x.pdf", true},
        {dir / "gone" / "x.pdf", dir / "gone" / "y.pdf", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(sameFile(row.a, row.b), row.same) << row.a << " vs " << row.b;
        EXPECT_EQ(sameFile(row.b, row.a), row.same) << row.b << " vs " << row.a;
    }
    // findSameFile gives the first match.
    const std::vector<fs::path> files = {dir / "Show.tallowmark", dir / "Show.pdf", dir / "link" / "Show.pdf"};
    EXPECT_EQ(findSameFile(dir / "link" / "Show.pdf", files), 1u);
    EXPECT_EQ(findSameFile(dir / "link" / "Show.tallowmark", files), 0u);
    EXPECT_EQ(findSameFile(dir / "Show.tallowmark-run", files), std::nullopt);
    EXPECT_EQ(findSameFile(dir / "Show.pdf", {}), std::nullopt);
}

}  // namespace
}  // namespace tallowmark
