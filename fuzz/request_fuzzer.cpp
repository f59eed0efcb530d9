// A whole request fed to one connection slot, split into reads of fuzzed sizes, answered by a
// server set up the way the launcher sets it up (two document roots, "stats" and "cmd", uploads),
// with the server's optional features switched on by the input's first byte. The answer is read
// back in full and checked: no canary byte from outside the roots, a proper status line, every
// descriptor and every client count given back.
//
// Input: byte 0 = feature bits, byte 1 = seed of the read sizes, the rest = the request bytes.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_sandbox.h"
#include "server_internal.h"

namespace {

constexpr int SLOTS = 4;
// A request ends long before this many steps; more means a slot that makes no progress.
constexpr int MAX_STEPS = 200000;
constexpr std::size_t MAX_KEPT_OUTPUT = 8u << 20;

Sandbox sandbox;
std::vector<std::string> initialEntries;
ServerConfig server{};
int placeholderSocket = -1;  // a second "connection" from the same address
bool uploadDataSeen = false;
int formVerdict = 0;

UrlHandler handlers[] = {
    {"stats", statsHandler, nullptr, 0},
    {"cmd", hookHandler, nullptr, 0},
    {nullptr, nullptr, nullptr, 0},
};
AuthEntry authEntries[] = {
    {"admin", "user", "secret", nullptr, {}},
    {"cmd/private", "a-very-long-user-name-for-the-line", "and-an-even-longer-password", "group=x", {}},
    {nullptr, nullptr, nullptr, nullptr, {}},
};
AliasEntry aliases[3];

char launchId[] = "LUMIDRA_0123456789abcdef";

// Answers like the launcher's hook, without starting the exit thread.
int launcherLikeHook(HandlerRequest* request) {
    if (std::strcmp(request->path, "/exit?uniqueId=LUMIDRA_0123456789abcdef") == 0) return 0;
    if (std::strcmp(request->path, "/uniqueId") == 0) {
        request->outBuffer = launchId;
        return 0;
    }
    if (std::strcmp(request->path, "/empty") == 0) {
        request->outBuffer[0] = '\0';
        return 0;
    }
    return 1;
}

// Writes a few bytes for some tags and leaves the others as they are.
int substitute(SubstituteTag* tag) {
    std::size_t nameLength = std::strlen(tag->name);
    if (nameLength % 3 == 2) return -1;
    int wanted = static_cast<int>(nameLength % 9);
    int written = std::min(wanted, tag->room);
    std::memset(tag->position, 'S', static_cast<std::size_t>(written));
    return nameLength % 5 == 4 ? wanted + 100 : written;  // some claim more than they may
}

int checkedUpload(UploadState* upload, const char* data, std::int32_t length) {
    if (data) {
        const ConnectionSlot& slot = server.slots[0];
        if (length < 0 || upload->state > 2) __builtin_trap();
        if (data < slot.ioBuffer || data + length > slot.ioBuffer + SLOT_BUFFER_SIZE) __builtin_trap();
        uploadDataSeen = true;
    }
    return uploadWriter(upload, data, length);
}

int formComplete(const FormFieldList* form) {
    if (!form || form->count <= 0 || form->count > 50) __builtin_trap();
    for (int i = 0; i < form->count; ++i)
        if (!form->fields[i].name || !form->fields[i].value) __builtin_trap();
    return formVerdict;
}

void configure(std::uint8_t features) {
    server.flags = SERVER_NO_ACCEPT_RANGES | SERVER_SECURITY_HEADERS;
    if (features & 0x01) server.flags = SERVER_DIR_LISTING | SERVER_SECURITY_HEADERS;
    server.authEntries = (features & 0x02) ? authEntries : nullptr;
    server.aliases = (features & 0x04) ? aliases : nullptr;
    server.onSubstitute = (features & 0x08) ? substitute : nullptr;
    server.maxClientsPerIp = (features & 0x10) ? 1 : 0;
    formVerdict = (features >> 5) % 5;
}

std::size_t largestRead(std::uint8_t features) {
    static const std::size_t sizes[] = {1, 3, 17, 200, 4096, 65536, 1 << 20, 1 << 20};
    return sizes[features >> 5];
}

// Reads what the server has sent so far.
void drain(int client, std::string& output) {
    char buffer[65536];
    for (;;) {
        ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) return;
        if (output.size() < MAX_KEPT_OUTPUT) output.append(buffer, static_cast<std::size_t>(got));
    }
}

// One sending step, as the event loop takes it for a writable slot.
int sendStep(ConnectionSlot* slot) {
    if (slot->flags & (FLAG_BUFFER | FLAG_STREAM)) return bufferStep(&server, slot);
    if (slot->pending <= 0) return 1;
    if (slot->flags & FLAG_FILE) return fileStep(&server, slot);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sandbox = makeSandbox("lumidra-fuzz-request");
    initialEntries = sandboxEntries(sandbox);
    if (chdir(sandbox.disc.c_str()) != 0) std::abort();
    // uploadWriter reports on standard output; the fuzzer's own lines go to standard error.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    serverLog = std::fopen("/dev/null", "w");
    placeholderSocket = open("/dev/null", O_RDONLY | O_CLOEXEC);

    aliases[0].prefix = "alias/";
    std::snprintf(aliases[0].directory, sizeof aliases[0].directory, "%s", sandbox.documentRoot.c_str());
    aliases[1].prefix = "";
    aliases[2].prefix = nullptr;

    server.maxClients = SLOTS;
    server.slots = static_cast<ConnectionSlot*>(std::calloc(SLOTS, sizeof(ConnectionSlot)));
    std::snprintf(server.documentRoot, sizeof server.documentRoot, "%s", sandbox.documentRoot.c_str());
    std::snprintf(server.secondaryRoot, sizeof server.secondaryRoot, "%s", sandbox.secondaryRoot.c_str());
    server.urlHandlers = handlers;
    server.onUploadData = checkedUpload;
    server.onFormComplete = formComplete;
    server.expireTimeout = 15;
    server.startTime = nowSeconds();
    uploadDirectory = sandbox.uploads;
    urlHook.store(launcherLikeHook);
    std::atexit([] { removeSandbox(sandbox); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t features = data[0];
    std::uint32_t random = 0x9e3779b9u ^ (static_cast<std::uint32_t>(data[1]) * 0x01000193u);
    data += 2;
    size -= 2;
    configure(features);
    const int freeBefore = lowestFreeDescriptor();

    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) std::abort();
    const int client = ends[0];
    ConnectionSlot* slot = &server.slots[0];
    slot->socket = ends[1];
    slot->clientAddress = 0x7f000001;
    ++server.clientCount;
    if (!resetSlot(slot)) std::abort();
    std::free(slot->body);
    slot->body = nullptr;
    slot->connectedAt = nowSeconds();
    slot->expiresAt = slot->connectedAt + server.expireTimeout;
    slot->requestsServed = 0;
    if (server.maxClientsPerIp) {
        server.slots[1].socket = placeholderSocket;
        server.slots[1].clientAddress = slot->clientAddress;
    }

    const std::size_t largest = largestRead(features);
    std::size_t fed = 0;
    bool shut = false;
    std::string output;
    for (int step = 0; slot->socket != 0; ++step) {
        if (step > MAX_STEPS) __builtin_trap();
        if (fed < size) {
            random = random * 1664525u + 1013904223u;
            std::size_t piece = std::min<std::size_t>(size - fed, 1 + (random >> 8) % largest);
            ssize_t sent = send(client, data + fed, piece, MSG_NOSIGNAL);
            if (sent > 0) fed += static_cast<std::size_t>(sent);
        } else if (!shut) {
            shutdown(client, SHUT_WR);
            shut = true;
        }
        // Exactly one of the two state bits is set on a used slot.
        const bool receiving = (slot->flags & FLAG_RECEIVING) != 0;
        const bool sending = (slot->flags & FLAG_SENDING) != 0;
        if (receiving == sending) __builtin_trap();
        int result = receiving ? receiveStep(&server, slot) : sendStep(slot);
        if (result != 0 && slot->socket != 0) {
            slot->flags |= FLAG_CLOSE;
            closeConnection(&server, slot);
        }
        drain(client, output);
    }
    drain(client, output);
    close(client);
    server.slots[1].socket = 0;

    if (!output.empty() && output.compare(0, 9, "HTTP/1.1 ") != 0) __builtin_trap();
    // Pages that echo the request (listings, redirects, statistics) may repeat a token it holds.
    if (output.find(sandbox.canaryToken) != std::string::npos &&
        std::string(reinterpret_cast<const char*>(data), size).find(sandbox.canaryToken) == std::string::npos)
        __builtin_trap();
    if (server.clientCount != 0) __builtin_trap();
    if (lowestFreeDescriptor() != freeBefore) __builtin_trap();
    if (uploadDataSeen) {
        uploadDataSeen = false;
        if (sandboxEntries(sandbox) != initialEntries) __builtin_trap();
        emptyUploads(sandbox);
    }
    return 0;
}
