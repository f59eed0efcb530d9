#pragma once
// Asks the system to open an address in the user's default browser. Nothing is learnt about
// what happens then: a missing browser is not detected.

#include <string>

void openInBrowser(const std::wstring& address);
