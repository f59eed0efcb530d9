#include "copy_engine.h"

#include "log/log.h"
#include "shell/status.h"
#include "staging/workspace.h"
#include "unpack/archive_extraction.h"
#include "unpack/viewer_config.h"

namespace fs = std::filesystem;

namespace {

const char* const STAGING_FAILED = "Cannot copy necessary files to TEMP dir.";

}  // namespace

bool stageNecessaryFiles() {
    if (workspaceDir.empty()) {
        logError(STAGING_FAILED);
        return false;
    }
    try {
        logInfo("Copying files...");
        showStatus(UiText::CopyingBrowser);
        fs::path data = workspaceDir / "DATA";
        makeFolder(data);
        makeFolder(data / "DICOM");
        makeFolder(data / "DW");
        makeFolder(data / "7z");
        writeCopyStatus(false);

        if (!extractViewer()) {
            logError(STAGING_FAILED);
            return false;
        }
        stageTextId.store(static_cast<uint16_t>(UiText::CopyingData));
        showStatus(UiText::CopyingData);
        return extractData() && fixViewerConfigPort();
    } catch (...) {
        keepRunning.store(false);
        logError("Exception in copying necessary files");
        logError(STAGING_FAILED);
        return false;
    }
}
