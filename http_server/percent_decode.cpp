// The one percent-decoder, for query and form values and for request paths: "+" is a blank, and
// "%" with the two characters after it is one byte.

#include <cstring>
#include <string>

#include "server_internal.h"

namespace {

// A character that is not a hex digit counts by its low four bits, as it always has here.
int hexValue(char c) {
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return c & 0x0f;
}

}  // namespace

std::size_t percentDecode(const char* text, char* out, DecodeAs as) {
    const bool path = as == DecodeAs::requestPath;
    std::size_t length = 0;
    const char* read = text;
    while (*read) {
        char c = *read;
        if (path && c == '?') break;
        if (c == '%') {
            if (!read[1] || !read[2]) break;
            c = static_cast<char>((hexValue(read[1]) << 4) | hexValue(read[2]));
            read += 3;
            if (path && c == '\0') break;
        } else {
            ++read;
            if (c == '+') c = ' ';
        }
        // An encoded or literal "..\" is the parent step it is on Windows.
        if (path && c == '\\') c = '/';
        out[length++] = c;
    }
    return length;
}

void urlDecodeInPlace(char* text) {
    if (!text) return;
    text[percentDecode(text, text, DecodeAs::formValue)] = '\0';
}

std::string decodeRequestPath(const char* path) {
    std::string decoded(std::strlen(path), '\0');
    decoded.resize(percentDecode(path, decoded.data(), DecodeAs::requestPath));
    return decoded;
}
