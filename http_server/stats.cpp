// The statistics document served under the "stats" prefix.

#include <cstdlib>
#include <cstring>
#include <string>

#include "server_internal.h"

namespace {

std::string dottedAddress(std::uint32_t address) {
    char text[20];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", (address >> 24) & 0xff, (address >> 16) & 0xff,
                  (address >> 8) & 0xff, address & 0xff);
    return text;
}

// Writes text if it fits whole, keeping one byte for the terminator.
void writePiece(char** cursor, int* room, const std::string& text) {
    if (static_cast<int>(text.size()) >= *room) return;
    std::memcpy(*cursor, text.c_str(), text.size() + 1);
    *cursor += text.size();
    *room -= static_cast<int>(text.size());
}

}  // namespace

int writeXmlElement(char** cursor, int* room, const XmlElement& element) {
    if (*room < 2 * element.indentation) return -1;
    std::string text(static_cast<std::size_t>(2 * element.indentation), ' ');
    text += "<";
    text += element.name;
    text += ">";
    if (element.flags & 1) text += "<![CDATA[";
    text += element.value;
    if (element.flags & 1) text += "]]>";
    text += "</";
    text += element.name;
    text += ">\n";
    writePiece(cursor, room, text);
    return 0;
}

int statsHandler(HandlerRequest* request) {
    ServerConfig* server = request->server;
    ConnectionSlot* requester = request->slot;
    char* buffer = request->outBuffer;
    int room = request->dataBytes;
    bool owned = false;
    if (server->clientCount > 4) {
        int size = (server->clientCount + 4) * 256;
        if (char* fresh = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)))) {
            buffer = fresh;
            room = size;
            owned = true;
        }
    }
    if (!buffer || room <= 0) return 0;
    char* cursor = buffer;
    *cursor = '\0';
    std::int64_t now = nowSeconds();
    char line[128];
    std::snprintf(line, sizeof line, "<?xml version=\"%d.%d\" encoding=\"%s\"?>\n", 1, 0, "utf-8");
    writePiece(&cursor, &room, line);
    writePiece(&cursor, &room, "<ServerStats>");
    auto number = [](long long value) { return std::to_string(value); };
    const XmlElement elements[] = {
        {"ClientIP", dottedAddress(requester->clientAddress), 1, 0},
        {"UpTime", number(now - server->startTime), 1, 0},
        {"Clients", number(server->clientCount), 1, 0},
        {"ExpireTimeout", number(server->expiredCount), 1, 0},
        {"MaxClients", number(server->peakClients), 1, 0},
        {"Requests", number(server->requestCount), 1, 0},
        {"FileSent", number(server->fileSentCount), 1, 0},
        {"FileSentMB", number(server->bytesSent / 1048576u), 1, 0},
    };
    for (const XmlElement& element : elements) writeXmlElement(&cursor, &room, element);
    writePiece(&cursor, &room, "  <Clients>\n");
    for (int i = 0; i < server->maxClients; ++i) {
        const ConnectionSlot& slot = server->slots[i];
        if (slot.socket == 0) continue;
        std::int64_t elapsed = now - slot.connectedAt;
        unsigned speed = static_cast<unsigned>(slot.bytesSent / (elapsed * 1024 + 1));
        // A query may carry another client's secrets (the launch id): only the path is shown.
        std::string path = slot.path ? slot.path : "";
        path = htmlEscape(path.substr(0, path.find('?')).c_str());
        char client[1024];
        std::snprintf(client, sizeof client,
                      "<Client ip=\"%s\" requests=\"%d\" expire=\"%d\" speed=\"%u\" path=\"%s\"/>",
                      dottedAddress(slot.clientAddress).c_str(), slot.requestsServed,
                      static_cast<int>(slot.expiresAt - now), speed, path.c_str());
        writePiece(&cursor, &room, std::string("    ") + client + "\n");
    }
    writePiece(&cursor, &room, "  </Clients>\n");
    writePiece(&cursor, &room, "</ServerStats>");
    request->outBuffer = buffer;
    request->dataBytes = static_cast<std::int32_t>(cursor - buffer);
    request->contentType = CONTENT_TYPE_XML;
    return static_cast<int>(owned ? (FLAG_BUFFER | FLAG_OWN_BUFFER) : FLAG_BUFFER);
}
