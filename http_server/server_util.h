#pragma once
// The bottom of the server, which every layer may call: its diagnostic lines and its clock.

#include <cstdint>

// A diagnostic line to serverLog (lumiserv.h); nothing when no stream is chosen yet.
void serverPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Wall-clock seconds since 1970, the unit of every expiry and statistics time.
std::int64_t nowSeconds();
