#include "staging/copy_engine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "staging_test_support.h"

namespace {

using namespace staging_test;

class CopyTree : public ::testing::Test {
protected:
    void SetUp() override {
        resetStagingGlobals();
        source = scratch.path / "disc DATA";
        target = scratch.path / "workspace DATA";
    }
    void TearDown() override { resetStagingGlobals(); }

    TempFolder scratch{"lumidra staging ž"};
    fs::path source;
    fs::path target;
};

TEST_F(CopyTree, CopiesEveryFileAndFolderButLeavesExistingNamesAlone) {
    writeFileBytes(source / "IM0001", "disc image 1");
    writeFileBytes(source / "IM0002", "disc image 2");
    writeFileBytes(source / "series 1" / "IM0003", std::string(300000, 'x'));
    writeFileBytes(source / "series 1" / "deeper" / "žluťoučký kůň.dcm", "non-ascii name");
    fs::create_directories(source / "empty series");
    // Unpacked from the data archive before the walk: must survive even though the disc differs.
    writeFileBytes(target / "IM0001", "from the archive");

    copyTree(source, target);

    EXPECT_TRUE(copyOk);
    EXPECT_EQ(readFileBytes(target / "IM0001"), "from the archive");
    EXPECT_EQ(readFileBytes(target / "IM0002"), "disc image 2");
    EXPECT_EQ(readFileBytes(target / "series 1" / "IM0003"), std::string(300000, 'x'));
    EXPECT_EQ(readFileBytes(target / "series 1" / "deeper" / "žluťoučký kůň.dcm"), "non-ascii name");
    EXPECT_EQ(listTree(target),
              "IM0001\nIM0002\nempty series/\nseries 1/\nseries 1/IM0003\nseries 1/deeper/\n"
              "series 1/deeper/žluťoučký kůň.dcm\n");
}

TEST_F(CopyTree, AnExistingBkpNameFailsThatFileOnly) {
    writeFileBytes(source / "a.dcm", "a");
    writeFileBytes(source / "b.dcm", "b");
    writeFileBytes(source / "sub" / "c.dcm", "c");
    writeFileBytes(target / "a.dcm.bkp", "someone else's copy");

    copyTree(source, target);

    EXPECT_FALSE(copyOk);
    EXPECT_FALSE(fs::exists(target / "a.dcm"));
    EXPECT_EQ(readFileBytes(target / "a.dcm.bkp"), "someone else's copy");
    EXPECT_EQ(readFileBytes(target / "b.dcm"), "b");
    EXPECT_EQ(readFileBytes(target / "sub" / "c.dcm"), "c");

    // A later success does not make up for the failure.
    copyTree(source, scratch.path / "second target");
    EXPECT_FALSE(copyOk);
}

TEST_F(CopyTree, ClearedKeepRunningStopsTheWalkWithoutCountingAFailure) {
    // Only folders at the top: a file's own copy would notice the flag too.
    writeFileBytes(source / "sub" / "b.dcm", "b");
    fs::create_directories(source / "other sub");
    keepRunning = false;

    copyTree(source, target);
    EXPECT_EQ(listTree(target), "") << "not even a sub-folder is entered";
    // A walk's own folder is made before its first entry is looked at.
    copyTree(source / "sub", target / "sub");
    EXPECT_EQ(listTree(target), "sub/\n");
    EXPECT_TRUE(copyOk);
}

TEST_F(CopyTree, UnreadableSourceOrTargetEndsTheWalkWithAnError) {
    EXPECT_THROW(copyTree(source, target), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(target)) << "target is made before the source is read";

    writeFileBytes(scratch.path / "plain file", "not a folder");
    EXPECT_THROW(copyTree(scratch.path / "plain file", target), fs::filesystem_error);

    writeFileBytes(source / "a.dcm", "a");
    writeFileBytes(scratch.path / "file target", "x");
    EXPECT_THROW(copyTree(source, scratch.path / "file target"), fs::filesystem_error);
    EXPECT_THROW(copyTree(source, scratch.path / "no parent" / "target"), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(scratch.path / "no parent")) << "parents are never made";

    // An error deep down ends every level of the walk, not just its own.
    fs::create_directories(source / "a sub");
    writeFileBytes(source / "a sub" / "x.dcm", "x");
    writeFileBytes(target / "a sub", "a file where the folder should go");
    EXPECT_THROW(copyTree(source, target), fs::filesystem_error);
}

TEST_F(CopyTree, KeepsTheOwnersPermissionsFollowsLinksAndRefusesSpecialFiles) {
    writeFileBytes(source / "readonly.dcm", "r");
    fs::permissions(source / "readonly.dcm", fs::perms::owner_read | fs::perms::group_read);
    writeFileBytes(scratch.path / "elsewhere" / "linked.dcm", "through a link");
    fs::create_directory_symlink(scratch.path / "elsewhere", source / "linked folder");
    fs::create_symlink(source / "missing", source / "dangling");
    ASSERT_EQ(::mkfifo((source / "pipe").c_str(), 0600), 0);

    copyTree(source, target);

    // The dangling link and the pipe cannot be copied; the pipe must not hang the walk.
    EXPECT_FALSE(copyOk);
    // Read-only stays read-only; others get nothing.
    EXPECT_EQ(fs::status(target / "readonly.dcm").permissions(), fs::perms::owner_read);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(target / "linked folder")));
    EXPECT_EQ(readFileBytes(target / "linked folder" / "linked.dcm"), "through a link");
    EXPECT_EQ(listTree(target), "linked folder/\nlinked folder/linked.dcm\nreadonly.dcm\n");
}

TEST_F(CopyTree, ALinkBackToAnAncestorIsSkippedWithAWarningAndTheStudyCopiedOnce) {
    writeFileBytes(source / "S1" / "I1.dcm", "image 1");
    writeFileBytes(source / "S1" / "deeper" / "I2.dcm", "image 2");
    fs::create_directory_symlink("..", source / "S1" / "up");
    fs::create_directory_symlink("../..", source / "S1" / "deeper" / "top");
    fs::create_directory_symlink(".", source / "S1" / "self");
    // A second way into a folder that is no ancestor is no cycle: it is copied like any other.
    fs::create_directory_symlink("S1/deeper", source / "shortcut");
    LogMark log;

    copyTree(source, target);

    EXPECT_EQ(listTree(target), "S1/\nS1/I1.dcm\nS1/deeper/\nS1/deeper/I2.dcm\nshortcut/\nshortcut/I2.dcm\n");
    EXPECT_TRUE(copyOk) << "a skipped cycle is not a failed file";
    for (const char* link : {"S1/up", "S1/deeper/top", "S1/self"})
        EXPECT_TRUE(log.has(" WARN: Link cycle skipped: " + (source / link).string() + "\n"))
            << link << log.added();
}

class CopyStatus : public CopyTree {};

TEST_F(CopyStatus, HoldsExactlyOneByteAfterEveryWrite) {
    workspaceDataDir = scratch.path / "DATA";
    fs::create_directories(workspaceDataDir);
    fs::path file = workspaceDataDir / "copy_status.txt";
    LogMark log;

    writeCopyStatus(true);
    EXPECT_EQ(readFileBytes(file), "1");
    writeCopyStatus(false);
    EXPECT_EQ(readFileBytes(file), "0");
    writeCopyStatus(true);
    EXPECT_EQ(readFileBytes(file), "1");
    EXPECT_EQ(fs::file_size(file), 1u);
    EXPECT_FALSE(log.has("ERROR"));
}

TEST_F(CopyStatus, AFailedWriteIsLoggedAndTheRunGoesOn) {
    workspaceDataDir = scratch.path / "gone" / "DATA";
    LogMark log;
    EXPECT_NO_THROW(writeCopyStatus(true));
    EXPECT_TRUE(log.has(" ERROR: Cannot create copy status file\n")) << log.added();
    EXPECT_FALSE(fs::exists(scratch.path / "gone"));

    // Without a workspace nothing lands in the current directory.
    fs::path savedCwd = fs::current_path();
    fs::current_path(scratch.path);
    workspaceDataDir.clear();
    writeCopyStatus(false);
    fs::current_path(savedCwd);
    EXPECT_FALSE(fs::exists(scratch.path / "copy_status.txt"));
}

TEST_F(CopyStatus, StagingWithoutAWorkspaceTouchesNothing) {
    workspaceDataDir = scratch.path / "DATA";
    LogMark log;
    EXPECT_FALSE(stageNecessaryFiles());
    EXPECT_TRUE(log.has(" ERROR: Cannot copy necessary files to TEMP dir.\n")) << log.added();
    EXPECT_FALSE(log.has("Copying files..."));
    EXPECT_EQ(listTree(scratch.path), "");
    EXPECT_TRUE(keepRunning) << "a missing workspace is not an exception";
}

}  // namespace
