#include "extractor.h"

// Relative: the system resolves it against the current directory, the disc's root.
std::wstring extractorProgram() { return L"BIN\\7za.exe"; }

wchar_t commandSeparator() { return L'\\'; }

std::wstring commandPathText(const std::filesystem::path& path) { return path.native(); }
