// Form uploads: the multipart receiver, the completed form, and the writer that stores
// uploaded files in the upload directory.

#include <cstdlib>
#include <cstring>
#include <string>

#include "file_io.h"
#include "net.h"
#include "server_internal.h"

std::string uploadDirectory;

namespace {

constexpr int HAND_OVER_BYTES = 65536;
constexpr std::size_t MAX_BOUNDARY_CHARS = 77;
constexpr int MAX_FIELDS = 50;
// How long an authenticated address may upload after its last accepted part.
constexpr std::int64_t UPLOAD_AUTH_SECONDS = 300;
constexpr char FILE_NAME_MARKER[] = "filename=";

void consume(UploadState* upload, char* buffer, int count) {
    std::memmove(buffer, buffer + count, static_cast<std::size_t>(upload->held - count));
    upload->held -= count;
}

char* copyText(const char* text, std::size_t length) {
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void storeField(UploadState* upload, const std::string& name, const char* value, std::size_t valueLength) {
    if (upload->fieldCount >= MAX_FIELDS) return;
    FormVariable& field = upload->fields[upload->fieldCount];
    field.name = copyText(name.data(), name.size());
    field.value = copyText(value, valueLength);
    if (!field.name || !field.value) {
        std::free(field.name);
        std::free(field.value);
        field = FormVariable{};
        return;
    }
    ++upload->fieldCount;
}

// The value after a marker such as name= in a part header: quoted, or up to ";" or the line end.
std::string headerValue(const char* header, std::size_t headerLength, std::size_t at) {
    std::string value;
    if (at < headerLength && header[at] == '"') {
        for (++at; at < headerLength && header[at] != '"' && header[at] != '\r'; ++at)
            value.push_back(header[at]);
    } else {
        for (; at < headerLength && header[at] != ';' && header[at] != '\r'; ++at)
            value.push_back(header[at]);
    }
    return value;
}

// Delivers file data unless the part is being discarded; returns the writer's verdict.
int deliver(ServerConfig* server, UploadState* upload, const char* data, int length) {
    if (upload->dropPart || !server->onUploadData) return 0;
    return server->onUploadData(upload, data, length);
}

int finishForm(ServerConfig* server, ConnectionSlot* slot) {
    return formComplete(server, slot) ? UPLOAD_ANSWERED : UPLOAD_COMPLETE;
}

// Works through what the buffer holds; one of the UPLOAD results.
int processParts(ServerConfig* server, ConnectionSlot* slot) {
    UploadState* upload = slot->upload;
    char* buffer = slot->ioBuffer;
    const std::string boundary = upload->boundary;
    const std::string delimiter = "\r\n" + boundary;
    bool full = false;
    for (;;) {
        full = upload->held >= SLOT_BUFFER_SIZE;
        std::size_t held = static_cast<std::size_t>(upload->held);
        if (upload->partOpen) {
            long end = findBytes(buffer, held, delimiter.data(), delimiter.size());
            if (end < 0) break;
            upload->state = UPLOAD_LAST_DATA;
            deliver(server, upload, buffer, static_cast<int>(end));
            upload->partOpen = false;
            upload->dropPart = false;
            consume(upload, buffer, static_cast<int>(end) + 2);
            continue;
        }
        if (held < boundary.size() || std::memcmp(buffer, boundary.data(), boundary.size()) != 0) {
            // Text before the first boundary, or a part whose end has not arrived yet.
            long next = findBytes(buffer, held, delimiter.data(), delimiter.size());
            if (next < 0) {
                if (held >= boundary.size() + 2 && !full) {
                    // Keep only what could still be the start of a boundary.
                    long start = findBytes(buffer, held, boundary.data(), boundary.size());
                    if (start > 0) consume(upload, buffer, static_cast<int>(start));
                }
                break;
            }
            consume(upload, buffer, static_cast<int>(next) + 2);
            continue;
        }
        if (held < boundary.size() + 2) break;
        if (buffer[boundary.size()] == '-' && buffer[boundary.size() + 1] == '-')
            return finishForm(server, slot);
        long headerEnd = findBytes(buffer, held, "\r\n\r\n", 4);
        if (headerEnd < 0) break;
        std::size_t header = static_cast<std::size_t>(headerEnd);
        std::size_t bodyStart = header + 4;
        static const char MARKER[] = "Content-Disposition: form-data; name=";
        long marker = findNoCase(buffer, header, MARKER);
        if (marker < 0) {
            // Not a form field: passed over whole.
            long next = findBytes(buffer + bodyStart, held - bodyStart, delimiter.data(), delimiter.size());
            if (next < 0) break;
            consume(upload, buffer, static_cast<int>(bodyStart + static_cast<std::size_t>(next)) + 2);
            continue;
        }
        std::string name = headerValue(buffer, header, static_cast<std::size_t>(marker) + sizeof MARKER - 1);
        long fileMarker = findNoCase(buffer, header, FILE_NAME_MARKER);
        bool drop = false;
        if (slot->flags & FLAG_UPLOAD_AUTH) {
            if (slot->clientAddress != server->authAddress) {
                drop = true;
                ++server->rejectedUploads;
            } else {
                server->authExpiry = nowSeconds() + UPLOAD_AUTH_SECONDS;
            }
        }
        if (fileMarker >= 0) {
            std::size_t fileNameAt = static_cast<std::size_t>(fileMarker) + sizeof FILE_NAME_MARKER - 1;
            std::string fileName = headerValue(buffer, header, fileNameAt);
            copyBounded(upload->fileName, sizeof upload->fileName, fileName.data(), fileName.size());
            upload->state = UPLOAD_FIRST_DATA;
            upload->partOpen = true;
            upload->dropPart = drop;
            if (!drop) storeField(upload, name, fileName.data(), fileName.size());
            consume(upload, buffer, static_cast<int>(bodyStart));
            continue;
        }
        long valueEnd = findBytes(buffer + bodyStart, held - bodyStart, delimiter.data(), delimiter.size());
        if (valueEnd < 0) break;
        if (!drop) storeField(upload, name, buffer + bodyStart, static_cast<std::size_t>(valueEnd));
        consume(upload, buffer, static_cast<int>(bodyStart + static_cast<std::size_t>(valueEnd)) + 2);
    }
    if (!full) return UPLOAD_WAITING;
    if (!upload->partOpen) return UPLOAD_FAILED;
    if (deliver(server, upload, buffer, HAND_OVER_BYTES) != 0) return UPLOAD_COMPLETE;
    upload->state = UPLOAD_MORE_DATA;
    consume(upload, buffer, HAND_OVER_BYTES);
    return UPLOAD_WAITING;
}

// The client's file name without any directory part; empty when nothing usable is left.
std::string safeFileName(const char* clientName) {
    std::string name(clientName);
    std::size_t cut = name.find_last_of("/\\:");
    if (cut != std::string::npos) name.erase(0, cut + 1);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    while (!name.empty() && (name.back() == '"' || name.back() == '\r')) name.pop_back();
    if (name == "." || name == "..") name.clear();
    return name;
}

}  // namespace

UploadState* createUpload(ServerConfig* server, const char* boundary, std::size_t boundaryLength,
                          const char* fileName, std::size_t fileNameLength) {
    if (boundary && (boundaryLength == 0 || boundaryLength > MAX_BOUNDARY_CHARS)) return nullptr;
    auto* upload = static_cast<UploadState*>(std::calloc(1, sizeof(UploadState)));
    if (!upload) return nullptr;
    upload->server = server;
    if (boundary) {
        std::memcpy(upload->boundary, "--", 2);
        copyBounded(upload->boundary + 2, sizeof upload->boundary - 2, boundary, boundaryLength);
    }
    if (fileName) copyBounded(upload->fileName, 256, fileName, fileNameLength);
    return upload;
}

void releaseUpload(UploadState* upload) {
    for (int i = 0; i < upload->fieldCount; ++i) {
        std::free(upload->fields[i].name);
        std::free(upload->fields[i].value);
    }
    std::free(upload);
}

int multipartReceive(ServerConfig* server, ConnectionSlot* slot, bool dataPresent) {
    UploadState* upload = slot->upload;
    if (!dataPresent) {
        int room = SLOT_BUFFER_SIZE - upload->held;
        if (room <= 0) return UPLOAD_FAILED;
        int received = netReceive(slot->socket, slot->ioBuffer + upload->held, room);
        if (received == NET_WOULD_BLOCK) return UPLOAD_WAITING;
        if (received < 0) return UPLOAD_FAILED;
        if (received == 0) return UPLOAD_COMPLETE;
        slot->expiresAt = nowSeconds() + server->expireTimeout;
        upload->held += received;
    }
    return processParts(server, slot);
}

bool formComplete(ServerConfig* server, ConnectionSlot* slot) {
    UploadState* upload = slot->upload;
    if (upload->fieldCount > 0 && server->onFormComplete) {
        FormFieldList list{upload->fields, upload->fieldCount, upload->path};
        switch (server->onFormComplete(&list)) {
            case FORM_AUTHENTICATED:
                server->authAddress = slot->clientAddress;
                serverPrintf("[%d] Http authenticated\n", static_cast<int>(slot->socket));
                server->authExpiry = nowSeconds() + UPLOAD_AUTH_SECONDS;
                break;
            case FORM_AUTHENTICATION_FAILED:
                serverPrintf("[%d] Http authentication failed\n", static_cast<int>(slot->socket));
                server->authAddress = 0;
                break;
            case FORM_REQUIRE_UPLOAD_AUTH:
                slot->flags |= FLAG_UPLOAD_AUTH;
                break;
            case FORM_LIFT_UPLOAD_AUTH:
                slot->flags &= ~FLAG_UPLOAD_AUTH;
                break;
            default:
                break;
        }
    }
    if (!upload->path || !upload->path[0]) {
        // The answer to a form posted to "/" is the redirect alone.
        sendRedirect(server, slot, "/");
        slot->flags |= FLAG_CLOSE;
        return true;
    }
    return false;
}

int uploadWriter(UploadState* upload, const char* data, std::int32_t length) {
    if (!data) {
        if (upload->file > 0) fileClose(upload->file);
        upload->file = 0;
        return 0;
    }
    if (upload->file <= 0) {
        // Without an upload directory nothing is stored anywhere.
        if (uploadDirectory.empty()) return -1;
        std::string name = safeFileName(upload->fileName);
        if (name.empty()) return -1;
        std::string path = uploadDirectory + "/" + name;
        if (path.size() > 256) return -1;
        int file = fileOpenWrite(path.c_str());
        if (file <= 0) return -1;
        upload->file = file;
    }
    int result = 0;
    if (length > 0 && fileWrite(upload->file, data, length) != length) result = -1;
    if (upload->state == UPLOAD_LAST_DATA || result != 0) {
        fileClose(upload->file);
        upload->file = 0;
    }
    if (result == 0)
        std::printf("Received %u bytes for multipart upload file %s\n", static_cast<unsigned>(length),
                    upload->fileName);
    return result;
}
