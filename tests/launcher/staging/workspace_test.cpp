#include "staging/workspace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "serving/port_probe.h"
#include "staging/deferred_copy.h"
#include "staging/workspace_platform.h"
#include "staging_test_support.h"

namespace {

using namespace staging_test;

const std::regex LAUNCH_ID(R"(LUMIDRA_(0|[1-9a-f][0-9a-f]{0,15}))");

// Points TMPDIR (and the current directory) elsewhere for one test.
class Workspace : public ::testing::Test {
protected:
    void SetUp() override {
        resetStagingGlobals();
        savedTmp = currentTmpdir();
        savedCwd = fs::current_path();
        savedNumberSource = launchNumberSource;
    }
    void TearDown() override {
        removeWorkspace();
        restoreTmpdir(savedTmp);
        fs::current_path(savedCwd);
        launchNumberSource = savedNumberSource;
        resetStagingGlobals();
    }
    static void useTmp(const std::string& folder) { ::setenv("TMPDIR", folder.c_str(), 1); }

    std::optional<std::string> savedTmp;
    fs::path savedCwd;
    uint64_t (*savedNumberSource)() = nullptr;
    TempFolder scratch{"lumidra workspace ř"};
};

uint64_t fixedNumber() { return 0xfedcba9876543210ULL; }

TEST(LaunchId, IsThePrefixAndTheNumberInLowerCaseHexWithoutPadding) {
    EXPECT_EQ(launchIdText(0), "LUMIDRA_0");
    EXPECT_EQ(launchIdText(0xabc), "LUMIDRA_abc");
    EXPECT_EQ(launchIdText(0x0123456789abcdefULL), "LUMIDRA_123456789abcdef");
    EXPECT_EQ(launchIdText(~0ULL), "LUMIDRA_ffffffffffffffff");
}

TEST(LaunchId, AllSixtyFourBitsComeFromTheSystemsRandomSource) {
    // Every bit takes both values over a few draws, and no draw repeats: nothing is fixed,
    // nothing is derived from a smaller seed that two draws would share.
    uint64_t anySet = 0;
    uint64_t allSet = ~0ULL;
    std::set<uint64_t> drawn;
    for (int i = 0; i < 64; ++i) {
        uint64_t number = systemRandomNumber();
        anySet |= number;
        allSet &= number;
        drawn.insert(number);
    }
    EXPECT_EQ(anySet, ~0ULL);
    EXPECT_EQ(allSet, 0u);
    EXPECT_EQ(drawn.size(), 64u);
    EXPECT_EQ(launchNumberSource, &systemRandomNumber) << "the launcher draws its id there";
}

TEST_F(Workspace, EachRunMakesItsOwnFolderNamedByAFreshId) {
    fs::path tmp = scratch.path / "temp with blanks ž";
    fs::create_directories(tmp);
    useTmp(tmp.string() + "/");  // a trailing separator must not double up
    fs::path disc = scratch.path / "disc root";
    fs::create_directories(disc);
    fs::current_path(disc);
    LogMark log;

    createWorkspace();  // staging fails on this empty disc; the folder is made all the same
    std::string first = uniqueId;
    EXPECT_TRUE(std::regex_match(first, LAUNCH_ID)) << first;
    EXPECT_EQ(workspaceDir.native(), tmp.native() + "/" + first);
    EXPECT_TRUE(fs::is_directory(workspaceDir));
    EXPECT_EQ(workspaceDataDir, workspaceDir / "DATA");
    EXPECT_EQ(sourceRoot, disc);
    EXPECT_EQ(sourceDataDir, disc / "DATA");
    std::string lines = log.added();
    size_t created = lines.find(" INFO: Creating TEMP dir...\n");
    size_t tmpLine = lines.find(" INFO: Tmp dir: " + tmp.string() + "/\n");
    size_t absolute = lines.find(" INFO: Absolute tmp dir: " + tmp.string() + "/\n");
    size_t done = lines.find(" INFO: TEMP dir created: " + workspaceDir.string() + "\n");
    ASSERT_NE(done, std::string::npos) << lines;
    EXPECT_TRUE(created < tmpLine && tmpLine < absolute && absolute < done) << lines;

    removeWorkspace();
    resetStagingGlobals();
    createWorkspace();
    EXPECT_TRUE(std::regex_match(uniqueId, LAUNCH_ID)) << uniqueId;
    EXPECT_NE(uniqueId, first) << "each run seeds its own generator";
}

TEST_F(Workspace, AMissingTemporaryFolderIsAnErrorNotAnException) {
    useTmp((scratch.path / "nowhere" / "at all").string());
    LogMark log;
    bool created = true;
    EXPECT_NO_THROW(created = createWorkspace());
    EXPECT_FALSE(created);
    EXPECT_TRUE(log.has(" ERROR: Exception in creating TEMP dir")) << log.added();
    EXPECT_FALSE(log.has("TEMP dir created"));
    EXPECT_TRUE(workspaceDir.empty());
}

TEST_F(Workspace, AnExistingCandidateFolderIsNeitherUsedNorRemoved) {
    useTmp(scratch.path.string());
    launchNumberSource = fixedNumber;
    fs::path taken = scratch.path / "LUMIDRA_fedcba9876543210";
    writeFileBytes(taken / "belongs to someone", "keep me");
    LogMark log;

    EXPECT_FALSE(createWorkspace());
    EXPECT_EQ(uniqueId, "LUMIDRA_fedcba9876543210") << "the id is kept even though the folder was not made";
    EXPECT_TRUE(log.has(" ERROR: TEMP dir [" + taken.string() + "] cannot be created\n")) << log.added();
    EXPECT_FALSE(log.has("Copying files..."));
    EXPECT_TRUE(workspaceDir.empty());
    removeWorkspace();
    EXPECT_EQ(readFileBytes(taken / "belongs to someone"), "keep me");
}

TEST_F(Workspace, AnUnreadableCurrentDirectoryLeavesNoFolderBehind) {
    fs::path tmp = scratch.path / "temp";
    fs::create_directories(tmp);
    useTmp(tmp.string());
    fs::path doomed = scratch.path / "vanishing disc";
    fs::create_directories(doomed);
    fs::current_path(doomed);
    fs::remove(doomed);
    LogMark log;

    EXPECT_FALSE(createWorkspace());
    EXPECT_TRUE(log.has(" ERROR: Exception in creating TEMP dir")) << log.added();
    EXPECT_TRUE(workspaceDir.empty());
    EXPECT_EQ(listTree(tmp), "") << "the half-made workspace is removed again";
}

TEST_F(Workspace, RemovalDeletesEverythingOnceAndStaysInsideTheFolder) {
    useTmp(scratch.path.string());
    createWorkspace();
    ASSERT_FALSE(workspaceDir.empty());
    fs::path made = workspaceDir;
    writeFileBytes(made / "DATA" / "DICOM" / "S1" / "I1.dcm", "image");
    fs::permissions(made / "DATA" / "DICOM" / "S1" / "I1.dcm", fs::perms::owner_read);
    writeFileBytes(scratch.path / "outside" / "precious", "not ours");
    fs::create_directory_symlink(scratch.path / "outside", made / "DATA" / "link out");

    removeWorkspace();
    EXPECT_FALSE(fs::exists(made));
    EXPECT_TRUE(workspaceDir.empty());
    EXPECT_EQ(readFileBytes(scratch.path / "outside" / "precious"), "not ours");
    EXPECT_FALSE(uniqueId.empty()) << "the id outlives the folder";

    // A second call has no workspace to remove, even if the old path is in use again.
    fs::create_directories(made);
    removeWorkspace();
    EXPECT_TRUE(fs::is_directory(made));
    fs::remove(made);
}

TEST_F(Workspace, RemovalWaitsForWorkThatHoldsTheWorkspace) {
    useTmp(scratch.path.string());
    createWorkspace();
    fs::path made = workspaceDir;
    ASSERT_TRUE(fs::is_directory(made));

    ASSERT_TRUE(holdWorkspace());
    keepRunning = false;  // terminate, as the window's thread does it
    std::thread remover(removeWorkspace);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bool stillThere = fs::is_directory(made);
    writeFileBytes(made / "written by the holder", "late file");
    releaseWorkspace();
    remover.join();

    EXPECT_TRUE(stillThere) << "removed while still held";
    EXPECT_FALSE(fs::exists(made));
    EXPECT_FALSE(holdWorkspace()) << "no new work starts after terminate";
}

TEST_F(Workspace, NoWorkspaceIsMadeAfterTerminate) {
    useTmp(scratch.path.string());
    keepRunning = false;
    LogMark log;
    EXPECT_FALSE(createWorkspace());
    EXPECT_TRUE(std::regex_match(uniqueId, LAUNCH_ID)) << uniqueId;
    EXPECT_TRUE(log.has(" ERROR: TEMP dir [")) << log.added();
    EXPECT_EQ(listTree(scratch.path), "");
    EXPECT_TRUE(workspaceDir.empty());
}

TEST_F(Workspace, StagesARealDiscCopiesTheRestAndCleansUp) {
    fs::path tmp = scratch.path / "temp ž";
    fs::create_directories(tmp);
    useTmp(tmp.string());
    fs::path disc = scratch.path / "study disc č";
    buildTestDisc(disc);
    fs::current_path(disc);
    chosenPort = 8042;
    LogMark log;

    ASSERT_TRUE(createWorkspace() && stageNecessaryFiles()) << log.added();
    EXPECT_EQ(static_cast<int>(stageTextId.load()), static_cast<int>(UiText::CopyingData));
    EXPECT_EQ(readFileBytes(workspaceDataDir / "copy_status.txt"), "0");
    for (const TestDiscFile& file : viewerArchiveFiles()) {
        if (file.path == TEST_DISC_CONFIG) continue;
        EXPECT_EQ(readFileBytes(workspaceDataDir / "7z" / file.path), file.content) << file.path;
    }
    EXPECT_NE(readFileBytes(workspaceDataDir / "7z" / TEST_DISC_CONFIG).find("localhost:8042"),
              std::string::npos);
    for (const TestDiscFile& file : dataArchiveFiles())
        EXPECT_EQ(readFileBytes(workspaceDir / file.path), file.content) << file.path;
    EXPECT_TRUE(fs::is_directory(workspaceDataDir / "DW"));
    EXPECT_TRUE(fs::is_directory(workspaceDataDir / "DICOM"));

    copyRemainingFiles();
    EXPECT_EQ(readFileBytes(workspaceDataDir / "copy_status.txt"), "1");
    for (const auto* files : {&discDicomFiles(), &discDwFiles()})
        for (const TestDiscFile& file : *files)
            EXPECT_EQ(readFileBytes(workspaceDir / file.path), file.content) << file.path;
    EXPECT_FALSE(log.has(" ERROR: ")) << log.added();

    fs::path made = workspaceDir;
    removeWorkspace();
    EXPECT_FALSE(fs::exists(made));
    EXPECT_EQ(listTree(tmp), "");
}

// Permissions of everything in folder that is not the user's alone, one line each ("" when none).
std::string openToOthers(const fs::path& folder, int& looked) {
    std::string found;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0) info.st_mode = 07777;
        mode_t expected = S_ISDIR(info.st_mode) ? 0700 : 0600;
        ++looked;
        if ((info.st_mode & 07777) != expected) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
            found += fs::relative(it->path(), folder).string() + " " + mode + "\n";
        }
    }
    return found;
}

TEST_F(Workspace, UnderUmaskZeroTheStagedStudyIsItsUsersAlone) {
    // A temporary folder every user can enter, and a disc anyone can read.
    fs::path tmp = scratch.path / "tmp";
    fs::create_directories(tmp);
    ::chmod(scratch.path.c_str(), 0755);
    ::chmod(tmp.c_str(), 01777);
    fs::path disc = scratch.path / "study disc";
    buildTestDisc(disc);
    useTmp(tmp.string());
    fs::current_path(disc);
    LogMark log;

    mode_t launchersUmask = ::umask(0);
    bool staged = createWorkspace() && stageNecessaryFiles();
    if (staged) copyRemainingFiles();
    ::umask(launchersUmask);
    ASSERT_TRUE(staged) << log.added();
    ASSERT_EQ(readFileBytes(workspaceDataDir / "copy_status.txt"), "1") << log.added();

    struct stat top {};
    ASSERT_EQ(::lstat(workspaceDir.c_str(), &top), 0);
    EXPECT_EQ(top.st_mode & 07777, 0700u);
    int looked = 0;
    // Folders 0700, files 0600: what the extractor unpacked, the copies, the status file.
    EXPECT_EQ(openToOthers(workspaceDir, looked), "");
    EXPECT_GT(looked, 10);

    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as a second user";
    fs::path image = workspaceDir / discDicomFiles().front().path;
    fs::path viewerPage = workspaceDataDir / "7z" / "index.html";
    ASSERT_TRUE(fs::is_regular_file(image));
    // The second user reaches the disc, so the way there is open, but nothing of the workspace.
    fs::path discImage = disc / discDicomFiles().front().path;
    EXPECT_TRUE(asOtherUser([&] { return ::access(discImage.c_str(), R_OK) == 0; }));
    EXPECT_TRUE(asOtherUser([&] {
        return ::access(image.c_str(), R_OK) != 0 && ::access(viewerPage.c_str(), W_OK) != 0 &&
               ::access(workspaceDir.c_str(), R_OK) != 0 && ::access(workspaceDir.c_str(), X_OK) != 0;
    }));
}

TEST_F(Workspace, AFailedViewerUnpackIsReportedOnce) {
    useTmp(scratch.path.string());
    fs::path disc = scratch.path / "damaged disc";
    TestDiscOptions options;
    options.corruptViewer = true;
    buildTestDisc(disc, options);
    fs::current_path(disc);
    LogMark log;

    EXPECT_FALSE(createWorkspace() && stageNecessaryFiles());
    std::string lines = log.added();
    size_t first = lines.find(" ERROR: Cannot copy necessary files to TEMP dir.\n");
    ASSERT_NE(first, std::string::npos) << lines;
    EXPECT_EQ(lines.find(" ERROR: Cannot copy necessary files to TEMP dir.\n", first + 1), std::string::npos);
    EXPECT_FALSE(log.has("Unzipping data..."));
    EXPECT_TRUE(keepRunning) << "a failed unpack is not an exception";
    // The skeleton and the status file come before the first unpack.
    EXPECT_EQ(listTree(workspaceDataDir), "7z/\nDICOM/\nDW/\ncopy_status.txt\n");
    EXPECT_EQ(readFileBytes(workspaceDataDir / "copy_status.txt"), "0");
}

}  // namespace
