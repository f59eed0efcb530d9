#include "deferred_copy.h"

#include <windows.h>

#include <mutex>

// A read of a stalled disc may not return for minutes, and the copy holds its ".bkp" open, shared
// with nobody, meanwhile: the workspace cannot be deleted around it. The copying thread's
// synchronous I/O is cancelled from outside instead.

namespace {

std::mutex copyingThreadLock;
HANDLE copyingThread = nullptr;

}  // namespace

void cancelBlockedCopyRead() {
    std::lock_guard<std::mutex> guard(copyingThreadLock);
    if (copyingThread) CancelSynchronousIo(copyingThread);
}

CancellableCopyThread::CancellableCopyThread() {
    // GetCurrentThread is a pseudo handle that means the caller wherever it is used.
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return;
    std::lock_guard<std::mutex> guard(copyingThreadLock);
    if (copyingThread) CloseHandle(copyingThread);
    copyingThread = self;
}

CancellableCopyThread::~CancellableCopyThread() {
    std::lock_guard<std::mutex> guard(copyingThreadLock);
    if (copyingThread) CloseHandle(copyingThread);
    copyingThread = nullptr;
}
