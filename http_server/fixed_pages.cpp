// The answers that are sent whole in one go, outside the slot's sending steps: the refusal pages,
// the authentication demand and the redirects.

#include <cstdio>
#include <cstring>
#include <string>

#include "net.h"
#include "server_internal.h"

namespace {

constexpr const char* FORBIDDEN_BODY =
    "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1></body></html>";
constexpr const char* NOT_FOUND_BODY =
    "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
    "<p>The requested URL has no content.</p></body></html>";

void sendFixedPage(SocketHandle socket, const char* headerFormat, const char* body) {
    char header[128];
    int bodyLength = static_cast<int>(std::strlen(body));
    int length = std::snprintf(header, sizeof header, headerFormat, SERVER_NAME, bodyLength);
    if (length < 0) return;
    if (length >= static_cast<int>(sizeof header)) length = sizeof header - 1;
    if (netSendAll(socket, header, length)) netSendAll(socket, body, bodyLength);
}

}  // namespace

void sendForbidden(SocketHandle socket) {
    sendFixedPage(socket,
                  "HTTP/1.1 403 Forbidden\r\nServer: %s\r\nContent-length: %d\r\n"
                  "Content-Type: text/html\r\n\r\n",
                  FORBIDDEN_BODY);
}

void sendNotFound(SocketHandle socket) {
    sendFixedPage(socket,
                  "HTTP/1.1 404 Not Found\r\nServer: %s\r\nContent-length: %d\r\n"
                  "Content-Type: text/html\r\n\r\n",
                  NOT_FOUND_BODY);
}

void sendAuthorizationRequired(SocketHandle socket, const char* message) {
    char header[256];
    int messageLength = static_cast<int>(std::strlen(message));
    int length = std::snprintf(header, sizeof header,
                               "HTTP/1.1 401 Authorization Required\r\nWWW-Authenticate: Basic "
                               "realm=\"%s\"\r\nContent-Length: %d\r\nContent-Type: text/html\r\n\r\n",
                               "Login", messageLength);
    if (netSendAll(socket, header, length)) netSendAll(socket, message, messageLength);
}

void sendRedirect(ConnectionSlot* slot, const char* location) {
    // The location may lie in the very area the answer is written to.
    std::string target(location ? location : "");
    int length = std::snprintf(slot->outPtr, static_cast<std::size_t>(slot->outCapacity),
                               "HTTP/1.1 301 Moved Permanently\r\nServer: %s\r\nLocation: %s\r\n\r\n",
                               SERVER_NAME, target.c_str());
    if (length < 0) return;
    if (length >= slot->outCapacity) length = slot->outCapacity - 1;
    netSendAll(slot->socket, slot->outPtr, length);
}
