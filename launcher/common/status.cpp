#include "status.h"

#include "common/front_end.h"

void showStatus(uint16_t id, std::wstring suffix) {
    std::wstring text = uiText(uiLanguage, id);
    text += suffix;
    setStatusText(text);
}

void showStatus(UiText id, std::wstring suffix) { showStatus(static_cast<uint16_t>(id), std::move(suffix)); }

void showStatus(UiText id) { showStatus(id, std::wstring()); }
