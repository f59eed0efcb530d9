#include "common/language.h"

#include <gtest/gtest.h>

namespace {

TEST(Language, LocaleVariablesTakeTheirUsualPrecedence) {
    EXPECT_EQ(messagesLocale("cs_CZ.UTF-8", "de_DE.UTF-8", "en_US.UTF-8"), "cs_CZ.UTF-8");
    EXPECT_EQ(messagesLocale(nullptr, "de_DE.UTF-8", "en_US.UTF-8"), "de_DE.UTF-8");
    EXPECT_EQ(messagesLocale("", "", "cs_CZ"), "cs_CZ");  // set but empty counts as unset
    EXPECT_EQ(messagesLocale(nullptr, nullptr, nullptr), "");
}

TEST(Language, LocaleNamesGiveWindowsPrimaryLanguageIds) {
    EXPECT_EQ(primaryLanguageOfLocale("cs_CZ.UTF-8"), 5);
    EXPECT_EQ(primaryLanguageOfLocale("cs"), 5);
    EXPECT_EQ(primaryLanguageOfLocale("CS_cz"), 5);
    EXPECT_EQ(primaryLanguageOfLocale("en_GB.UTF-8"), 9);
    EXPECT_EQ(primaryLanguageOfLocale("de_AT@euro"), 7);
    EXPECT_EQ(primaryLanguageOfLocale("sk_SK.ISO-8859-2"), 0x1b);
    EXPECT_EQ(primaryLanguageOfLocale("pt_BR.UTF-8"), 0x16);
    EXPECT_EQ(primaryLanguageOfLocale("sr_RS@latin"), 0x1a);
    EXPECT_EQ(primaryLanguageOfLocale("fil_PH"), 0x64);
    EXPECT_EQ(primaryLanguageOfLocale("zh_TW.Big5"), 0x04);
}

TEST(Language, UnknownAndNeutralLocalesAreEnglish) {
    EXPECT_EQ(primaryLanguageOfLocale("C"), LANG_ID_ENGLISH);
    EXPECT_EQ(primaryLanguageOfLocale("C.UTF-8"), LANG_ID_ENGLISH);
    EXPECT_EQ(primaryLanguageOfLocale("POSIX"), LANG_ID_ENGLISH);
    EXPECT_EQ(primaryLanguageOfLocale(""), LANG_ID_ENGLISH);
    EXPECT_EQ(primaryLanguageOfLocale("eo"), LANG_ID_ENGLISH);
    EXPECT_EQ(primaryLanguageOfLocale("c"), LANG_ID_ENGLISH);  // not a prefix match on "ca"/"cs"
    EXPECT_EQ(primaryLanguageOfLocale("csb_PL"), LANG_ID_ENGLISH);
}

TEST(Language, ReadsTheEnvironment) {
    ASSERT_EQ(setenv("LC_ALL", "", 1), 0);
    ASSERT_EQ(setenv("LC_MESSAGES", "cs_CZ.UTF-8", 1), 0);
    ASSERT_EQ(setenv("LANG", "de_DE.UTF-8", 1), 0);
    EXPECT_EQ(readUiLanguage(), 5);
    ASSERT_EQ(setenv("LC_ALL", "de_DE.UTF-8", 1), 0);
    EXPECT_EQ(readUiLanguage(), 7);
    ASSERT_EQ(unsetenv("LC_ALL"), 0);
    ASSERT_EQ(unsetenv("LC_MESSAGES"), 0);
    ASSERT_EQ(unsetenv("LANG"), 0);
    EXPECT_EQ(readUiLanguage(), 9);
}

}  // namespace
