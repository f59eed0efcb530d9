// Turning a request path into a local file path under a document root, and opening what it
// names: a file, a directory's default document, a listing or a redirect.

#include <cstdlib>
#include <cstring>
#include <string>

#include "file_io.h"
#include "server_internal.h"

namespace {

const char* const DEFAULT_DOCUMENTS[] = {"index.htm", "index.html", "default.htm", "main.xul"};

// The relative location that adds the missing "/" to a directory request; the query, if any,
// follows the slash.
std::string directoryLocation(const char* path) {
    const char* query = std::strchr(path, '?');
    std::string base(path, query ? static_cast<std::size_t>(query - path) : std::strlen(path));
    std::size_t slash = base.rfind('/');
    std::string location = slash == std::string::npos ? base : base.substr(slash + 1);
    location.push_back('/');
    if (query) location += query;
    std::string safe;
    for (char c : location) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            safe += escaped;
        } else {
            safe.push_back(c);
        }
    }
    return safe;
}

}  // namespace

bool composeLocalPath(const char* root, const char* requestPath, LocalPath* out) {
    out->length = 0;
    out->extension = -1;
    out->endedWithSlash = false;
    out->text[0] = '\0';
    bool noRoot = requestPath[0] == '~';
    if (noRoot) ++requestPath;
    std::string decoded = decodeRequestPath(requestPath);
    std::size_t read = 0;
    int length = 0;
    char* text = out->text;
    if (noRoot) {
        // Relative to the current directory and never outside it: no absolute path, no drive.
        if (decoded.find(':') != std::string::npos) return false;
        while (read < decoded.size() && decoded[read] == '/') ++read;
    } else {
        if (!root || !root[0]) return false;
        length = static_cast<int>(copyBounded(text, MAX_LOCAL_PATH + 1, root, std::strlen(root)));
        if (length > 0 && text[length - 1] != '/' && text[length - 1] != '\\' && length < MAX_LOCAL_PATH)
            text[length++] = '/';
    }
    bool slashCopied = false;
    int afterLastSlash = length;
    char previous = '\0';
    while (read < decoded.size() && length < MAX_LOCAL_PATH) {
        char c = decoded[read];
        if (c == '/') {
            if (previous != '/') {
                text[length++] = '/';
                slashCopied = true;
                afterLastSlash = length;
            }
            previous = c;
            ++read;
            continue;
        }
        if (c == '.') {
            if (slashCopied && read + 2 < decoded.size() && decoded[read + 1] == '.' &&
                decoded[read + 2] == '/') {
                // A parent step is dropped, never followed: a/../b becomes a//b.
                length = afterLastSlash;
                read += 2;
                previous = '.';
                continue;
            }
            text[length++] = '.';
            out->extension = length;
            while (read < decoded.size() && decoded[read] == '.') ++read;
            previous = '.';
            continue;
        }
        text[length++] = c;
        previous = c;
        ++read;
    }
    if (length > 0 && text[length - 1] == '/') {
        --length;
        out->endedWithSlash = true;
    }
    text[length] = '\0';
    if (out->extension > length) out->extension = -1;
    out->length = length;
    return true;
}

std::string normalisedRequestPath(const char* path) {
    std::string decoded = decodeRequestPath(path[0] == '~' ? path + 1 : path);
    std::string result;
    std::size_t start = 0;
    while (start <= decoded.size()) {
        std::size_t end = decoded.find('/', start);
        if (end == std::string::npos) end = decoded.size();
        std::string segment = decoded.substr(start, end - start);
        if (segment.find_first_not_of('.') != std::string::npos) {
            if (!result.empty()) result.push_back('/');
            result += segment;
        }
        start = end + 1;
    }
    return result;
}

int openContent(ServerConfig* server, ConnectionSlot* slot, const char* root, const char* requestPath) {
    if (!root || !requestPath) return -1;
    FileInfo info{};
    if (slot->flags & FLAG_HANDLER_FILE) {
        if (slot->file <= 0 || !fileQueryOpen(slot->file, &info)) return -1;
        const char* dot = std::strrchr(slot->path, '.');
        prepareFileResponse(server, slot, info.size, info.modified, dot ? dot + 1 : nullptr);
        return 0;
    }
    LocalPath local;
    if (!composeLocalPath(root, requestPath, &local)) return -1;
    if (!fileQuery(local.text, &info)) return -1;
    const char* extension = local.extension >= 0 ? local.text + local.extension : nullptr;
    if (info.isDirectory) {
        slot->file = -1;
    } else if (!info.isRegular) {
        return -1;  // devices, pipes and sockets are not content
    } else {
        slot->file = fileOpenRead(local.text);
        if (slot->file < 0) {
            slot->file = 0;
            return -1;
        }
    }
    if (slot->file < 0) {
        std::string documentPath;
        for (const char* name : DEFAULT_DOCUMENTS) {
            std::string candidate = std::string(local.text) + "/" + name;
            if (candidate.size() > static_cast<std::size_t>(MAX_LOCAL_PATH)) continue;
            FileInfo candidateInfo{};
            if (!fileQuery(candidate.c_str(), &candidateInfo) || !candidateInfo.isRegular) continue;
            int file = fileOpenRead(candidate.c_str());
            if (file <= 0) continue;
            slot->file = file;
            if (!fileQueryOpen(file, &info)) info = candidateInfo;
            extension = std::strchr(name, '.') + 1;
            break;
        }
        if (slot->file < 0) {
            if (!(server->flags & SERVER_DIR_LISTING)) {
                slot->file = 0;
                return -1;
            }
            slot->flags |= FLAG_BUFFER;
            if (local.endedWithSlash) {
                buildDirectoryListing(server, slot, local.text);
                return sendHeader(server, slot);
            }
            sendRedirect(server, slot, directoryLocation(slot->path).c_str());
            slot->flags |= FLAG_CLOSE;
            slot->pending = 0;
            return 0;
        }
    }
    prepareFileResponse(server, slot, info.size, info.modified, extension);
    return 0;
}
