#include "deferred_copy.h"

// A blocked read keeps no one from deleting the workspace here: a file still open can be unlinked,
// and the copy's rename afterwards fails harmlessly. Nothing needs waking.

void cancelBlockedCopyRead() {}

CancellableCopyThread::CancellableCopyThread() = default;
CancellableCopyThread::~CancellableCopyThread() = default;
