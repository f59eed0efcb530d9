// The receiving side of a connection: reading the request, its path and body, and handing the
// completed request on to whoever answers it. The header's fields are read in header_fields.cpp.

#include <cstdlib>
#include <cstring>

#include "net.h"
#include "server_internal.h"

namespace {

// The header ends with the line break of its last line and an empty line.
constexpr char BLANK_LINE[] = "\r\n\r\n";
constexpr int BLANK_LINE_LENGTH = sizeof BLANK_LINE - 1;
// Bytes left between the request header and the area the answer is composed in.
constexpr int ANSWER_GAP = 4;

bool isPost(const ConnectionSlot* slot) { return (slot->flags & FLAG_POST) != 0; }

bool isMultipartUpload(const ConnectionSlot* slot) {
    return isPost(slot) && (slot->flags & FLAG_MULTIPART) && slot->upload;
}

bool isSingleFileUpload(const ConnectionSlot* slot) {
    return isPost(slot) && slot->upload && slot->upload->boundary[0] == '\0';
}

int answerWithFile(ServerConfig* server, ConnectionSlot* slot) {
    int result = -1;
    if (server->aliases) {
        for (AliasEntry* alias = server->aliases; alias->prefix; ++alias) {
            std::size_t prefixLength = std::strlen(alias->prefix);
            if (prefixLength == 0 || std::strncmp(slot->path, alias->prefix, prefixLength) != 0) continue;
            result = openContent(server, slot, alias->directory, slot->path + prefixLength);
            if (result == 0) return 0;
            break;
        }
    }
    result = openContent(server, slot, server->documentRoot, slot->path);
    if (result == 0) return 0;
    if (server->secondaryRoot[0]) {
        result = openContent(server, slot, server->secondaryRoot, slot->path);
        if (result == 0) return 0;
    }
    serverPrintf("[%d] Http file not found\n", static_cast<int>(slot->socket));
    sendNotFound(server, slot->socket);
    return result;
}

// Header and body are in: decide who answers and switch the slot to sending.
int completeRequest(ServerConfig* server, ConnectionSlot* slot) {
    if (slot->headerLength > 0) {
        slot->ioBuffer[slot->headerLength] = '\0';
        slot->outPtr = slot->ioBuffer + slot->headerLength + ANSWER_GAP;
        slot->outCapacity = SLOT_BUFFER_SIZE - ANSWER_GAP - slot->headerLength;
    } else {
        slot->outPtr = slot->ioBuffer;
        slot->outCapacity = SLOT_BUFFER_SIZE;
    }
    // A header that nearly fills the buffer leaves no room to compose an answer in.
    if (slot->outCapacity < MIN_OUTPUT_ROOM) {
        slot->flags |= FLAG_CLOSE;
        return -1;
    }
    slot->pending = 0;
    serverPrintf("[%d] request path: %s\n", static_cast<int>(slot->socket), slot->path ? slot->path : "");
    ++server->requestCount;
    if (server->authEntries) {
        int verdict = authenticate(server, slot);
        if (verdict != AUTH_NOT_PROTECTED && verdict != AUTH_ACCEPTED) {
            serverPrintf("[%d] Authorization Required\n", static_cast<int>(slot->socket));
            const char* message =
                verdict == AUTH_NEEDED ? "Authentication required" : "Authentication failed";
            sendAuthorizationRequired(server, slot->socket, message);
            slot->flags |= FLAG_CLOSE;
            return 1;  // answered: the loop ends the connection
        }
    }
    ++slot->requestsServed;
    if (!server->urlHandlers || dispatchHandlers(server, slot) == 0) slot->flags |= FLAG_FILE;
    slot->flags = (slot->flags & ~(FLAG_RECEIVING | FLAG_SENDING)) | FLAG_SENDING;
    if (slot->protocolMinor == 0) slot->flags &= ~FLAG_CHUNKED;
    if (slot->flags & (FLAG_BUFFER | FLAG_STREAM)) return sendHeader(server, slot);
    if (slot->flags & FLAG_FILE) return answerWithFile(server, slot);
    if (slot->flags & FLAG_REDIRECT) {
        sendRedirect(server, slot, slot->outPtr);
        slot->flags |= FLAG_CLOSE;
        return 1;
    }
    serverPrintf("Invalid data flag specified\n");
    return -1;
}

int afterMultipart(ServerConfig* server, ConnectionSlot* slot, int result) {
    if (result == UPLOAD_FAILED) {
        slot->flags |= FLAG_CLOSE;
        return -1;
    }
    if (result == UPLOAD_WAITING) return 0;
    if (result == UPLOAD_ANSWERED) return 1;
    return completeRequest(server, slot);
}

void handOverSingleFile(ServerConfig* server, ConnectionSlot* slot, const char* data, int length) {
    if (!server->onUploadData) return;
    server->onUploadData(slot->upload, data, length);
    if (slot->upload->state == UPLOAD_FIRST_DATA) slot->upload->state = UPLOAD_MORE_DATA;
}

// Results of startBody besides a failure (-1).
constexpr int BODY_READY = 0;
constexpr int MULTIPART_STARTS = 1;  // the form data now starts the buffer

// The header has just been completed: path, body set-up and uploads.
int startBody(ServerConfig* server, ConnectionSlot* slot, int pathStart) {
    char* text = slot->ioBuffer;
    int length = 0;
    for (;; ++length) {
        if (length >= MAX_PATH_CHARS) return -1;
        int at = pathStart + length;
        if (at >= slot->pending) break;
        char c = text[at];
        if (c == '\r' || c == '\0') break;
        if (c == ' ' &&
            (std::strncmp(text + at + 1, "HTTP/", 5) == 0 || std::strncmp(text + at + 1, "RTSP/", 5) == 0))
            break;
    }
    slot->path = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (!slot->path) return -1;
    if (length > 0) std::memcpy(slot->path, text + pathStart, static_cast<std::size_t>(length));
    slot->path[length] = '\0';

    if (!isPost(slot)) return BODY_READY;
    int extra = slot->pending - slot->headerLength;
    UploadState* upload = slot->upload;
    if (upload) {
        upload->path = slot->path;
        // Nobody would take the data: a server without an upload writer takes no uploads.
        if (!server->onUploadData) {
            slot->flags |= FLAG_CLOSE;
            return -1;
        }
        if (upload->boundary[0]) {
            // The form data replaces the header in the buffer; keep the one header value that is
            // still needed afterwards.
            if (slot->authorization) {
                std::size_t valueBytes = headerValueLength(slot->authorization);
                if (valueBytes + 3 <= sizeof upload->authorizationCopy) {
                    std::memcpy(upload->authorizationCopy, slot->authorization, valueBytes);
                    std::memcpy(upload->authorizationCopy + valueBytes, "\r\n", 3);
                    slot->authorization = upload->authorizationCopy;
                } else {
                    slot->authorization = nullptr;
                }
            }
            slot->referer = slot->host = slot->transport = nullptr;
            std::memmove(text, text + slot->headerLength, static_cast<std::size_t>(extra));
            slot->outPtr = text;
            slot->headerLength = 0;
            slot->pending = 0;
            upload->held = extra;
            return MULTIPART_STARTS;
        }
        upload->state = UPLOAD_FIRST_DATA;
        if (extra > 0) handOverSingleFile(server, slot, text + slot->headerLength, extra);
        slot->outPtr = text;
        slot->outCapacity = SLOT_BUFFER_SIZE;
        slot->pending = 0;
        return BODY_READY;
    }
    if (!slot->body) {
        if (slot->requestLength < 0) slot->requestLength = 0;
        if (slot->requestLength > MAX_POST_BODY) slot->requestLength = MAX_POST_BODY;
        slot->body = static_cast<char*>(std::malloc(static_cast<std::size_t>(slot->requestLength) + 1));
        if (!slot->body) return -1;
        int moved = extra < slot->requestLength ? extra : slot->requestLength;
        if (moved > 0) std::memcpy(slot->body, text + slot->headerLength, static_cast<std::size_t>(moved));
        slot->body[moved] = '\0';
        slot->outPtr = slot->body;
        slot->outCapacity = slot->requestLength + 1;
        slot->pending = moved;
    }
    return BODY_READY;
}

}  // namespace

int receiveStep(ServerConfig* server, ConnectionSlot* slot) {
    if (isMultipartUpload(slot) && slot->headerLength == 0 && slot->path)
        return afterMultipart(server, slot, multipartReceive(server, slot, false));

    int room = slot->outCapacity - slot->pending - 1;
    int received = room > 0 ? netReceive(slot->socket, slot->outPtr + slot->pending, room) : 0;
    if (received == NET_WOULD_BLOCK) return 0;
    if (received <= 0) {
        serverPrintf("[%d] socket closed by client\n", static_cast<int>(slot->socket));
        slot->flags |= FLAG_CLOSE;
        if (isSingleFileUpload(slot) && slot->headerLength > 0 && server->onUploadData) {
            slot->upload->state = UPLOAD_LAST_DATA;
            server->onUploadData(slot->upload, slot->outPtr, slot->pending);
            return 1;  // the upload is complete; the connection ends with it
        }
        return -1;
    }
    slot->pending += received;
    slot->outPtr[slot->pending] = '\0';

    if (slot->headerLength == 0) {
        long blank =
            findBytes(slot->ioBuffer, static_cast<std::size_t>(slot->pending), BLANK_LINE, BLANK_LINE_LENGTH);
        if (blank < 0) return 0;
        // The path begins after the method, its blank and the leading "/".
        // The method is a whole word: "GETX" or "POSTAL" is no GET or POST.
        int pathStart;
        if (std::strncmp(slot->ioBuffer, "GET ", 4) == 0) {
            slot->flags |= FLAG_GET;
            pathStart = sizeof "GET /" - 1;
        } else if (std::strncmp(slot->ioBuffer, "POST ", 5) == 0) {
            slot->flags |= FLAG_POST;
            pathStart = sizeof "POST /" - 1;
        } else {
            serverPrintf("[%d] Unsupported method\n", static_cast<int>(slot->socket));
            return -1;
        }
        // The path's leading "/" is skipped unread; any other character there would be lost.
        if (slot->ioBuffer[pathStart - 1] != '/') {
            serverPrintf("Error parsing request\n");
            return -1;
        }
        slot->headerLength = static_cast<std::int32_t>(blank) + BLANK_LINE_LENGTH;
        if (parseHeader(server, slot) != 0) {
            serverPrintf("Error parsing request\n");
            slot->flags |= FLAG_CLOSE;
            return -1;
        }
        // A request without "Host: " (HTTP/1.0 clients) is served: no browser page sends one.
        if (slot->host && !hostIsLoopback(slot->host)) {
            serverPrintf("[%d] Host not allowed\n", static_cast<int>(slot->socket));
            sendForbidden(server, slot->socket);
            return -1;
        }
        if (server->maxClientsPerIp && connectionsFromAddress(server, slot) > server->maxClientsPerIp) {
            serverPrintf("[%d] Too many connections from this IP\n", static_cast<int>(slot->socket));
            sendForbidden(server, slot->socket);
            return -1;
        }
        int started = startBody(server, slot, pathStart);
        if (started < 0) return -1;
        if (started == MULTIPART_STARTS)
            return afterMultipart(server, slot, multipartReceive(server, slot, true));
    }

    if (isSingleFileUpload(slot)) {
        if (slot->pending >= slot->outCapacity - 1) {
            handOverSingleFile(server, slot, slot->outPtr, slot->pending);
            slot->pending = 0;
        }
        return 0;
    }
    if (slot->requestLength != 0 && slot->pending < slot->requestLength) return 0;
    return completeRequest(server, slot);
}
