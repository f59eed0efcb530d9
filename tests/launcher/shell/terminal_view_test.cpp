#include "shell/terminal_view.h"

#include <gtest/gtest.h>

#include "common/commands.h"

namespace {

int codePoints(const std::string& utf8) {
    int count = 0;
    for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
    return count;
}

TEST(TerminalView, KeysReachEveryMenuItemAndTheButton) {
    EXPECT_EQ(commandOfAction(actionForKey('a'), false), IDM_ABOUT);
    EXPECT_EQ(commandOfAction(actionForKey('?'), false), IDM_ABOUT);
    EXPECT_EQ(commandOfAction(actionForKey('l'), false), IDM_SHOW_LOG);
    EXPECT_EQ(commandOfAction(actionForKey('D'), false), IDM_DOWNLOAD_LOG);
    EXPECT_EQ(commandOfAction(actionForKey('x'), false), IDM_EXIT);
    EXPECT_EQ(commandOfAction(actionForKey('q'), true), 0);
    EXPECT_EQ(commandOfAction(actionForKey('\n'), true), 0);
}

TEST(TerminalView, TheButtonWorksOnlyWhenEnabledWhileExitAlwaysWorks) {
    EXPECT_EQ(commandOfAction(actionForKey('t'), false), 0);
    EXPECT_EQ(commandOfAction(actionForKey('t'), true), IDM_EXIT);
    EXPECT_EQ(commandOfAction(actionForWords("terminate", 9), false), 0);
    EXPECT_EQ(commandOfAction(actionForWords("terminate", 9), true), IDM_EXIT);
    EXPECT_EQ(commandOfAction(actionForWords("exit", 9), false), IDM_EXIT);
}

TEST(TerminalView, WordsIgnoreCaseAndBlanksAndAcceptTheMenuTexts) {
    EXPECT_EQ(actionForWords("Show log", 9), TerminalAction::ShowLog);
    EXPECT_EQ(actionForWords("  SHOW LOG \r\n", 9), TerminalAction::ShowLog);
    EXPECT_EQ(actionForWords("download log", 9), TerminalAction::DownloadLog);
    EXPECT_EQ(actionForWords("about", 9), TerminalAction::About);
    EXPECT_EQ(actionForWords("Show Lumidra log", 9), TerminalAction::ShowLog);
    EXPECT_EQ(actionForWords("Download Lumidra log", 9), TerminalAction::DownloadLog);
    EXPECT_EQ(actionForWords("Terminate DICOM Lumidra", 9), TerminalAction::TerminateButton);
    // The Czech menu, as shown to a Czech user; the English words keep working there.
    EXPECT_EQ(actionForWords("Zobrazit log CD prohl\xc3\xad\xc5\xbe\x65\xc4\x8d\x65", 5),
              TerminalAction::ShowLog);
    EXPECT_EQ(actionForWords("Ukon\xc4\x8dit", 5), TerminalAction::Exit);
    EXPECT_EQ(actionForWords("O aplikaci", 5), TerminalAction::About);
    EXPECT_EQ(actionForWords("show log", 5), TerminalAction::ShowLog);
    EXPECT_EQ(actionForWords("O aplikaci", 9), TerminalAction::None);
    EXPECT_EQ(actionForWords("show", 9), TerminalAction::None);
    EXPECT_EQ(actionForWords("show logs", 9), TerminalAction::None);
    EXPECT_EQ(actionForWords("", 9), TerminalAction::None);
}

TEST(TerminalView, ThePercentageIsReadFromTheEndOfTheStatus) {
    EXPECT_EQ(trailingPercent(L"Copying browser  5%"), 5);
    EXPECT_EQ(trailingPercent(L"Copying data 45%"), 45);
    EXPECT_EQ(trailingPercent(L"Kop\u00edruji data100%"), 100);
    EXPECT_EQ(trailingPercent(L"0%"), 0);
    EXPECT_EQ(trailingPercent(L"Copying data"), -1);
    EXPECT_EQ(trailingPercent(L"Copying data - error occured. Retrying..."), -1);
    EXPECT_EQ(trailingPercent(L"%"), -1);
    EXPECT_EQ(trailingPercent(L"Copying abc%"), -1);
    EXPECT_EQ(trailingPercent(L"x 1000%"), -1);
    EXPECT_EQ(trailingPercent(L"x 101%"), -1);
    EXPECT_EQ(trailingPercent(L""), -1);
}

TEST(TerminalView, TheBarIsFilledInProportion) {
    EXPECT_EQ(progressBar(0, 10), "[..........]");
    EXPECT_EQ(progressBar(50, 10), "[#####.....]");
    EXPECT_EQ(progressBar(100, 10), "[##########]");
    EXPECT_EQ(progressBar(99, 10), "[#########.]");
    EXPECT_EQ(progressBar(250, 4), "[####]");
    EXPECT_EQ(progressBar(-3, 4), "[....]");
    EXPECT_EQ(progressBar(50, 0), "");
}

TEST(TerminalView, TheStatusLineCarriesTheBarAndNeverOverflowsTheTerminal) {
    std::string line = terminalStatusLine(L"Copying data 45%", 80);
    EXPECT_EQ(line.rfind("Copying data 45% [", 0), 0u) << line;
    EXPECT_NE(line.find("#"), std::string::npos);
    EXPECT_EQ(line.back(), ']');
    EXPECT_EQ(terminalStatusLine(L"DICOM Lumidra started", 80), "DICOM Lumidra started");

    const std::wstring czech = L"Kop\u00edruji prohl\u00ed\u017ee\u010d 45%";
    for (int columns : {1, 10, 20, 25, 40, 80, 200}) {
        std::string drawn = terminalStatusLine(czech, columns);
        EXPECT_LE(codePoints(drawn), columns - 1) << columns;
    }
    // Too narrow for a bar: the text alone, cut to fit.
    EXPECT_EQ(terminalStatusLine(L"Copying data 45%", 20), "Copying data 45%");
}

TEST(TerminalView, ControlCharactersFromTheExtractorNeverReachTheTerminal) {
    // Backspaces and an escape sequence where the extractor's figure is taken from.
    const std::wstring status = L"Copying data\b\b\x1b[2J\u009b5%";
    for (const std::string& shown : {terminalStatusLine(status, 80), statusChangeLine(status)}) {
        for (unsigned char c : shown) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << shown;
        EXPECT_EQ(shown.find("\xc2\x9b"), std::string::npos);
    }
    EXPECT_EQ(printable(L"Kop\u00edruji\n\t\r 45%"), L"Kop\u00edruji    45%");
    // A block keeps its line breaks and its non-ASCII text.
    EXPECT_EQ(printableBlock("a\x1b[31mb\nKop\xc3\xadruji\xc2\x9b\x7f\r\n"), "a [31mb\nKop\xc3\xadruji   \n");
    EXPECT_EQ(printableBlock("\xc2"), "\xc2");  // a cut sequence is left to the terminal's own handling
}

TEST(TerminalView, ClippingCountsCharactersNotBytes) {
    EXPECT_EQ(clipToColumns("Kop\xc3\xadruji", 4), "Kop\xc3\xad");
    EXPECT_EQ(clipToColumns("Kop\xc3\xadruji", 3), "Kop");
    EXPECT_EQ(clipToColumns("abc", 10), "abc");
    EXPECT_EQ(clipToColumns("abc", 0), "");
    EXPECT_EQ(clipToColumns("abc", -5), "");
}

TEST(TerminalView, LinesForPipesNameTheChange) {
    EXPECT_EQ(statusChangeLine(L"Copying data 45%"), "Status: Copying data 45%");
    EXPECT_EQ(statusChangeLine(L"DICOM Lumidra spu\u0161t\u011bn"),
              "Status: DICOM Lumidra spu\xc5\xa1t\xc4\x9bn");
    EXPECT_EQ(buttonChangeLine(true, 9), "Button: Terminate DICOM Lumidra (enabled)");
    EXPECT_EQ(buttonChangeLine(false, 5), "Button: Ukon\xc4\x8dit DICOM Lumidra (disabled)");
    EXPECT_NE(terminalKeyHelp(5).find("x Ukon\xc4\x8dit"), std::string::npos);
}

}  // namespace
