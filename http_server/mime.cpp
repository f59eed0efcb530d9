// Content types by file extension.

#include <cctype>
#include <cstring>

#include "server_internal.h"

namespace {

const char* const MIME_TYPES[CONTENT_TYPE_COUNT] = {
    "application/octet-stream",
    "text/html",
    "text/xml",
    "text/plain",
    "application/vnd.mozilla.xul+xml",
    "text/css",
    "application/x-javascript",
    "image/png",
    "image/jpeg",
    "image/gif",
    "application/x-shockwave-flash",
    "audio/mpeg",
    "video/mpeg",
    "video/avi",
    "video/mp4",
    "video/quicktime",
    "video/x-mpeg-avc",
    "video/flv",
    "video/MP2T",
    "video/3gpp",
    "video/x-ms-asf",
    "application/octet-stream",
    "application/x-datastream",
    "application/x-mpegURL",
    "application/sdp",
    "application/binhex",
};

constexpr ContentTypeIndex UNKNOWN_CONTENT_TYPE = 21;

struct ExtensionType {
    const char* extension;
    ContentTypeIndex type;
};

const ExtensionType THREE_LETTER[] = {
    {"htm", 1},  {"xml", 2},  {"xsl", 2},  {"txt", 3},  {"xul", 4},  {"css", 5},  {"png", 7},
    {"jpg", 8},  {"gif", 9},  {"swf", 10}, {"mp3", 11}, {"mpg", 12}, {"avi", 13}, {"mp4", 14},
    {"mov", 15}, {"264", 16}, {"flv", 17}, {"3gp", 19}, {"asf", 20}, {"sdp", 24},
};

const ExtensionType FOUR_LETTER[] = {{"m3u8", 23}, {"mpeg", 12}, {"html", 1}};

bool sameNoCase(const char* text, const char* word, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return true;
}

}  // namespace

const char* mimeTypeText(ContentTypeIndex index) {
    if (index < 0 || index >= CONTENT_TYPE_COUNT) index = 0;
    return MIME_TYPES[index];
}

ContentTypeIndex mimeIndexForExtension(const char* extension) {
    if (!extension) return UNKNOWN_CONTENT_TYPE;
    std::size_t length = 0;
    while (extension[length] && extension[length] != '?') ++length;
    bool query = extension[length] == '?';
    switch (length) {
        case 2:
            if (sameNoCase(extension, "js", 2)) return 6;
            if (sameNoCase(extension, "ts", 2)) return 18;
            return UNKNOWN_CONTENT_TYPE;
        case 3:
            if (query) return UNKNOWN_CONTENT_TYPE;
            for (const ExtensionType& entry : THREE_LETTER)
                if (sameNoCase(extension, entry.extension, 3)) return entry.type;
            return UNKNOWN_CONTENT_TYPE;
        case 4:
            for (const ExtensionType& entry : FOUR_LETTER)
                if (sameNoCase(extension, entry.extension, 4)) return entry.type;
            return UNKNOWN_CONTENT_TYPE;
        default:
            return UNKNOWN_CONTENT_TYPE;
    }
}
