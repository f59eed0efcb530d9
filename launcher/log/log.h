#pragma once
// The launcher's one in-memory log. Lines are appended whole under one lock and are never
// written to disk unless the user saves them. It keeps its first and its newest lines, about a
// megabyte in all; one line in their midst counts what was left out (see bounded_log.h).

#include <string>

void logInfo(std::string message);
void logWarn(std::string message);
void logError(std::string message);

// A copy of the whole log as it stands now.
std::string logText();

// Local time as "%F %H:%M:%S", with "." and three millisecond digits when withMillis is true.
std::string formatTimestamp(bool withMillis);
