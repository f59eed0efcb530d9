// lumidra_bench_copy: the launcher's deferred copy (copyRemainingFiles) of a disc's DATA/DW and
// DATA/DICOM trees into a workspace folder, as the start sequence runs it after a good start.
//
//   lumidra_bench_copy <disc root> <workspace folder>
//
// The workspace folder must not exist yet. Exits 0 when the copy status file ends "1".

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/status.h"
#include "staging/copy_engine.h"
#include "staging/deferred_copy.h"
#include "staging/workspace.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lumidra_bench_copy <disc root> <workspace folder>\n");
        return 2;
    }
    std::error_code error;
    sourceRoot = fs::absolute(argv[1]);
    sourceDataDir = sourceRoot / "DATA";
    workspaceDir = fs::absolute(argv[2]);
    workspaceDataDir = workspaceDir / "DATA";
    if (fs::exists(workspaceDir, error) || !fs::create_directories(workspaceDataDir, error)) {
        std::fprintf(stderr, "%s must be a new folder\n", argv[2]);
        return 2;
    }
    keepRunning = true;
    copyOk = true;
    writeCopyStatus(false);

    copyRemainingFiles();

    std::ifstream status(workspaceDataDir / "copy_status.txt");
    std::string text;
    std::getline(status, text);
    std::printf("copy status %s\n", text.c_str());
    return text == "1" ? 0 : 1;
}
