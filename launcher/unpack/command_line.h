#pragma once
// Splits a command line into its arguments the way the 7-Zip extractor reads its own command
// line: blanks and tabs outside double quotes separate arguments, a double quote switches
// grouping on or off and is dropped, and a backslash is an ordinary character (so the output
// folder `-o"dir\"` keeps its trailing backslash). Empty arguments are dropped.

#include <string>
#include <vector>

std::vector<std::string> splitCommandLine(const std::string& commandLine);
