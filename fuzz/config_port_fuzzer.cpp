// The viewer configuration port fix on any file content and any chosen port: the file comes back
// byte for byte except the first "localhost:8000", which names the chosen port when it is above
// 8000; the result says false only for an empty file.
//
// Input: byte 0 picks the port (7990 to 8109), the rest is the file's content.

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "serving/port_probe.h"
#include "staging/workspace.h"
#include "unpack/viewer_config.h"

namespace fs = std::filesystem;

namespace {

fs::path configFile;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumidra-fuzz-config-XXXXXX";
    if (!mkdtemp(folder.data())) std::abort();
    workspaceDir = folder;
    workspaceDataDir = workspaceDir / "DATA";
    configFile = workspaceDir / "DATA" / "7z" / "data" / "config" / "config-lumidra.json";
    fs::create_directories(configFile.parent_path());
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(workspaceDir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    chosenPort = 7990 + data[0] % 120;
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    {
        std::ofstream out(configFile, std::ios::binary | std::ios::trunc);
        out << content;
    }

    bool result = fixViewerConfigPort(viewerConfigFile(workspaceDir), chosenPort);
    std::string after = readAll(configFile);

    std::string expected = content;
    bool expectedResult = true;
    if (chosenPort > 8000) {
        if (content.empty()) {
            expectedResult = false;
        } else if (std::size_t at = content.find("localhost:8000"); at != std::string::npos) {
            expected.replace(at, 14, "localhost:" + std::to_string(chosenPort));
        }
    }
    if (result != expectedResult || after != expected) __builtin_trap();
    return 0;
}
