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

constexpr const char* FORBIDDEN_HEADER =
    "HTTP/1.1 403 Forbidden\r\nServer: %s\r\nContent-length: %d\r\nContent-Type: text/html\r\n%s\r\n";

// Header and page in one, or 0 when they do not fit.
int composeFixedPage(const ServerConfig* server, char* destination, int capacity, const char* headerFormat,
                     const char* body) {
    int bodyLength = static_cast<int>(std::strlen(body));
    int length = std::snprintf(destination, static_cast<std::size_t>(capacity), headerFormat, SERVER_NAME,
                               bodyLength, securityHeaders(server));
    if (length < 0 || length + bodyLength >= capacity) return 0;
    std::memcpy(destination + length, body, static_cast<std::size_t>(bodyLength) + 1);
    return length + bodyLength;
}

void sendFixedPage(const ServerConfig* server, SocketHandle socket, const char* headerFormat,
                   const char* body) {
    char page[1024];
    int length = composeFixedPage(server, page, sizeof page, headerFormat, body);
    if (length > 0) netSendAll(socket, page, length);
}

}  // namespace

const char* securityHeaders(const ServerConfig* server) {
    return server && (server->flags & SERVER_SECURITY_HEADERS) ? SECURITY_HEADERS : "";
}

int composeForbidden(const ServerConfig* server, char* destination, int capacity) {
    return composeFixedPage(server, destination, capacity, FORBIDDEN_HEADER, FORBIDDEN_BODY);
}

void sendForbidden(const ServerConfig* server, SocketHandle socket) {
    sendFixedPage(server, socket, FORBIDDEN_HEADER, FORBIDDEN_BODY);
}

void sendNotFound(const ServerConfig* server, SocketHandle socket) {
    sendFixedPage(server, socket,
                  "HTTP/1.1 404 Not Found\r\nServer: %s\r\nContent-length: %d\r\n"
                  "Content-Type: text/html\r\n%s\r\n",
                  NOT_FOUND_BODY);
}

void sendAuthorizationRequired(const ServerConfig* server, SocketHandle socket, const char* message) {
    char header[512];
    int messageLength = static_cast<int>(std::strlen(message));
    int length = std::snprintf(header, sizeof header,
                               "HTTP/1.1 401 Authorization Required\r\nWWW-Authenticate: Basic "
                               "realm=\"%s\"\r\nContent-Length: %d\r\nContent-Type: text/html\r\n%s\r\n",
                               "Login", messageLength, securityHeaders(server));
    if (length < 0 || length >= static_cast<int>(sizeof header)) return;
    if (netSendAll(socket, header, length)) netSendAll(socket, message, messageLength);
}

void sendRedirect(const ServerConfig* server, ConnectionSlot* slot, const char* location) {
    // The location may lie in the very area the answer is written to.
    std::string target(location ? location : "");
    int length = std::snprintf(slot->outPtr, static_cast<std::size_t>(slot->outCapacity),
                               "HTTP/1.1 301 Moved Permanently\r\nServer: %s\r\nLocation: %s\r\n%s\r\n",
                               SERVER_NAME, target.c_str(), securityHeaders(server));
    if (length < 0) return;
    // A location too long for the area would cut the header short: nothing is sent then.
    if (length >= slot->outCapacity) return;
    netSendAll(slot->socket, slot->outPtr, length);
}
