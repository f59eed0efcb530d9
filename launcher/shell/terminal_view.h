#pragma once
// What the terminal front end shows and how it reads what the person types. No terminal I/O
// here: the terminal code draws these lines and feeds in the keys and words it reads.

#include <cstdint>
#include <string>

// What a key or a typed word asks for: one of the popup menu's items, or the terminate button.
enum class TerminalAction { None, About, ShowLog, DownloadLog, Exit, TerminateButton };

// A single key on a terminal: a (or ?) About, l Show log, d Download log, x Exit, t the button.
TerminalAction actionForKey(char key);

// A line typed on a pipe: "about", "show log", "download log", "exit" or "terminate" (any case,
// blanks around ignored), or a menu item's own text in the UI language.
TerminalAction actionForWords(const std::string& line, uint16_t language);

// The command id the action runs, or 0. The button does nothing while it is disabled; the menu
// items always work.
int commandOfAction(TerminalAction action, bool buttonEnabled);

// The extractor's percentage at the end of a status text ("Copying data 45%"), or -1.
int trailingPercent(const std::wstring& status);

// A bar `width` cells wide inside brackets, filled in proportion to the percentage.
std::string progressBar(int percent, int width);

// The status line for a terminal `columns` wide: the text and, when it ends in a percentage,
// a progress bar beside it; never wider than the terminal.
std::string terminalStatusLine(const std::wstring& status, int columns);

// The button as drawn on a terminal.
std::string terminalButtonLine(bool enabled, uint16_t language);

// The keys of the menu and the button, with their texts in the UI language.
std::string terminalKeyHelp(uint16_t language);

// The words understood on standard input when it is not a terminal.
std::string pipeWordHelp();

// The lines written when the output is not a terminal, one per change.
std::string statusChangeLine(const std::wstring& status);
std::string buttonChangeLine(bool enabled, uint16_t language);

// The text with every control character made a blank: the extractor's progress figure comes
// from another program's output and must not steer the terminal.
std::wstring printable(const std::wstring& text);

// A block of UTF-8 text (the log, say) made safe for a terminal: line breaks stay, every other
// control character becomes a blank.
std::string printableBlock(const std::string& text);

// Cuts UTF-8 text to at most `columns` characters, counting each code point as one column.
std::string clipToColumns(const std::string& text, int columns);
