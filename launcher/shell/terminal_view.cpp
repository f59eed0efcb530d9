#include "terminal_view.h"

#include "common/commands.h"
#include "common/ui_text.h"
#include "log/ansi_text.h"

namespace {

std::string trimmedLower(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    std::string word = text.substr(begin, end - begin + 1);
    for (char& c : word)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return word;
}

bool isMenuText(const std::string& word, uint16_t language, UiText id) {
    return word == trimmedLower(wideToAnsi(uiText(language, id)));
}

}  // namespace

TerminalAction actionForKey(char key) {
    switch (key) {
        case 'a':
        case 'A':
        case '?':
            return TerminalAction::About;
        case 'l':
        case 'L':
            return TerminalAction::ShowLog;
        case 'd':
        case 'D':
            return TerminalAction::DownloadLog;
        case 'x':
        case 'X':
            return TerminalAction::Exit;
        case 't':
        case 'T':
            return TerminalAction::TerminateButton;
        default:
            return TerminalAction::None;
    }
}

TerminalAction actionForWords(const std::string& line, uint16_t language) {
    std::string word = trimmedLower(line);
    if (word == "about" || isMenuText(word, language, UiText::About)) return TerminalAction::About;
    if (word == "show log" || isMenuText(word, language, UiText::ShowLog)) return TerminalAction::ShowLog;
    if (word == "download log" || isMenuText(word, language, UiText::DownloadLog))
        return TerminalAction::DownloadLog;
    if (word == "exit" || isMenuText(word, language, UiText::Exit)) return TerminalAction::Exit;
    if (word == "terminate" || isMenuText(word, language, UiText::TerminateButton))
        return TerminalAction::TerminateButton;
    return TerminalAction::None;
}

int commandOfAction(TerminalAction action, bool buttonEnabled) {
    switch (action) {
        case TerminalAction::About:
            return IDM_ABOUT;
        case TerminalAction::ShowLog:
            return IDM_SHOW_LOG;
        case TerminalAction::DownloadLog:
            return IDM_DOWNLOAD_LOG;
        case TerminalAction::Exit:
            return IDM_EXIT;
        case TerminalAction::TerminateButton:
            return buttonEnabled ? IDM_EXIT : 0;
        case TerminalAction::None:
            break;
    }
    return 0;
}

int trailingPercent(const std::wstring& status) {
    if (status.empty() || status.back() != L'%') return -1;
    size_t digitsEnd = status.size() - 1;
    size_t digitsBegin = digitsEnd;
    while (digitsBegin > 0 && digitsEnd - digitsBegin < 3 && status[digitsBegin - 1] >= L'0' &&
           status[digitsBegin - 1] <= L'9')
        --digitsBegin;
    if (digitsBegin == digitsEnd) return -1;
    if (digitsBegin > 0 && status[digitsBegin - 1] >= L'0' && status[digitsBegin - 1] <= L'9') return -1;
    int percent = std::stoi(status.substr(digitsBegin, digitsEnd - digitsBegin));
    return percent <= 100 ? percent : -1;
}

std::string progressBar(int percent, int width) {
    if (width < 1) return "";
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    int filled = percent * width / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '.') + "]";
}

std::wstring printable(const std::wstring& text) {
    std::wstring shown = text;
    for (wchar_t& c : shown)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) c = L' ';
    return shown;
}

std::string printableBlock(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F in UTF-8.
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F &&
            static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            shown += ' ';
            ++i;
        } else if ((c < 0x20 && c != '\n') || c == 0x7F) {
            shown += ' ';
        } else {
            shown += text[i];
        }
    }
    return shown;
}

std::string terminalStatusLine(const std::wstring& rawStatus, int columns) {
    const std::wstring status = printable(rawStatus);
    std::string line = wideToAnsi(status);
    int percent = trailingPercent(status);
    if (percent >= 0) {
        int room = columns - static_cast<int>(status.size()) - 4;  // blank, brackets, and a spare column
        int width = room < 30 ? room : 30;
        if (width >= 5) line += " " + progressBar(percent, width);
    }
    return clipToColumns(line, columns - 1);
}

std::string terminalButtonLine(bool enabled, uint16_t language) {
    std::string caption = wideToAnsi(uiText(language, UiText::TerminateButton));
    return enabled ? "[ " + caption + " ]" : "( " + caption + " )";
}

std::string terminalKeyHelp(uint16_t language) {
    auto item = [language](const char* key, UiText id) {
        return std::string(key) + " " + wideToAnsi(uiText(language, id));
    };
    return item("a", UiText::About) + " | " + item("l", UiText::ShowLog) + " | " +
           item("d", UiText::DownloadLog) + " | " + item("x", UiText::Exit) + " | " +
           item("t", UiText::TerminateButton);
}

std::string pipeWordHelp() { return "Commands: about, show log, download log, exit, terminate"; }

std::string statusChangeLine(const std::wstring& status) {
    return "Status: " + wideToAnsi(printable(status));
}

std::string buttonChangeLine(bool enabled, uint16_t language) {
    return "Button: " + wideToAnsi(uiText(language, UiText::TerminateButton)) +
           (enabled ? " (enabled)" : " (disabled)");
}

std::string clipToColumns(const std::string& text, int columns) {
    if (columns < 0) columns = 0;
    int seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // A byte that does not continue a UTF-8 sequence starts a new character.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == columns) return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}
