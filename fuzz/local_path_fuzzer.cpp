// composeLocalPath: whatever the request path, the local path stays under its root (or, for a
// "~" path, under the current directory), holds no parent step in any spelling Windows or POSIX
// would follow, and fits its bounds.
//
// Input: byte 0 picks the root, the rest is the request path (cut at its first NUL, as the
// server's path copy would be).

#include <cstdint>
#include <cstring>
#include <string>

#include "server_internal.h"

namespace {

const char* const DOCUMENT_ROOTS[] = {
    "/tmp/LUMIDRA_1f/DATA",
    "/tmp/LUMIDRA_1f/DATA/",
    "C:\\Users\\me\\AppData\\Local\\Temp\\LUMIDRA_1f\\DATA",
    "D:\\DATA",
    "/",
    // Long enough that the request path only just fits behind it.
    "/tmp/a-root-of-two-hundred-and-fifty-characters/xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
    "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
};

// A component that a file system could take as the parent folder. Windows drops trailing dots
// and blanks from a component, so ".. " and "..." would count there; POSIX only takes "..".
bool climbs(const std::string& component) {
    std::size_t end = component.find_last_not_of(". ");
    std::string trimmed = end == std::string::npos ? std::string() : component.substr(0, end + 1);
    if (component == "..") return true;
    // Nothing but dots and blanks, with two dots in a row somewhere: a parent step once trimmed.
    return trimmed.empty() && component.find("..") != std::string::npos;
}

void checkComponents(const char* text) {
    std::string component;
    for (const char* c = text;; ++c) {
        if (*c == '/' || *c == '\\' || *c == '\0') {
            if (climbs(component)) __builtin_trap();
            component.clear();
            if (*c == '\0') return;
        } else {
            component.push_back(*c);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const char* root = DOCUMENT_ROOTS[data[0] % (sizeof DOCUMENT_ROOTS / sizeof DOCUMENT_ROOTS[0])];
    std::string request(reinterpret_cast<const char*>(data + 1), size - 1);
    request = request.c_str();  // the server's copy of a path ends at its first NUL

    LocalPath local;
    std::memset(&local, 0x5a, sizeof local);
    bool composed = composeLocalPath(root, request.c_str(), &local);
    (void)normalisedRequestPath(request.c_str());
    if (!composed) return 0;

    if (local.length < 0 || local.length > MAX_LOCAL_PATH) __builtin_trap();
    if (std::strlen(local.text) != static_cast<std::size_t>(local.length)) __builtin_trap();
    if (local.extension < -1 || local.extension > local.length) __builtin_trap();

    const char* rest = local.text;
    if (request[0] == '~') {
        // Relative to the current directory: never absolute, never a drive or a share.
        if (local.text[0] == '/' || local.text[0] == '\\') __builtin_trap();
        if (std::strchr(local.text, ':')) __builtin_trap();
    } else {
        std::size_t rootLength = std::strlen(root);
        // Only the root's own closing "/" may go, with the slash that ends every folder request.
        if (static_cast<std::size_t>(local.length) == rootLength - 1 && root[rootLength - 1] == '/')
            rootLength -= 1;
        if (std::strncmp(local.text, root, rootLength) != 0) __builtin_trap();
        rest = local.text + rootLength;
        // The request's part is joined with "/" and spelt with "/" only.
        if (*rest && root[rootLength - 1] != '/' && root[rootLength - 1] != '\\' && *rest != '/')
            __builtin_trap();
        if (std::strchr(rest, '\\')) __builtin_trap();
    }
    checkComponents(rest);
    return 0;
}
