// The life of a connection slot: taken for an accepted connection, reset for each request, and
// released when the request or the connection ends.

#include <cstdlib>

#include "file_io.h"
#include "net.h"
#include "server_internal.h"

bool openSlot(ServerConfig* server, ConnectionSlot* slot, SocketHandle socket, std::uint32_t peer,
              std::int64_t now) {
    slot->socket = socket;
    slot->clientAddress = peer;
    serverPrintf("[%d] IP: %d.%d.%d.%d\n", static_cast<int>(socket), (peer >> 24) & 0xff, (peer >> 16) & 0xff,
                 (peer >> 8) & 0xff, peer & 0xff);
    ++server->clientCount;
    if (!resetSlot(slot)) {
        // No memory for the slot's buffer: this connection cannot be served.
        slot->flags = FLAG_CLOSE;
        closeConnection(server, slot);
        return false;
    }
    std::free(slot->body);
    slot->body = nullptr;
    slot->connectedAt = now;
    slot->expiresAt = now + server->expireTimeout;
    slot->requestsServed = 0;
    if (server->peakClients < server->clientCount) server->peakClients = server->clientCount;
    return true;
}

int connectionsFromAddress(const ServerConfig* server, const ConnectionSlot* slot) {
    int count = 0;
    for (int i = 0; i < server->maxClients; ++i) {
        const ConnectionSlot& other = server->slots[i];
        if (other.socket != 0 && other.clientAddress == slot->clientAddress) ++count;
    }
    return count;
}

bool resetSlot(ConnectionSlot* slot) {
    slot->status = 200;
    slot->responseHeaderLength = 0;
    slot->bytesSent = 0;
    slot->contentLength = 0;
    slot->contentType = CONTENT_TYPE_OCTET_STREAM;
    slot->rangeStart = 0;
    slot->path = nullptr;
    slot->referer = nullptr;
    slot->host = nullptr;
    slot->transport = nullptr;
    slot->authorization = nullptr;
    slot->headerLength = 0;
    slot->requestLength = 0;
    slot->cseq = 0;
    slot->file = 0;
    slot->handler = nullptr;
    slot->upload = nullptr;
    slot->contentTypeText = nullptr;
    slot->pending = 0;
    slot->chunkOpen = 0;
    slot->sendFromFile = 0;
    slot->crossSite = false;
    slot->flags = FLAG_RECEIVING;
    if (!slot->ioBuffer) slot->ioBuffer = static_cast<char*>(std::malloc(SLOT_BUFFER_SIZE));
    slot->outPtr = slot->ioBuffer;
    slot->outCapacity = slot->ioBuffer ? SLOT_BUFFER_SIZE : 0;
    return slot->ioBuffer != nullptr;
}

void closeConnection(ServerConfig* server, ConnectionSlot* slot) {
    if (slot->socket == 0) return;
    if (slot->file > 0) fileClose(slot->file);
    slot->file = 0;
    if (slot->upload) {
        if (server->onUploadData) server->onUploadData(slot->upload, nullptr, 0);
        releaseUpload(slot->upload);
        slot->upload = nullptr;
    }
    std::free(slot->body);
    slot->body = nullptr;
    if (slot->handler) {
        bool notify = (slot->flags & FLAG_CLOSE_NOTIFY) && (slot->flags & FLAG_CLOSE);
        if ((notify || (slot->flags & FLAG_STREAM)) && slot->handler->handler) {
            HandlerRequest request{};
            request.server = server;
            request.slot = slot;
            request.dataBytes = -1;
            slot->handler->handler(&request);
        }
        slot->handler = nullptr;
    }
    if (slot->flags & FLAG_OWN_BUFFER) {
        std::free(slot->ownedBuffer);
        slot->ownedBuffer = nullptr;
        slot->flags &= ~FLAG_OWN_BUFFER;
    }
    std::free(slot->path);
    slot->path = nullptr;
    if (slot->flags & FLAG_CLOSE) {
        netCloseConnection(slot->socket);
        slot->socket = 0;
        if (server->clientCount > 0) --server->clientCount;
        slot->requestsServed = 0;
    }
}
