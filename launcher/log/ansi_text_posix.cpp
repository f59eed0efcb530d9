#include "ansi_text.h"

#include <cstdint>

// On POSIX the narrow text is UTF-8 and a wchar_t holds one code point. Malformed bytes are
// taken one by one as Latin-1, so no input is ever lost or rejected.

std::wstring ansiToWide(const std::string& text) {
    std::wstring wide;
    wide.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size && bytes[i] != 0) {
        unsigned char lead = bytes[i];
        uint32_t codePoint = lead;
        size_t length = 1;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2, codePoint = lead & 0x1F;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, codePoint = lead & 0x0F;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, codePoint = lead & 0x07;
        bool valid = length > 1 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
        }
        if (valid && (codePoint < 0x80 || (length == 3 && codePoint < 0x800) ||
                      (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) ||
                      (codePoint >= 0xD800 && codePoint <= 0xDFFF)))
            valid = false;
        if (!valid) length = 1, codePoint = lead;
        wide.push_back(static_cast<wchar_t>(codePoint));
        i += length;
    }
    return wide;
}

std::string wideToAnsi(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t ch : text) {
        auto codePoint = static_cast<uint32_t>(ch);
        if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) codePoint = '?';
        if (codePoint < 0x80) {
            narrow.push_back(static_cast<char>(codePoint));
        } else if (codePoint < 0x800) {
            narrow.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
            narrow.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
        } else if (codePoint < 0x10000) {
            narrow.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
            narrow.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
        } else {
            narrow.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
            narrow.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
            narrow.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
        }
    }
    return narrow;
}

// POSIX paths are bytes already in the narrow encoding.
std::string pathToAnsi(const std::filesystem::path& path) { return path.native(); }
