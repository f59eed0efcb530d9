// HTTP Basic authentication by path prefix.

#include <cctype>
#include <cstring>
#include <string>

#include "server_internal.h"

namespace {

// A protected prefix also covers the spellings of a path that reach the same file
// ("%61dmin/", "./admin/", "//admin/", and other letter cases on a case-blind file system).
bool pathIsUnder(const char* path, const std::string& normalised, const char* prefix) {
    std::size_t length = std::strlen(prefix);
    if (std::strncmp(path, prefix, length) == 0) return true;
    if (normalised.size() < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(normalised[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

}  // namespace

std::string base64Encode(const char* data, std::size_t length) {
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < length; i += 3) {
        unsigned value = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < length) value |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (i + 2 < length) value |= static_cast<unsigned char>(data[i + 2]);
        encoded.push_back(ALPHABET[(value >> 18) & 63]);
        encoded.push_back(ALPHABET[(value >> 12) & 63]);
        encoded.push_back(i + 1 < length ? ALPHABET[(value >> 6) & 63] : '=');
        encoded.push_back(i + 2 < length ? ALPHABET[value & 63] : '=');
    }
    return encoded;
}

int authenticate(ServerConfig* server, ConnectionSlot* slot) {
    const char* path = slot->path ? slot->path : "";
    std::string normalised = normalisedRequestPath(path);
    int verdict = AUTH_NOT_PROTECTED;
    for (AuthEntry* entry = server->authEntries; entry->prefix; ++entry) {
        if (!pathIsUnder(path, normalised, entry->prefix)) continue;
        if (!entry->user || !entry->user[0] || !entry->password || !entry->password[0]) continue;
        if (!entry->credentialLine[0]) {
            std::string pair = std::string(entry->user) + ":" + entry->password;
            std::string line = "Basic " + base64Encode(pair.data(), pair.size()) + "\r\n";
            if (line.size() >= sizeof entry->credentialLine) continue;  // too long to hold
            std::memcpy(entry->credentialLine, line.c_str(), line.size() + 1);
        }
        if (!slot->authorization) return AUTH_NEEDED;
        if (std::strncmp(slot->authorization, entry->credentialLine, std::strlen(entry->credentialLine)) ==
            0) {
            slot->authorization = entry->group ? entry->group : "group=admin";
            return AUTH_ACCEPTED;
        }
        verdict = AUTH_WRONG;
    }
    return verdict;
}
