// parseVariables and urlDecodeInPlace: every variable points into the text it was parsed from,
// the list ends where the count says, and the decoding matches a plain reading of the rules
// ("+" is a blank, "%" and two characters one byte, a "%" short of two characters ends the text).
//
// Input: byte 0 picks GET (the query of the path) or POST (the body), the rest is the text.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "server_internal.h"

namespace {

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return static_cast<unsigned char>(c) & 0x0f;
}

std::string referenceDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '+') {
            out.push_back(' ');
            ++i;
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) break;
            out.push_back(static_cast<char>((nibble(text[i + 1]) << 4) | nibble(text[i + 2])));
            i += 3;
        } else {
            out.push_back(text[i++]);
        }
    }
    // The decoded text is a C string: it ends at a decoded NUL.
    return out.c_str();
}

bool inside(const char* pointer, const char* begin, std::size_t size) {
    return pointer >= begin && pointer <= begin + size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool post = data[0] & 1;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.c_str();

    // urlDecodeInPlace against the reference, in a buffer of exactly the text's size.
    {
        char* buffer = static_cast<char*>(std::malloc(text.size() + 1));
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        urlDecodeInPlace(buffer);
        if (referenceDecode(text) != buffer) __builtin_trap();
        std::free(buffer);
    }

    // parseVariables on a request path (GET) or a body (POST).
    char* source = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(source, text.c_str(), text.size() + 1);
    ConnectionSlot slot{};
    slot.flags = post ? FLAG_POST : FLAG_GET;
    HandlerRequest request{};
    request.slot = &slot;
    request.variableCount = -1;
    static char emptyPath[] = "/form";
    if (post) {
        request.path = emptyPath;
        request.body = source;
    } else {
        request.path = source;
    }
    int count = parseVariables(&request);
    if (count > 0) {
        if (!request.variables || request.variableCount != count) __builtin_trap();
        // One variable per "&"-separated segment of the parsed text, and a closing null name.
        if (request.variables[count].name != nullptr) __builtin_trap();
        for (int i = 0; i < count; ++i) {
            const FormVariable& variable = request.variables[i];
            if (!variable.name || !variable.value) __builtin_trap();
            if (!inside(variable.name, source, text.size()) || !inside(variable.value, source, text.size()))
                __builtin_trap();
            if (std::strchr(variable.name, '&') || std::strchr(variable.name, '=')) __builtin_trap();
        }
        if (parseVariables(&request) != count) __builtin_trap();
    } else {
        if (request.variables != nullptr || request.variableCount != -1) __builtin_trap();
        if (count != 0 && count != -1) __builtin_trap();
    }
    // A GET handler sees its path without the query.
    if (!post && std::strchr(request.path, '?')) __builtin_trap();
    std::free(request.variables);
    std::free(source);
    return 0;
}
