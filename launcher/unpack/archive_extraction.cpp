#include "archive_extraction.h"

#include "command_runner.h"
#include "extractor.h"
#include "log/ansi_text.h"
#include "log/log.h"

namespace {

constexpr int EXTRACT_ATTEMPTS = 3;

// The paths are pasted in as text, not joined: a source root that ends in a separator (a
// drive root) gives a doubled separator, which the extractor accepts.
std::wstring commandHead(const std::wstring& program) { return program + L" x -bsp2 -y -o\""; }

bool extractArchive(const std::wstring& command, const char* firstLine, const std::string& attemptPrefix) {
    logInfo(firstLine);
    logInfo(wideToAnsi(command));
    for (int attempt = 1; attempt <= EXTRACT_ATTEMPTS; ++attempt) {
        // Once terminate has begun nothing more is started: the workspace is on its way out.
        if (terminating()) return false;
        logInfo(attemptPrefix + std::to_string(attempt));
        if (runWithProgress(command)) return true;
        if (!terminating() && runAndWait(command)) return true;
    }
    return false;
}

}  // namespace

std::wstring viewerCommandLine(const std::wstring& program, wchar_t separator,
                               const std::wstring& workspaceDataDir, const std::wstring& sourceRoot) {
    const std::wstring s(1, separator);
    return commandHead(program) + workspaceDataDir + s + L"7z" + s + L"\" \"" + sourceRoot + s + L"DATA" + s +
           L"7z" + s + L"viewer.7z\"";
}

std::wstring dataCommandLine(const std::wstring& program, wchar_t separator, const std::wstring& workspaceDir,
                             const std::wstring& sourceRoot) {
    const std::wstring s(1, separator);
    return commandHead(program) + workspaceDir + s + L"\" \"" + sourceRoot + s + L"data.zip\"";
}

bool extractViewer(const WorkspacePaths& paths) {
    std::wstring command =
        viewerCommandLine(extractorProgram(), commandSeparator(), commandPathText(paths.workspaceDataDir),
                          commandPathText(paths.sourceRoot));
    return extractArchive(command, "Unzipping viewer...", "Browser unzip attempt ");
}

bool extractData(const WorkspacePaths& paths) {
    std::wstring command =
        dataCommandLine(extractorProgram(), commandSeparator(), commandPathText(paths.workspaceDir),
                        commandPathText(paths.sourceRoot));
    return extractArchive(command, "Unzipping data...", "Data unzip attempt ");
}
