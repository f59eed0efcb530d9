// The server's diagnostic stream and clock.

#include "server_util.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "lumiserv.h"

std::FILE* serverLog = nullptr;

void serverPrintf(const char* format, ...) {
    if (!serverLog) return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(serverLog, format, arguments);
    va_end(arguments);
}

std::int64_t nowSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }
