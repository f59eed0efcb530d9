#include "common/ui_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UiText, LanguageSelectsTheColumn) {
    EXPECT_STREQ(uiText(5, UiText::Starting), L"Startuji Lumidra...");
    EXPECT_STREQ(uiText(9, UiText::Starting), L"Starting Lumidra...");
    EXPECT_STREQ(uiText(7, UiText::Starting), L"Starting Lumidra...");
    EXPECT_STREQ(uiText(5, UiText::WindowTitle), L"DICOM prohl\u00ed\u017ee\u010d z CD");
    EXPECT_STREQ(uiText(5, UiText::Started), L"DICOM Lumidra spu\u0161t\u011bn");
}

TEST(UiText, IdsOutsideTheTableGiveAnEmptyText) {
    for (uint16_t language : {5, 9}) {
        EXPECT_STREQ(uiText(language, uint16_t{0}), L"");
        EXPECT_STREQ(uiText(language, uint16_t{16}), L"");
        EXPECT_STREQ(uiText(language, uint16_t{0xFFFF}), L"");
    }
}

TEST(UiText, EveryIdHasATextInBothLanguages) {
    for (uint16_t id = 1; id <= 15; ++id) {
        EXPECT_NE(std::wstring(uiText(9, id)), L"") << id;
        EXPECT_NE(std::wstring(uiText(5, id)), L"") << id;
    }
    EXPECT_NE(std::wstring(uiText(9, UiText::AlreadyRunning)).find(L'\n'), std::wstring::npos);
    EXPECT_NE(std::wstring(uiText(5, UiText::AlreadyRunning)).find(L'\n'), std::wstring::npos);
}

TEST(UiText, RetrySuffixFollowsTheStageTextWithOneBlank) {
    std::wstring status = std::wstring(uiText(9, UiText::CopyingData)) + uiText(9, UiText::RetrySuffix);
    EXPECT_EQ(status, L"Copying data - error occured. Retrying...");
    status = std::wstring(uiText(5, UiText::CopyingBrowser)) + uiText(5, UiText::RetrySuffix);
    EXPECT_EQ(status,
              L"Kop\u00edruji prohl\u00ed\u017ee\u010d - do\u0161lo k chyb\u011b, opakuji operaci...");
}

}  // namespace
