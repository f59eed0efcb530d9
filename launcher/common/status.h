#pragma once
// The status line, which every stage uses to tell the user where the start has got to.

#include <cstdint>
#include <string>

#include "common/launch_state.h"
#include "common/ui_text.h"

// Puts uiText(uiLanguage, id), followed by the suffix, into the status line.
void showStatus(UiText id);
void showStatus(UiText id, std::wstring suffix);
void showStatus(uint16_t id, std::wstring suffix);
