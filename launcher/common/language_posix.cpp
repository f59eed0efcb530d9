#include "language.h"

#include <cstdlib>

uint16_t readUiLanguage() {
    return primaryLanguageOfLocale(
        messagesLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
}
