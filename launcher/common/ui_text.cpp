#include "ui_text.h"

namespace {

constexpr uint16_t TEXT_COUNT = 15;

const wchar_t* const ENGLISH[TEXT_COUNT] = {
    L"Starting Lumidra...",
    L"Copying browser",
    L"Terminate DICOM Lumidra",
    L"DICOM Lumidra",
    L"DICOM Lumidra started",
    L"DICOM Lumidra failed to start",
    L"DICOM Lumidra is already running\nPlease terminate the previous instance first.",
    L"Removing temporary files...",
    L"Save Lumidra log as...",
    L"Show Lumidra log",
    L"Download Lumidra log",
    L"Exit",
    L"About Lumidra",
    L"Copying data",
    L" - error occured. Retrying...",  // "occured" kept: the text users have always seen
};

const wchar_t* const CZECH[TEXT_COUNT] = {
    L"Startuji Lumidra...",
    L"Kop\u00edruji prohl\u00ed\u017ee\u010d",
    L"Ukon\u010dit DICOM Lumidra",
    L"DICOM prohl\u00ed\u017ee\u010d z CD",
    L"DICOM Lumidra spu\u0161t\u011bn",
    L"Nepoda\u0159ilo se spustit DICOM Lumidra",
    L"DICOM prohl\u00ed\u017ee\u010d z CD je ji\u017e spu\u0161t\u011bn\n"
    L"Pros\u00edm, nejprve ukon\u010dete p\u0159edchoz\u00ed spu\u0161t\u011bn\u00ed programu.",
    L"Odstra\u0148uji do\u010dasn\u00e9 soubory...",
    L"Ulo\u017eit log CD prohl\u00ed\u017ee\u010de jako...",
    L"Zobrazit log CD prohl\u00ed\u017ee\u010de",
    L"St\u00e1hnout log CD prohl\u00ed\u017ee\u010de",
    L"Ukon\u010dit",
    L"O aplikaci",
    L"Kop\u00edruji data",
    L" - do\u0161lo k chyb\u011b, opakuji operaci...",
};

}  // namespace

const wchar_t* uiText(uint16_t language, uint16_t id) {
    if (id < 1 || id > TEXT_COUNT) return L"";
    return language == LANG_ID_CZECH ? CZECH[id - 1] : ENGLISH[id - 1];
}
