#include "staging/deferred_copy.h"
#include "staging/stale_workspaces.h"
#include "staging/workspace.h"
#include "staging/workspace_lock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "common/status.h"
#include "win32_test_support.h"

namespace fs = std::filesystem;

namespace {

// A workspace as staging leaves it, set up as the process-wide one.
fs::path makeWorkspace(const fs::path& parent, const std::wstring& name) {
    keepRunning = true;
    workspaceDir = parent / name;
    workspaceDataDir = workspaceDir / L"DATA";
    fs::create_directories(workspaceDataDir / L"DICOM" / L"S1");
    std::ofstream(workspaceDataDir / L"copy_status.txt") << "0";
    std::ofstream(workspaceDataDir / L"DICOM" / L"S1" / L"I1.dcm") << "patient image";
    return workspaceDir;
}

// The deferred copy's file as copyFileExclusive holds it: shared with nobody.
HANDLE openUnshared(const fs::path& file) {
    return CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The names marked for deletion at the next restart, as the system keeps them.
std::wstring pendingDeletions() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return std::wstring();
    DWORD size = 0;
    std::wstring value;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
        ERROR_SUCCESS) {
        value.resize(size / sizeof(wchar_t) + 1);
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(value.data()), &size);
        // A list of NUL-ended names, shown one per line.
        for (wchar_t& c : value)
            if (c == L'\0') c = L'\n';
    }
    RegCloseKey(key);
    return value;
}

void forgetPendingDeletions() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"PendingFileRenameOperations");
    RegCloseKey(key);
}

}  // namespace

TEST(WorkspaceCleanupWin32, ACopyStuckInAStalledReadIsWokenAndTheWorkspaceGoesWhole) {
    ScratchFolder scratch(L"stalled");
    fs::path workspace = makeWorkspace(scratch.path(), L"LUMIDRA_5a11ed");
    fs::path partial = workspaceDataDir / L"DICOM" / L"S1" / L"I2.dcm.bkp";
    // A read that nothing answers, as a scratched disc gives: a pipe whose other end never writes.
    const wchar_t* pipeName = L"\\\\.\\pipe\\lumidra-stalled-disc";
    HANDLE disc = CreateNamedPipeW(pipeName, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(disc, INVALID_HANDLE_VALUE);

    std::atomic<bool> reading{false};
    DWORD readError = 0;
    std::thread copy([&] {
        ASSERT_TRUE(holdWorkspace());
        CancellableCopyThread cancellable;
        HANDLE target = openUnshared(partial);
        HANDLE source =
            CreateFileW(pipeName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        char block[512];
        DWORD got = 0;
        reading = true;
        if (!ReadFile(source, block, sizeof block, &got, nullptr)) readError = GetLastError();
        // As the copy does with a failed read: its part goes, and the workspace is let go.
        CloseHandle(source);
        CloseHandle(target);
        DeleteFileW(partial.c_str());
        releaseWorkspace();
    });
    while (!reading) Sleep(10);
    Sleep(200);  // inside ReadFile by now
    LogMark log;

    keepRunning = false;
    removeWorkspace();

    EXPECT_FALSE(fs::exists(workspace));
    EXPECT_TRUE(workspaceDir.empty());
    // Before the removal let go, the read had been cancelled, not answered.
    EXPECT_EQ(readError, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(log.since().find("WARN"), std::string::npos) << log.since();
    // Should the read still wait, the end of the pipe lets it go: the test ends either way.
    CloseHandle(disc);
    copy.join();
    keepRunning = true;
}

TEST(WorkspaceCleanupWin32, AHolderThatLeavesAfterTheFirstAttemptLetsTheSecondRemoveEverything) {
    ScratchFolder scratch(L"late");
    fs::path workspace = makeWorkspace(scratch.path(), L"LUMIDRA_1a7e");
    // An extractor that terminate cannot end at once keeps writing its file meanwhile.
    ASSERT_TRUE(holdWorkspace());
    HANDLE file = openUnshared(workspaceDataDir / L"DICOM" / L"S1" / L"I4.dcm");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::thread extractor([file] {
        Sleep(4000);  // past the removal's first wait of three seconds
        CloseHandle(file);
        releaseWorkspace();
    });
    LogMark log;

    keepRunning = false;
    removeWorkspace();

    EXPECT_FALSE(fs::exists(workspace));
    EXPECT_EQ(log.since().find("WARN"), std::string::npos) << log.since();
    extractor.join();
    keepRunning = true;
}

TEST(WorkspaceCleanupWin32, WhatStaysInUseIsMarkedForDeletionAtRestart) {
    ScratchFolder scratch(L"inuse");
    fs::path workspace = makeWorkspace(scratch.path(), L"LUMIDRA_1b05e");
    // Held by something that is no work of ours (another program, an extractor that did not end).
    fs::path held = workspaceDataDir / L"DICOM" / L"S1" / L"I3.dcm";
    HANDLE file = openUnshared(held);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    forgetPendingDeletions();
    LogMark log;

    keepRunning = false;
    removeWorkspace();

    // Everything not in use went at once; the rest waits for the restart.
    EXPECT_FALSE(fs::exists(workspaceDataDir / L"copy_status.txt"));
    EXPECT_FALSE(fs::exists(workspaceDataDir / L"DICOM" / L"S1" / L"I1.dcm"));
    EXPECT_TRUE(fs::exists(held));
    std::wstring pending = pendingDeletions();
    EXPECT_NE(pending.find(held.native() + L"\n"), std::wstring::npos);
    EXPECT_NE(pending.find(workspace.native() + L"\n"), std::wstring::npos);
    // The files are marked before the folders that hold them.
    EXPECT_LT(pending.find(held.native() + L"\n"), pending.find(workspace.native() + L"\n"));
    EXPECT_NE(log.since().find(" WARN: Temporary files still in use, deleted at the next restart: "),
              std::string::npos)
        << log.since();
    EXPECT_TRUE(workspaceDir.empty());

    CloseHandle(file);
    forgetPendingDeletions();
    keepRunning = true;
}

TEST(WorkspaceCleanupWin32, OnlyTheWorkspaceOfALauncherThatHasGoneIsRemoved) {
    ScratchFolder temp(L"sweep");
    keepRunning = true;
    auto workspaceWithStudy = [&](const wchar_t* name) {
        fs::path folder = temp.path() / name;
        fs::create_directories(folder / L"DATA" / L"DICOM");
        std::ofstream(folder / L"DATA" / L"DICOM" / L"I1.dcm") << "patient image";
        return folder;
    };
    // Gone: the lock file is there but nobody holds it. Running: held, shared with nobody.
    fs::path gone = workspaceWithStudy(L"LUMIDRA_90e");
    std::ofstream(gone / WORKSPACE_LOCK_NAME).close();
    fs::path running = workspaceWithStudy(L"LUMIDRA_a11fe");
    ASSERT_TRUE(lockWorkspace(running));
    fs::path unknown = workspaceWithStudy(L"LUMIDRA_01d");
    LogMark log;

    removeStaleWorkspaces(temp.path());

    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(fs::exists(running / L"DATA" / L"DICOM" / L"I1.dcm"));
    EXPECT_TRUE(fs::exists(unknown / L"DATA" / L"DICOM" / L"I1.dcm"));
    EXPECT_NE(log.since().find(" INFO: Stale workspaces removed: 1\n"), std::string::npos) << log.since();
    EXPECT_NE(log.since().find(" WARN: Workspace left in place, its launcher cannot be told: "),
              std::string::npos);
    unlockWorkspace();
}
