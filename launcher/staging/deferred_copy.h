#pragma once
// The rest of the study, the disc's DATA/DW and DATA/DICOM trees, copied into the workspace
// while the viewer is already in use.

// Copies both trees and records the outcome in copy_status.txt. Never raises.
void copyRemainingFiles();

// Wakes the deferred copy from a read or open that a stalled disc keeps from returning: that
// file fails, and a terminating launcher's copy stops there. Safe from any thread at any time;
// does nothing when no copy is under way.
void cancelBlockedCopyRead();

// Makes the calling thread's reads those that cancelBlockedCopyRead wakes, for its lifetime.
// One copying thread at a time.
struct CancellableCopyThread {
    CancellableCopyThread();
    ~CancellableCopyThread();
    CancellableCopyThread(const CancellableCopyThread&) = delete;
    CancellableCopyThread& operator=(const CancellableCopyThread&) = delete;
};
