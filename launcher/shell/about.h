#pragma once
// The texts of the About box. They are fixed: the UI text table does not translate them.

constexpr const wchar_t* ABOUT_CAPTION = L"About LumidraLauncher";
constexpr const wchar_t* ABOUT_VERSION_LINE = L"LumidraLauncher, Version 1.3.2.0";
constexpr const wchar_t* ABOUT_SECOND_LINE = L"Morvantis Lumidra Launcher for DICOM study discs";
