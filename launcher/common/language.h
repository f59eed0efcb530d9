#pragma once
// The user's UI language as a primary language id in the Windows numbering (Czech 5, English 9,
// German 7, ...), which is what picks the column of the UI text table.

#include <cstdint>
#include <string>

constexpr uint16_t LANG_ID_ENGLISH = 9;

// Reads the user's UI language from the system (platform).
uint16_t readUiLanguage();

// The locale name that decides the language of messages: the first non-empty of LC_ALL,
// LC_MESSAGES and LANG, or "" when none is set. Null arguments count as unset.
std::string messagesLocale(const char* lcAll, const char* lcMessages, const char* lang);

// The primary language id of a POSIX locale name such as "cs_CZ.UTF-8" or "de_AT@euro".
// "C", "POSIX", "" and languages Windows has no id for give English.
uint16_t primaryLanguageOfLocale(const std::string& localeName);
