// The names this server answers to. A web page of any site whose name resolves to 127.0.0.1
// reaches the server under that site's name (DNS rebinding); only the loopback names a browser
// sends for this machine itself are served. The same names, with this server's port, make up the
// origins whose pages may command the host.

#include <cctype>
#include <cstring>
#include <string>

#include "server_internal.h"

namespace {

const char* const LOOPBACK_NAMES[] = {"localhost", "127.0.0.1", "[::1]"};

bool equalNoCase(const char* text, const char* name, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

bool allDigits(const char* begin, const char* end) {
    if (begin == end) return false;
    for (const char* c = begin; c < end; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

}  // namespace

bool hostIsLoopback(const char* value) {
    const char* begin = value;
    while (*begin == ' ' || *begin == '\t') ++begin;
    const char* end = begin;
    while (*end && *end != '\r' && *end != '\n') ++end;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
    std::size_t length = static_cast<std::size_t>(end - begin);
    for (const char* name : LOOPBACK_NAMES) {
        std::size_t nameLength = std::strlen(name);
        if (length < nameLength || !equalNoCase(begin, name, nameLength)) continue;
        const char* rest = begin + nameLength;
        if (rest == end) return true;
        if (*rest == ':' && allDigits(rest + 1, end)) return true;
    }
    return false;
}

bool originIsOwn(const char* value, std::uint16_t port) {
    const char* begin = value;
    while (*begin == ' ' || *begin == '\t') ++begin;
    const char* end = begin;
    while (*end && *end != '\r' && *end != '\n') ++end;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
    static const char SCHEME[] = "http://";
    constexpr std::size_t SCHEME_LENGTH = sizeof SCHEME - 1;
    if (static_cast<std::size_t>(end - begin) < SCHEME_LENGTH || !equalNoCase(begin, SCHEME, SCHEME_LENGTH))
        return false;
    const char* host = begin + SCHEME_LENGTH;
    std::string portText = ":" + std::to_string(port);
    for (const char* name : LOOPBACK_NAMES) {
        std::size_t nameLength = std::strlen(name);
        if (static_cast<std::size_t>(end - host) < nameLength || !equalNoCase(host, name, nameLength))
            continue;
        std::string rest(host + nameLength, end);
        // A browser leaves out the scheme's default port.
        if (rest == portText || (rest.empty() && port == 80)) return true;
    }
    return false;
}

bool fetchSiteIsForeign(const char* value) {
    while (*value == ' ' || *value == '\t') ++value;
    // "same-site" is another port or another name of this machine: another program's page.
    return startsWithNoCase(value, "cross-site") || startsWithNoCase(value, "same-site");
}
