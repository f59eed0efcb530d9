#include "status.h"

#include "front_end.h"

uint16_t uiLanguage = 9;
std::atomic<bool> keepRunning{true};
std::atomic<uint16_t> stageTextId{static_cast<uint16_t>(UiText::CopyingBrowser)};

void showStatus(uint16_t id, std::wstring suffix) {
    std::wstring text = uiText(uiLanguage, id);
    text += suffix;
    setStatusText(text);
}

void showStatus(UiText id, std::wstring suffix) { showStatus(static_cast<uint16_t>(id), std::move(suffix)); }

void showStatus(UiText id) { showStatus(id, std::wstring()); }
