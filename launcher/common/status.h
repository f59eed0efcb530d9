#pragma once
// Process-wide values that coordinate the start sequence, the stages and the window.

#include <atomic>
#include <cstdint>
#include <string>

#include "ui_text.h"

// Primary language id of the user's UI language; set once at start-up.
extern uint16_t uiLanguage;

// True until terminate (or a staging error) clears it; nothing sets it back.
extern std::atomic<bool> keepRunning;

// Text id of the current extraction stage: CopyingBrowser, later CopyingData.
extern std::atomic<uint16_t> stageTextId;

// Puts uiText(uiLanguage, id), followed by the suffix, into the status line.
void showStatus(UiText id);
void showStatus(UiText id, std::wstring suffix);
void showStatus(uint16_t id, std::wstring suffix);
