#include "launch_state.h"

#include "common/ui_text.h"

uint16_t uiLanguage = 9;
std::atomic<bool> keepRunning{true};
std::atomic<uint16_t> stageTextId{static_cast<uint16_t>(UiText::CopyingBrowser)};
int chosenPort = 0;
std::string uniqueId;
std::filesystem::path workspaceDir;
std::filesystem::path workspaceDataDir;
std::filesystem::path sourceRoot;
std::filesystem::path sourceDataDir;
