#include "staging/deferred_copy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "staging_test_support.h"

namespace {

using namespace staging_test;

// A disc with DATA/DW and DATA/DICOM, and a workspace as staging leaves it.
class DeferredCopy : public ::testing::Test {
protected:
    void SetUp() override {
        resetStagingGlobals();
        disc = scratch.path / "disc";
        fs::create_directories(disc / "DATA");
        sourceRoot = disc;
        sourceDataDir = disc / "DATA";
        workspaceDir = scratch.path / "LUMIDRA_1f";
        workspaceDataDir = workspaceDir / "DATA";
        fs::create_directories(workspaceDataDir / "DICOM");
        fs::create_directories(workspaceDataDir / "DW");
        writeCopyStatus(false);
    }
    void TearDown() override {
        removeWorkspace();
        resetStagingGlobals();
    }
    std::string status() const { return readFileBytes(workspaceDataDir / "copy_status.txt"); }

    TempFolder scratch{"lumidra deferred ž"};
    fs::path disc;
};

TEST_F(DeferredCopy, RemainingFilesArriveAndTheStatusSaysComplete) {
    writeFileBytes(disc / "DATA" / "DW" / "study.json", "dw");
    writeFileBytes(disc / "DATA" / "DICOM" / "S1" / "I1.dcm", "disc image");
    writeFileBytes(disc / "DATA" / "DICOM" / "S1" / "I2.dcm", "second image");
    writeFileBytes(disc / "DATA" / "DICOM" / "DICOMDIR", "dir");
    writeFileBytes(workspaceDataDir / "DICOM" / "S1" / "I1.dcm", "unpacked from data.zip");
    LogMark log;

    copyRemainingFiles();

    EXPECT_EQ(status(), "1");
    EXPECT_EQ(listTree(workspaceDataDir),
              "DICOM/\nDICOM/DICOMDIR\nDICOM/S1/\nDICOM/S1/I1.dcm\nDICOM/S1/I2.dcm\nDW/\nDW/study.json\n"
              "copy_status.txt\n");
    EXPECT_EQ(readFileBytes(workspaceDataDir / "DICOM" / "S1" / "I1.dcm"), "unpacked from data.zip");
    EXPECT_EQ(readFileBytes(workspaceDataDir / "DICOM" / "S1" / "I2.dcm"), "second image");
    std::string lines = log.added();
    size_t begun = lines.find(" INFO: Copying remaining files...\n");
    size_t ended = lines.find(" INFO: Copying of remaining files finished.\n");
    EXPECT_TRUE(begun != std::string::npos && ended != std::string::npos && begun < ended) << lines;
    EXPECT_FALSE(log.has(" ERROR: ")) << lines;
}

TEST_F(DeferredCopy, ADiscWithoutDwStillCompletes) {
    writeFileBytes(disc / "DATA" / "DICOM" / "I1.dcm", "image");
    LogMark log;
    copyRemainingFiles();
    EXPECT_EQ(status(), "1");
    EXPECT_EQ(readFileBytes(workspaceDataDir / "DICOM" / "I1.dcm"), "image");
    EXPECT_FALSE(log.has(" ERROR: ")) << log.added();
}

TEST_F(DeferredCopy, ADiscWithoutDicomIsAFailureEvenWhenDwCopied) {
    writeFileBytes(disc / "DATA" / "DW" / "study.json", "dw");
    LogMark log;
    copyRemainingFiles();
    EXPECT_EQ(status(), "0");
    EXPECT_FALSE(copyOk);
    EXPECT_EQ(readFileBytes(workspaceDataDir / "DW" / "study.json"), "dw");
    EXPECT_TRUE(log.has(" ERROR: Error during copying remaining DICOM files...\n")) << log.added();
    EXPECT_FALSE(log.has("remaining DW files"));
}

TEST_F(DeferredCopy, ABrokenDwTreeDoesNotStopTheDicomTree) {
    writeFileBytes(disc / "DATA" / "DW", "a file where a folder belongs");
    writeFileBytes(disc / "DATA" / "DICOM" / "I1.dcm", "image");
    LogMark log;
    copyRemainingFiles();
    EXPECT_EQ(status(), "0");
    EXPECT_EQ(readFileBytes(workspaceDataDir / "DICOM" / "I1.dcm"), "image");
    EXPECT_TRUE(log.has(" ERROR: Error during copying remaining DW files...\n")) << log.added();
    EXPECT_FALSE(log.has("remaining DICOM files"));
    EXPECT_TRUE(log.has(" INFO: Copying of remaining files finished.\n"));
}

TEST_F(DeferredCopy, ASingleFailedFileShowsOnlyInTheStatus) {
    writeFileBytes(disc / "DATA" / "DICOM" / "I1.dcm", "image");
    writeFileBytes(disc / "DATA" / "DICOM" / "I2.dcm", "image 2");
    writeFileBytes(workspaceDataDir / "DICOM" / "I1.dcm.bkp", "stale");
    LogMark log;
    copyRemainingFiles();
    EXPECT_EQ(status(), "0");
    EXPECT_EQ(readFileBytes(workspaceDataDir / "DICOM" / "I2.dcm"), "image 2");
    EXPECT_FALSE(log.has(" ERROR: ")) << log.added();
}

TEST_F(DeferredCopy, NothingHappensAfterTerminate) {
    writeFileBytes(disc / "DATA" / "DICOM" / "I1.dcm", "image");
    keepRunning = false;
    LogMark log;
    copyRemainingFiles();
    EXPECT_EQ(status(), "0");
    EXPECT_EQ(listTree(workspaceDataDir / "DICOM"), "");
    EXPECT_EQ(log.added(), "");

    // Nor without a workspace: the disc's DATA folder is never a target.
    keepRunning = true;
    fs::path savedCwd = fs::current_path();
    fs::current_path(disc);
    fs::path made = workspaceDir;
    workspaceDir.clear();
    LogMark quiet;
    copyRemainingFiles();
    fs::current_path(savedCwd);
    workspaceDir = made;
    EXPECT_EQ(quiet.added(), "");
    EXPECT_EQ(listTree(disc / "DATA"), "DICOM/\nDICOM/I1.dcm\n");
}

// Runs the copy on a worker, as the start sequence does, and terminates once the large file
// is being copied. False when the worker had finished before that moment could be caught.
bool terminateDuringLargeCopy(const fs::path& bkp, std::thread& worker) {
    worker = std::thread(copyRemainingFiles);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(bkp) && std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(bkp.parent_path() / "LARGE.dcm")) return false;
        std::this_thread::yield();
    }
    keepRunning = false;
    return fs::exists(bkp) || !fs::exists(bkp.parent_path() / "LARGE.dcm");
}

TEST_F(DeferredCopy, TerminateCancelsTheFileUnderWayAndSkipsTheStatus) {
    writeFileBytes(disc / "DATA" / "DICOM" / "LARGE" / "LARGE.dcm", std::string(96 << 20, 'L'));
    fs::path bkp = workspaceDataDir / "DICOM" / "LARGE" / "LARGE.dcm.bkp";
    std::thread worker;
    bool caught = terminateDuringLargeCopy(bkp, worker);
    worker.join();
    ASSERT_TRUE(caught) << "the 96 MiB copy ended before it could be interrupted";

    EXPECT_FALSE(fs::exists(bkp)) << "a cancelled copy removes its partial file";
    EXPECT_FALSE(fs::exists(workspaceDataDir / "DICOM" / "LARGE" / "LARGE.dcm"));
    EXPECT_TRUE(copyOk) << "a walk cut short by terminate is no failure";
    EXPECT_EQ(status(), "0") << "the final status is not written after terminate";
}

TEST_F(DeferredCopy, RemovalWaitsForTheCopyToLeaveTheWorkspace) {
    writeFileBytes(disc / "DATA" / "DICOM" / "LARGE" / "LARGE.dcm", std::string(64 << 20, 'L'));
    fs::path bkp = workspaceDataDir / "DICOM" / "LARGE" / "LARGE.dcm.bkp";
    LogMark log;
    std::thread worker(copyRemainingFiles);
    while (!fs::exists(bkp) && !log.has("Copying of remaining files finished.")) std::this_thread::yield();
    // Without terminate the copy runs to its end; removal must not pull the folder away first.
    removeWorkspace();
    bool finishedFirst = log.has(" INFO: Copying of remaining files finished.\n");
    worker.join();
    EXPECT_TRUE(finishedFirst) << log.added();
    EXPECT_TRUE(workspaceDir.empty());
}

TEST_F(DeferredCopy, TerminateDuringTheCopyLeavesNoWorkspace) {
    for (int i = 0; i < 40; ++i)
        writeFileBytes(
            disc / "DATA" / "DICOM" / ("S" + std::to_string(i % 4)) / ("I" + std::to_string(i) + ".dcm"),
            std::string(64 << 10, static_cast<char>('a' + i % 26)));
    writeFileBytes(disc / "DATA" / "DICOM" / "LARGE" / "LARGE.dcm", std::string(96 << 20, 'L'));
    fs::path made = workspaceDir;
    LogMark log;
    std::thread worker;
    bool caught = terminateDuringLargeCopy(workspaceDataDir / "DICOM" / "LARGE" / "LARGE.dcm.bkp", worker);
    removeWorkspace();  // the window's thread, right after clearing keepRunning
    worker.join();

    EXPECT_FALSE(fs::exists(made)) << listTree(made);
    EXPECT_TRUE(workspaceDir.empty());
    if (caught) {
        EXPECT_TRUE(log.has(" INFO: Copying of remaining files finished.\n")) << log.added();
    }
}

}  // namespace
