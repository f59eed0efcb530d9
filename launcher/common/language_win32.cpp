#include "language.h"

#include <windows.h>

uint16_t readUiLanguage() { return static_cast<uint16_t>(GetUserDefaultUILanguage() & 0x3FF); }
