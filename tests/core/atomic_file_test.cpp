#include "core/atomic_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;
using testing::readText;
using testing::writeText;

long entriesIn(const TempDir& dir) {
    return std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator());
}

TEST(AtomicFile, ReplacesWholeFileKeepingItsPermissionsAndLeavesNoTemporaryBehind) {
    TempDir dir;
    const auto path = dir / "Show.tallowmark";
    writeText(path, "old content that is longer than the new one");
    chmod(path.c_str(), 0640);

    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, "new", &error)) << error;
    EXPECT_EQ(readText(path), "new");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(entriesIn(dir), 1);
}

TEST(AtomicFile, FailureReportsErrorAndLeavesNothingBehind) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "missing-folder/file.json", "x", &error));
    EXPECT_EQ(error, "No such file or directory");

    // A folder in the way: the rename fails after the temporary file was written.
    std::filesystem::create_directory(dir / "taken");
    writeText(dir / "taken" / "inside", "keep");
    error.clear();
    EXPECT_FALSE(writeFileAtomically(dir / "taken", "new", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readText(dir / "taken" / "inside"), "keep");
    EXPECT_EQ(entriesIn(dir), 1) << "the temporary file is removed";
}

TEST(AtomicFile, ReadDistinguishesMissingTooLargeAndFolder) {
    TempDir dir;
    EXPECT_EQ(readWholeFile(dir / "nope", 100).status, ReadStatus::missing);
    EXPECT_EQ(readWholeFile(dir.path(), 100).status, ReadStatus::failed);
    writeText(dir / "big", std::string(101, 'x'));
    EXPECT_EQ(readWholeFile(dir / "big", 100).status, ReadStatus::tooLarge);
    const auto ok = readWholeFile(dir / "big", 101);
    EXPECT_EQ(ok.status, ReadStatus::ok);
    EXPECT_EQ(ok.bytes.size(), 101u);
}

}  // namespace
}  // namespace tallowmark
