#pragma once
// The extractor command lines. The shape of both commands is shared; the program, the folder
// separator and the text form of paths come from the platform's file beside this one.

#include <filesystem>
#include <string>

// The extractor's program as it appears at the head of the command line.
std::wstring extractorProgram();

// The folder separator written into the command lines.
wchar_t commandSeparator();

// A path as it is written into a command line.
std::wstring commandPathText(const std::filesystem::path& path);

// program x -bsp2 -y -o"<workspaceDataDir>\7z\" "<sourceRoot>\DATA\7z\viewer.7z"
std::wstring viewerCommandLine(const std::wstring& program, wchar_t separator,
                               const std::wstring& workspaceDataDir, const std::wstring& sourceRoot);

// program x -bsp2 -y -o"<workspaceDir>\" "<sourceRoot>\data.zip"
std::wstring dataCommandLine(const std::wstring& program, wchar_t separator, const std::wstring& workspaceDir,
                             const std::wstring& sourceRoot);
