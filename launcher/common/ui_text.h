#pragma once
// The fifteen texts the launcher shows in its window, in English and Czech.

#include <cstdint>

enum class UiText : uint16_t {
    Starting = 1,
    CopyingBrowser = 2,
    TerminateButton = 3,
    WindowTitle = 4,
    Started = 5,
    StartFailed = 6,
    AlreadyRunning = 7,
    RemovingTempFiles = 8,
    SaveLogAs = 9,
    ShowLog = 10,
    DownloadLog = 11,
    Exit = 12,
    About = 13,
    CopyingData = 14,
    RetrySuffix = 15,
};

// The primary language id that selects the Czech column; every other id selects English.
constexpr uint16_t LANG_ID_CZECH = 5;

// The constant text for the id in the language's column, or "" for an id outside 1 to 15.
// Never fails; the text lives for the whole process.
const wchar_t* uiText(uint16_t language, uint16_t id);
inline const wchar_t* uiText(uint16_t language, UiText id) {
    return uiText(language, static_cast<uint16_t>(id));
}
