#include "command_line.h"

std::vector<std::string> splitCommandLine(const std::string& commandLine) {
    std::vector<std::string> arguments;
    std::string current;
    bool quoted = false;
    for (char ch : commandLine) {
        if ((ch == ' ' || ch == '\t') && !quoted) {
            if (!current.empty()) arguments.push_back(std::move(current));
            current.clear();
        } else if (ch == '"') {
            quoted = !quoted;
        } else {
            current += ch;
        }
    }
    if (!current.empty()) arguments.push_back(std::move(current));
    return arguments;
}
