#include "core/atomic_file.hpp"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <chrono>

#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

using testing::TempDir;
using testing::readText;
using testing::writeText;

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 07777;
}

// Sets the umask for one test and puts the old one back.
struct UmaskScope {
    explicit UmaskScope(mode_t mask) : old(::umask(mask)) {}
    ~UmaskScope() { ::umask(old); }
    mode_t old;
};

TEST(AtomicFile, ReplacesWholeFileKeepingItsPermissionsOrFailsLeavingNothingBehind) {
    TempDir dir;
    const auto path = dir / "Show.tallowmark";
    writeText(path, "old content that is longer than the new one");
    chmod(path.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, "new", &error)) << error;
    EXPECT_EQ(readText(path), "new");
    EXPECT_EQ(modeOf(path), 0640u);
    EXPECT_EQ(dir.entries(), 1);

    EXPECT_FALSE(writeFileAtomically(dir / "missing-folder/file.json", "x", &error));
    EXPECT_EQ(error, "No such file or directory");
    // A folder in the way: the rename fails after the temporary file was written.
    std::filesystem::create_directory(dir / "taken");
    writeText(dir / "taken" / "inside", "keep");
    error.clear();
    EXPECT_FALSE(writeFileAtomically(dir / "taken", "new", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readText(dir / "taken" / "inside"), "keep");
    EXPECT_EQ(dir.entries(), 2) << "the temporary file is removed";

    EXPECT_EQ(readWholeFile(dir / "nope", 100).status, ReadStatus::missing);
    EXPECT_EQ(readWholeFile(dir / "taken", 100).status, ReadStatus::failed);
    writeText(path, std::string(101, 'x'));
    EXPECT_EQ(readWholeFile(path, 100).status, ReadStatus::tooLarge);
    const auto ok = readWholeFile(path, 101);
    EXPECT_EQ(ok.status, ReadStatus::ok);
    EXPECT_EQ(ok.bytes.size(), 101u);
}

// A replaced file keeps its mode unless we could not read it (root reads
// anything, so that is judged by the owner's bits): then it is made readable
// under the umask, and that is logged once.
TEST(AtomicFile, FilesTakeTheUmaskAndAFileWeCannotReadIsReplacedByAReadableOne) {
    TempDir dir;
    struct Case { mode_t mask; std::optional<mode_t> before; mode_t after; };
    const Case cases[] = {{022, {}, 0644},   {077, {}, 0600},   {002, {}, 0664},  {027, {}, 0640},
                          {022, 0000, 0644}, {022, 0200, 0644}, {022, 0044, 0644}};
    for (const Case& c : cases) {
        const UmaskScope scope(c.mask);
        EXPECT_EQ(currentUmask(), c.mask);
        const auto path = dir / ("file-" + std::to_string(c.mask) + "-" + std::to_string(c.before.value_or(07777)));
        if (c.before) {
            writeText(path, "old");
            ::chmod(path.c_str(), *c.before);
        }
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(writeFileAtomically(path, "new"));
        ASSERT_TRUE(writeFileAtomically(path, "newer"));
        const std::string err = ::testing::internal::GetCapturedStderr();
        SCOPED_TRACE(::testing::Message() << "umask " << std::oct << c.mask << ", mode " << c.before.value_or(07777));
        EXPECT_EQ(modeOf(path), c.after);
        EXPECT_EQ(readText(path), "newer");
        EXPECT_EQ(err, c.before ? "TALLOWMARK: korvattava tiedosto ei ollut luettavissa, uusi tiedosto kirjoitetaan "
                                  "luettavaksi: " + path.string() + "\n" : "");
    }
}

TEST(AtomicFile, OnlyStaleTemporariesOfOurOwnNamingAreSwept) {
    TempDir dir;
    const auto target = dir / "Show.tallowmark-run";
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    struct Case {
        const char* name;
        bool old, locked, removed;
    };
    const Case cases[] = {
        {".Show.tallowmark-run.tmp-Ab3dE9", true, false, true},    // a killed writer's leftover
        {".Show.tallowmark-run.tmp-zZ09aQ", false, false, false},  // fresh: may be mid-write
        {".Show.tallowmark-run.tmp-Lk8mN2", true, true, false},    // its writer still holds it
        {".Show.tallowmark-run.tmp-Ab3dE", true, false, false},    // five letters: not mkstemp's
        {".Show.tallowmark-run.tmp-Ab3dE9x", true, false, false},
        {".Show.tallowmark-run.tmp-Ab_dE9", true, false, false},
        {"Show.tallowmark-run.tmp-Ab3dE9", true, false, false},    // not hidden: not ours
        {".Show.tallowmark.tmp-Ab3dE9", true, false, false},       // another file's
    };
    std::vector<int> locks;
    for (const Case& c : cases) {
        writeText(dir / c.name, "partial");
        if (c.old) fs::last_write_time(dir / c.name, old);
        if (c.locked) {
            locks.push_back(::open((dir / c.name).c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(::flock(locks.back(), LOCK_EX), 0);
        }
    }
    fs::create_directory(dir / ".Show.tallowmark-run.tmp-Dir123");
    fs::last_write_time(dir / ".Show.tallowmark-run.tmp-Dir123", old);
    // Named like debris, but another file's second name, or the file being
    // replaced as its link leads: never taken.
    writeText(dir / "Show.pdf", "script");
    fs::create_hard_link(dir / "Show.pdf", dir / ".Show.tallowmark-run.tmp-Hard01");
    fs::last_write_time(dir / "Show.pdf", old);
    writeText(dir / ".Show.tallowmark-run.tmp-Link01", "the run as it was");
    fs::last_write_time(dir / ".Show.tallowmark-run.tmp-Link01", old);
    fs::create_symlink(".Show.tallowmark-run.tmp-Link01", target);

    ASSERT_TRUE(writeFileAtomically(target, "x"));
    for (const Case& c : cases) EXPECT_EQ(fs::exists(dir / c.name), !c.removed) << c.name;
    EXPECT_TRUE(fs::is_directory(dir / ".Show.tallowmark-run.tmp-Dir123"));
    EXPECT_EQ(readText(dir / ".Show.tallowmark-run.tmp-Hard01"), "script");
    EXPECT_EQ(readText(dir / ".Show.tallowmark-run.tmp-Link01"), "the run as it was");
    for (int fd : locks) ::close(fd);
}

TEST(AtomicFile, AStagedFileIsWholeInPlaceOnlyAfterCommitAndGoneIfNeverCommitted) {
    TempDir dir;
    writeText(dir / "source", std::string(200000, 'q'));
    {
        auto staged = StagedFile::copy(dir / "source", dir / "bak1");
        ASSERT_TRUE(staged);
        EXPECT_FALSE(fs::exists(dir / "bak1"));
        EXPECT_EQ(readText(staged->temporaryPath()), readText(dir / "source")) << "written and flushed before commit";
    }
    EXPECT_EQ(dir.entries(), 1) << "an abandoned copy leaves nothing";

    auto staged = StagedFile::copy(dir / "source", dir / "bak1");
    ASSERT_TRUE(staged && staged->commit());
    EXPECT_EQ(readText(dir / "bak1"), readText(dir / "source"));
    EXPECT_EQ(dir.entries(), 2);

    std::string error;
    EXPECT_FALSE(StagedFile::copy(dir.path(), dir / "bak2", &error));
    EXPECT_EQ(error, "Is a directory");
    EXPECT_FALSE(StagedFile::copy(dir / "missing", dir / "bak2", &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(dir.entries(), 2);
}

}  // namespace
}  // namespace tallowmark
