#include "staging/file_copy.h"

#include <gtest/gtest.h>

#include "staging_test_support.h"

namespace {

using namespace staging_test;

bool always() { return true; }

TEST(FileCopy, CopiesContentModeAndTimeOfAFileOfManyBlocks) {
    TempFolder scratch{"lumidra staging ž"};
    std::string content;
    for (int i = 0; i < 1000003; ++i) content += static_cast<char>('a' + i % 26);
    writeFileBytes(scratch.path / "source file", content);
    fs::permissions(scratch.path / "source file",
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read);
    auto modified = fs::last_write_time(scratch.path / "source file") - std::chrono::hours(30);
    fs::last_write_time(scratch.path / "source file", modified);

    EXPECT_EQ(copyFileExclusive(scratch.path / "source file", scratch.path / "copy.bkp", always),
              FileCopyResult::Copied);
    EXPECT_EQ(readFileBytes(scratch.path / "copy.bkp"), content);
    EXPECT_EQ(fs::status(scratch.path / "copy.bkp").permissions(),
              fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(fs::last_write_time(scratch.path / "copy.bkp"), modified);
}

TEST(FileCopy, NeverTouchesAnExistingTarget) {
    TempFolder scratch{"lumidra staging ž"};
    writeFileBytes(scratch.path / "source", "new");
    writeFileBytes(scratch.path / "target", "old");
    EXPECT_EQ(copyFileExclusive(scratch.path / "source", scratch.path / "target", always),
              FileCopyResult::Failed);
    EXPECT_EQ(readFileBytes(scratch.path / "target"), "old");

    EXPECT_EQ(copyFileExclusive(scratch.path / "missing", scratch.path / "other", always),
              FileCopyResult::Failed);
    EXPECT_FALSE(fs::exists(scratch.path / "other"));
    EXPECT_EQ(copyFileExclusive(scratch.path, scratch.path / "other", always), FileCopyResult::Failed)
        << "a folder is not a file";
    EXPECT_FALSE(fs::exists(scratch.path / "other"));
}

TEST(FileCopy, ACancelledCopyLeavesNothingBehind) {
    TempFolder scratch{"lumidra staging ž"};
    writeFileBytes(scratch.path / "large", std::string(3 * 1024 * 1024, 'z'));
    int asked = 0;
    auto untilThirdBlock = [&asked] { return ++asked < 3; };

    EXPECT_EQ(copyFileExclusive(scratch.path / "large", scratch.path / "large.bkp", untilThirdBlock),
              FileCopyResult::Cancelled);
    EXPECT_EQ(asked, 3) << "the copy stops between blocks, not before or after the whole file";
    EXPECT_FALSE(fs::exists(scratch.path / "large.bkp"));
}

TEST(FileCopy, AFileTheKernelCannotCopyIsCopiedByReadingIt) {
    // /proc lies on another file system (as a disc does) and its files say they are empty:
    // the kernel refuses to copy them or copies nothing, so they must be read.
    fs::path source = "/proc/version";
    if (!fs::exists(source)) GTEST_SKIP() << "no /proc";
    std::string expected = readFileBytes(source);
    ASSERT_FALSE(expected.empty());
    TempFolder scratch{"lumidra staging ž"};
    EXPECT_EQ(copyFileExclusive(source, scratch.path / "version.bkp", always), FileCopyResult::Copied);
    EXPECT_EQ(readFileBytes(scratch.path / "version.bkp"), expected);
}

TEST(FileCopy, RenameReplacesTheFinalName) {
    TempFolder scratch{"lumidra staging ž"};
    writeFileBytes(scratch.path / "x.bkp", "complete");
    writeFileBytes(scratch.path / "x", "appeared meanwhile");
    EXPECT_TRUE(renameReplacing(scratch.path / "x.bkp", scratch.path / "x"));
    EXPECT_EQ(readFileBytes(scratch.path / "x"), "complete");
    EXPECT_FALSE(fs::exists(scratch.path / "x.bkp"));
    EXPECT_FALSE(renameReplacing(scratch.path / "x.bkp", scratch.path / "x"));
    EXPECT_EQ(readFileBytes(scratch.path / "x"), "complete");
}

}  // namespace
