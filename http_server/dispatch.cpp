// URL handlers: matching a request path to the host's handler table, the handler's result, and
// the query variables handed to handlers.

#include <cstdlib>
#include <cstring>

#include "server_internal.h"

std::atomic<UrlHook> urlHook{nullptr};

namespace {

void applyResult(ServerConfig* server, ConnectionSlot* slot, HandlerRequest* request, int result) {
    ConnFlags bits = static_cast<ConnFlags>(result);
    slot->flags |= bits;
    ContentTypeIndex type = request->contentType;
    slot->contentType = (type >= 0 && type < CONTENT_TYPE_COUNT) ? type : CONTENT_TYPE_OCTET_STREAM;
    ++server->handlerHits;
    int dataBytes = request->outBuffer && request->dataBytes > 0 ? request->dataBytes : 0;
    if (bits & FLAG_BUFFER) {
        slot->outPtr = request->outBuffer;
        slot->pending = dataBytes;
        slot->contentLength = request->contentLength > 0 ? request->contentLength : dataBytes;
        if (bits & FLAG_OWN_BUFFER) slot->ownedBuffer = request->outBuffer;
    } else if (bits & FLAG_STREAM) {
        slot->outPtr = request->outBuffer;
        slot->pending = dataBytes;
        slot->contentLength = 0;
    } else if (bits & FLAG_FILE) {
        // The handler chose another file to serve.
        if (request->outBuffer && request->outBuffer[0]) {
            std::size_t length = strnlen(request->outBuffer, MAX_PATH_CHARS - 1);
            char* path = static_cast<char*>(std::malloc(length + 1));
            if (path) {
                std::memcpy(path, request->outBuffer, length);
                path[length] = '\0';
                std::free(slot->path);
                slot->path = path;
            }
        }
    } else if (bits & FLAG_REDIRECT) {
        slot->outPtr = request->outBuffer;
    } else if (bits & FLAG_HANDLER_FILE) {
        slot->flags |= FLAG_FILE;
    } else if (bits & FLAG_TEXT_REPLY) {
        slot->flags = (slot->flags & ~FLAG_CHUNKED) | FLAG_STREAM;
        slot->contentLength = 0;
        slot->outPtr = request->outBuffer;
        slot->pending = dataBytes;
        if (slot->contentType == CONTENT_TYPE_OCTET_STREAM) slot->contentType = CONTENT_TYPE_HTML;
    }
}

}  // namespace

int dispatchHandlers(ServerConfig* server, ConnectionSlot* slot) {
    char* path = slot->path;
    static const char RTSP_SCHEME[] = "rtsp://";
    if (char* scheme = std::strstr(path, RTSP_SCHEME)) {
        if (char* slash = std::strchr(scheme + sizeof RTSP_SCHEME - 1, '/')) path = slash + 1;
    } else {
        while (*path == '/') ++path;
    }
    int result = 0;
    for (UrlHandler* entry = server->urlHandlers; entry->prefix; ++entry) {
        if (!entry->handler) continue;
        std::size_t prefixLength = std::strlen(entry->prefix);
        if (std::strncmp(path, entry->prefix, prefixLength) != 0) continue;
        HandlerRequest request{};
        request.server = server;
        request.slot = slot;
        request.path = path + prefixLength;
        request.variableCount = -1;
        request.requestText = slot->ioBuffer;
        request.outBuffer = slot->outPtr;
        request.outBuffer[0] = '\0';
        request.body = slot->body;
        request.dataBytes = slot->outCapacity;
        request.userParam = entry->userParam;
        slot->handler = entry;
        if (!(slot->flags & FLAG_POST)) parseVariables(&request);
        result = entry->handler(&request);
        if (result != 0) applyResult(server, slot, &request, result);
        std::free(request.variables);
        if (result != 0) break;
        slot->handler = nullptr;
    }
    return result;
}

int parseVariables(HandlerRequest* request) {
    if (request->variableCount != -1) return request->variableCount;
    char* source = nullptr;
    char* query = request->path ? std::strchr(request->path, '?') : nullptr;
    if (query) {
        *query = '\0';
        source = query + 1;
    } else if (request->slot && (request->slot->flags & FLAG_POST) && request->body && request->body[0] &&
               request->body[0] != '<') {
        source = request->body;
    } else {
        return -1;
    }
    if (!*source) return -1;
    int count = 1;
    for (const char* c = source; *c; ++c) {
        unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte > 0x7f) return 0;
        if (byte == '&') ++count;
    }
    auto* variables =
        static_cast<FormVariable*>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(FormVariable)));
    if (!variables) return -1;
    char* segment = source;
    for (int index = 0; index < count; ++index) {
        char* end = std::strchr(segment, '&');
        if (end) *end = '\0';
        char* next = end ? end + 1 : segment + std::strlen(segment);
        variables[index].name = segment;
        if (char* equals = std::strchr(segment, '=')) {
            *equals = '\0';
            variables[index].value = equals + 1;
            urlDecodeInPlace(equals + 1);
        } else {
            variables[index].value = segment + std::strlen(segment);
        }
        segment = next;
    }
    request->variables = variables;
    request->variableCount = count;
    return count;
}

int hookHandler(HandlerRequest* request) {
    if (!request->slot || request->slot->bytesSent != 0) return 0;
    // Refill and close calls carry no path: the hook answers each request once, even when its
    // answer is empty.
    if (!request->path || !request->outBuffer || request->dataBytes < 3) return 0;
    // A form or script of another site must not command the host, even when it knows the
    // host's secrets; its request is refused before the hook sees it.
    if (request->slot->crossSite) {
        serverPrintf("[%d] Command from another site refused\n", static_cast<int>(request->slot->socket));
        int length = composeForbidden(request->server, request->outBuffer, request->dataBytes);
        if (length <= 0) return 0;
        request->dataBytes = length;
        request->slot->flags |= FLAG_CLOSE;
        return static_cast<int>(FLAG_BUFFER | FLAG_RAW);
    }
    UrlHook hook = urlHook.load();
    if (!hook) return 0;
    std::memcpy(request->outBuffer, "OK", 3);
    if (hook(request) != 0) return 0;
    request->dataBytes = request->outBuffer ? static_cast<std::int32_t>(std::strlen(request->outBuffer)) : 0;
    return static_cast<int>(FLAG_TEXT_REPLY);
}
