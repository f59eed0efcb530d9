#include "staging/stale_workspaces.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "staging/owned_folder.h"
#include "staging/workspace_lock.h"
#include "staging_test_support.h"

namespace {

using namespace staging_test;

// Another launcher: a process that takes the lock of folder and holds it until told to end, or that
// ends at once (a launcher that was killed). Its lock dies with it.
class OtherLauncher {
public:
    OtherLauncher(const fs::path& folder, bool keepRunning) {
        int ready[2], release[2];
        EXPECT_EQ(::pipe(ready), 0);
        EXPECT_EQ(::pipe(release), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            char taken = lockWorkspace(folder) ? 'y' : 'n';
            if (::write(ready[1], &taken, 1) != 1) ::_exit(2);
            char ignored;
            if (keepRunning) (void)!::read(release[0], &ignored, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char taken = 'n';
        EXPECT_EQ(::read(ready[0], &taken, 1), 1);
        EXPECT_EQ(taken, 'y');
        ::close(ready[0]);
        if (!keepRunning) end();
    }
    ~OtherLauncher() { end(); }
    void end() {
        if (release_ >= 0) ::close(release_);
        release_ = -1;
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
};

class StaleWorkspaces : public ::testing::Test {
protected:
    void SetUp() override { resetStagingGlobals(); }
    void TearDown() override { resetStagingGlobals(); }

    // As a launcher makes it: open to its user only.
    fs::path workspaceWithStudy(const std::string& name) { return studyIn(scratch.path / name); }

    static fs::path studyIn(const fs::path& folder) {
        writeFileBytes(folder / "DATA" / "DICOM" / "S1" / "I1.dcm", "patient image");
        writeFileBytes(folder / "DATA" / "copy_status.txt", "1");
        fs::permissions(folder, fs::perms::owner_all);
        return folder;
    }

    TempFolder scratch{"lumidra stale ž"};
};

TEST_F(StaleWorkspaces, ADeadLaunchersWorkspaceGoesARunningOnesStays) {
    fs::path dead = workspaceWithStudy("LUMIDRA_dead");
    fs::path running = workspaceWithStudy("LUMIDRA_1234abcd");
    OtherLauncher killed(dead, false);
    OtherLauncher alive(running, true);
    ASSERT_TRUE(fs::exists(dead / WORKSPACE_LOCK_NAME));
    LogMark log;

    removeStaleWorkspaces(scratch.path);

    EXPECT_FALSE(fs::exists(dead));
    EXPECT_EQ(
        listTree(running),
        "DATA/\nDATA/DICOM/\nDATA/DICOM/S1/\nDATA/DICOM/S1/I1.dcm\nDATA/copy_status.txt\nlumidra.lock\n");
    EXPECT_EQ(readFileBytes(running / "DATA" / "DICOM" / "S1" / "I1.dcm"), "patient image");
    EXPECT_TRUE(log.has(" INFO: Stale workspaces removed: 1\n")) << log.added();
    EXPECT_FALSE(log.has("WARN")) << log.added();

    // Once that launcher has ended too, the next start removes its workspace.
    alive.end();
    LogMark second;
    removeStaleWorkspaces(scratch.path);
    EXPECT_FALSE(fs::exists(running));
    EXPECT_TRUE(second.has(" INFO: Stale workspaces removed: 1\n")) << second.added();
}

TEST_F(StaleWorkspaces, AWorkspaceWhoseOwnerCannotBeToldIsLeftAndLogged) {
    // An older launcher made no lock; one still creating its workspace has none yet.
    fs::path unknown = workspaceWithStudy("LUMIDRA_01d");
    // Only workspaces are looked at: other folders, a file of that name, a link to a workspace.
    fs::path other = workspaceWithStudy("lumidra_lower");
    writeFileBytes(other / WORKSPACE_LOCK_NAME, "");
    writeFileBytes(scratch.path / "LUMIDRA_file", "not a folder");
    fs::path target = workspaceWithStudy("elsewhere");
    writeFileBytes(target / WORKSPACE_LOCK_NAME, "");
    fs::create_directory_symlink(target, scratch.path / "LUMIDRA_link");
    LogMark log;

    removeStaleWorkspaces(scratch.path);

    EXPECT_TRUE(fs::exists(unknown / "DATA" / "DICOM" / "S1" / "I1.dcm"));
    EXPECT_TRUE(
        log.has(" WARN: Workspace left in place, its launcher cannot be told: " + unknown.string() + "\n"))
        << log.added();
    EXPECT_TRUE(fs::exists(other / "DATA" / "copy_status.txt"));
    EXPECT_TRUE(fs::exists(scratch.path / "LUMIDRA_file"));
    EXPECT_TRUE(fs::exists(target / "DATA" / "copy_status.txt"));
    EXPECT_TRUE(fs::is_symlink(scratch.path / "LUMIDRA_link"));
    EXPECT_TRUE(log.has(" INFO: Stale workspaces removed: 0\n")) << log.added();
}

TEST_F(StaleWorkspaces, ATerminatingLauncherStopsLooking) {
    fs::path dead = workspaceWithStudy("LUMIDRA_dead");
    OtherLauncher killed(dead, false);
    keepRunning = false;
    removeStaleWorkspaces(scratch.path);
    EXPECT_TRUE(fs::exists(dead / "DATA" / "copy_status.txt"));
}

// What a workspace holds, listed, with the content of every file: unchanged means untouched.
std::string treeWithContent(const fs::path& folder) {
    std::string text = listTree(folder);
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
        if (fs::is_regular_file(it->symlink_status())) text += readFileBytes(it->path()) + "\n";
    return text;
}

TEST_F(StaleWorkspaces, OnlyAClosedFolderOfThisUserWithALockOfItsOwnIsSwept) {
    fs::path victim = scratch.path / "home of the user";
    writeFileBytes(victim / "thesis.txt", "years of work");
    // Gone, with links inside that lead out: the links go, never what they lead to.
    fs::path dead = workspaceWithStudy("LUMIDRA_dead");
    OtherLauncher killed(dead, false);
    fs::create_directory_symlink(victim, dead / "DATA" / "DICOM" / "S2");
    fs::create_symlink(victim / "thesis.txt", dead / "DATA" / "thesis link");
    // Open to others: not a folder a launcher made, whoever could have filled it.
    fs::path open = workspaceWithStudy("LUMIDRA_open");
    OtherLauncher openOwner(open, false);
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    // A lock that is a link to a file elsewhere tells nothing about the folder.
    fs::path borrowed = workspaceWithStudy("LUMIDRA_b0");
    writeFileBytes(scratch.path / "some lock", "");
    fs::create_symlink(scratch.path / "some lock", borrowed / WORKSPACE_LOCK_NAME);
    std::string openBefore = treeWithContent(open);
    std::string borrowedBefore = treeWithContent(borrowed);
    LogMark log;

    removeStaleWorkspaces(scratch.path);

    EXPECT_FALSE(fs::exists(fs::symlink_status(dead)));
    EXPECT_EQ(treeWithContent(victim), "thesis.txt\nyears of work\n");
    EXPECT_EQ(treeWithContent(open), openBefore);
    EXPECT_EQ(treeWithContent(borrowed), borrowedBefore);
    EXPECT_TRUE(fs::exists(scratch.path / "some lock"));
    EXPECT_TRUE(log.has(" INFO: Stale workspaces removed: 1\n")) << log.added();
    EXPECT_TRUE(
        log.has(" WARN: Workspace left in place, its launcher cannot be told: " + borrowed.string() + "\n"))
        << log.added();
}

TEST_F(StaleWorkspaces, WhatAnotherUserPlantsIsNeverSwept) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as a second user";
    // A temporary folder every user writes into, as /tmp is.
    fs::path shared = scratch.path / "tmp";
    fs::create_directories(shared);
    ::chmod(scratch.path.c_str(), 0755);
    ::chmod(shared.c_str(), 01777);
    fs::path victim = scratch.path / "home of the user";
    writeFileBytes(victim / "thesis.txt", "years of work");
    fs::path planted = shared / "LUMIDRA_5eed";
    fs::path lockOfOurs = shared / "LUMIDRA_ab";
    // The other user's folder has everything a workspace of ours has, a link to the user's folder
    // where a sub-folder would be, and a lock nobody holds: a hard link to a file of the user,
    // which a system without protected hard links lets anyone make.
    ASSERT_TRUE(asOtherUser([&] {
        return ::mkdir(planted.c_str(), 0700) == 0 && ::mkdir((planted / "DATA").c_str(), 0700) == 0 &&
               ::symlink(victim.c_str(), (planted / "DATA" / "DICOM").c_str()) == 0;
    }));
    writeFileBytes(victim / "notes.txt", "");
    ASSERT_EQ(::link((victim / "notes.txt").c_str(), (planted / WORKSPACE_LOCK_NAME).c_str()), 0);
    // A closed folder of ours whose lock file the other user made.
    fs::path ours = studyIn(lockOfOurs);
    writeFileBytes(ours / WORKSPACE_LOCK_NAME, "");
    ASSERT_EQ(::chown((ours / WORKSPACE_LOCK_NAME).c_str(), OTHER_USER, OTHER_USER), 0);
    std::string plantedBefore = listTree(planted);
    LogMark log;

    removeStaleWorkspaces(shared);

    EXPECT_EQ(listTree(planted), plantedBefore);
    EXPECT_TRUE(fs::is_symlink(planted / "DATA" / "DICOM"));
    EXPECT_TRUE(fs::exists(planted / WORKSPACE_LOCK_NAME));
    EXPECT_EQ(listTree(victim), "notes.txt\nthesis.txt\n");
    EXPECT_EQ(readFileBytes(victim / "thesis.txt"), "years of work");
    EXPECT_EQ(readFileBytes(ours / "DATA" / "DICOM" / "S1" / "I1.dcm"), "patient image");
    EXPECT_TRUE(log.has(" INFO: Stale workspaces removed: 0\n")) << log.added();
    fs::remove_all(planted);
}

TEST_F(StaleWorkspaces, ALaunchersOwnWorkspaceIsLockedWhileItRunsAndGoesWholeAtTheEnd) {
    fs::path tmp = scratch.path / "temp";
    fs::create_directories(tmp);
    fs::path disc = scratch.path / "disc";
    fs::create_directories(disc);
    std::optional<std::string> savedTmp = currentTmpdir();
    fs::path savedCwd = fs::current_path();
    ::setenv("TMPDIR", tmp.c_str(), 1);
    fs::current_path(disc);
    createWorkspace();  // staging fails on this empty disc; the folder is made and locked first
    fs::current_path(savedCwd);
    restoreTmpdir(savedTmp);

    ASSERT_FALSE(workspaceDir.empty());
    fs::path created = workspaceDir;
    EXPECT_EQ(fs::status(created).permissions(), fs::perms::owner_all);
    {
        OwnedFolder opened;
        ASSERT_EQ(openOwnedFolder(created, opened), FolderCheck::Own);
        HeldLock held = 0;
        EXPECT_EQ(claimWorkspaceLock(opened, held), LockProbe::OwnerRunning);
    }
    // Another launcher starting now leaves it alone.
    removeStaleWorkspaces(tmp);
    EXPECT_TRUE(fs::is_directory(created));

    removeWorkspace();
    EXPECT_FALSE(fs::exists(created));
    EXPECT_EQ(listTree(tmp), "");
}

}  // namespace
