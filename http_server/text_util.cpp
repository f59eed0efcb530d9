// Small text helpers for buffers that are bounded by length rather than by a terminator.

#include <cctype>
#include <cstring>
#include <string>

#include "server_internal.h"

long findBytes(const char* haystack, std::size_t haystackLength, const char* needle,
               std::size_t needleLength) {
    if (needleLength == 0) return 0;
    if (haystackLength < needleLength) return -1;
    const char* end = haystack + haystackLength - needleLength;
    for (const char* at = haystack; at <= end; ++at) {
        at = static_cast<const char*>(std::memchr(at, needle[0], static_cast<std::size_t>(end - at) + 1));
        if (!at) return -1;
        if (std::memcmp(at, needle, needleLength) == 0) return at - haystack;
    }
    return -1;
}

bool startsWithNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (!*text) return false;
        if (std::tolower(static_cast<unsigned char>(*text)) !=
            std::tolower(static_cast<unsigned char>(*prefix)))
            return false;
    }
    return true;
}

long findNoCase(const char* haystack, std::size_t haystackLength, const char* needle) {
    std::size_t needleLength = std::strlen(needle);
    if (haystackLength < needleLength) return -1;
    for (std::size_t at = 0; at + needleLength <= haystackLength; ++at) {
        std::size_t i = 0;
        while (i < needleLength && std::tolower(static_cast<unsigned char>(haystack[at + i])) ==
                                       std::tolower(static_cast<unsigned char>(needle[i])))
            ++i;
        if (i == needleLength) return static_cast<long>(at);
    }
    return -1;
}

std::string htmlEscape(const char* text) {
    std::string escaped;
    for (; text && *text; ++text) {
        switch (*text) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped.push_back(*text);
        }
    }
    return escaped;
}

std::size_t copyBounded(char* destination, std::size_t capacity, const char* source,
                        std::size_t sourceLength) {
    if (capacity == 0) return 0;
    std::size_t count = sourceLength < capacity - 1 ? sourceLength : capacity - 1;
    if (count > 0) std::memcpy(destination, source, count);
    destination[count] = '\0';
    return count;
}
