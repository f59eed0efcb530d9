#include "viewer_config.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "log/log.h"

namespace {

const std::string DEFAULT_ADDRESS = "localhost:8000";

// The whole file in text mode; "" (after an ERROR line) when it cannot be opened.
std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream input(path);
    if (!input) {
        logError("Cannot read config file");
        return std::string();
    }
    std::ostringstream content;
    content << input.rdbuf();
    return content.str();
}

}  // namespace

std::filesystem::path viewerConfigFile(const std::filesystem::path& workspaceDir) {
    return workspaceDir / "DATA" / "7z" / "data" / "config" / "config-lumidra.json";
}

bool fixViewerConfigPort(const std::filesystem::path& configFile, int port) {
    if (port <= 8000) return true;
    logInfo("Fixing config port number");

    std::string content = readWholeFile(configFile);
    if (content.empty()) {
        logError("Config content not loaded");
        return false;
    }
    const size_t found = content.find(DEFAULT_ADDRESS);
    if (found == std::string::npos) {
        logError("Port in config not found");
        return true;
    }
    content.replace(found, DEFAULT_ADDRESS.size(), "localhost:" + std::to_string(port));

    std::ofstream output(configFile);
    if (!output) {
        logError("Cannot write config file");
        return false;
    }
    // A write that fails half-way (a full disk) leaves a broken configuration; say so rather
    // than start a viewer that cannot reach the server.
    output << content;
    output.close();
    if (!output) {
        logError("Cannot write config file");
        return false;
    }
    return true;
}
