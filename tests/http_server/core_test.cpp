// Server start and stop, connection slots, the 403 for a full server, idle expiry and the
// refusals that end a connection before any answer or with the 403 page.

#include <gtest/gtest.h>

#include <vector>

#include "server_fixture.h"

namespace {

UrlHandler statsOnly[] = {{"stats", statsHandler, nullptr, 0}, {nullptr, nullptr, nullptr, 0}};

TEST(ServerCore, StartAndStopResults) {
    TestServer idle;
    idle.config.maxClients = 0;
    EXPECT_EQ(startServer(&idle.config), -2);
    EXPECT_NE(idle.log().find("Maximum clients not set\n"), std::string::npos);

    TestServer server;
    server.config.expireTimeout = 0;
    ASSERT_EQ(server.start(), 0);
    EXPECT_NE(server.config.port, 0);
    EXPECT_EQ(server.config.expireTimeout, 120);
    SocketHandle listener = server.config.listenSocket;
    EXPECT_EQ(startServer(&server.config), -1);
    EXPECT_EQ(server.config.listenSocket, listener);

    TestServer rival;
    rival.config.port = server.config.port;
    EXPECT_EQ(rival.start(), -3);
    EXPECT_EQ(rival.config.listenSocket, 0);
    serverLog = server.diagnostics;

    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(server.stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ(server.config.slots, nullptr);
    EXPECT_EQ(server.config.running, 0);
    EXPECT_EQ(stopServer(&server.config), -1);
    EXPECT_NE(server.log().find("Cleaning up...\n"), std::string::npos);
    EXPECT_EQ(connectTo(server.config.port), -1) << "the port is released";

    // The record can be started again after it has stopped.
    ASSERT_EQ(server.start(), 0);
    EXPECT_EQ(bodyOf(get(server.config.port, "/nothing")).size(), 125u);
}

TEST(ServerCore, ThirtyThirdConnectionGetsForbidden) {
    TestServer server;
    server.config.urlHandlers = statsOnly;
    ASSERT_EQ(server.start(), 0);
    std::vector<int> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(connectTo(server.config.port));
        ASSERT_GE(clients.back(), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The refused client has usually sent its request before the server takes the connection;
    // it still reads the whole page and an orderly end, never a reset in its place.
    for (int attempt = 0; attempt < 20; ++attempt) {
        int refused = connectTo(server.config.port);
        ASSERT_GE(refused, 0);
        ASSERT_TRUE(sendText(refused, "GET /x HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        bool reset = false;
        EXPECT_EQ(readAll(refused, &reset), FORBIDDEN_REPLY);
        EXPECT_FALSE(reset) << "attempt " << attempt;
        ::close(refused);
    }
    EXPECT_NE(server.log().find("] connection denied\n"), std::string::npos);

    // The refused connection never counted: the statistics, asked on a slot already held, still
    // show 32 clients.
    ASSERT_TRUE(sendText(clients[0], "GET /stats HTTP/1.1\r\n\r\n"));
    std::string stats = readAll(clients[0]);
    EXPECT_NE(stats.find("<Clients>32</Clients>"), std::string::npos) << stats;
    for (int fd : clients) ::close(fd);
    server.stop();
    EXPECT_EQ(server.config.peakClients, 32);
}

TEST(ServerCore, IdleConnectionExpires) {
    TestServer server;
    server.config.expireTimeout = 1;
    ASSERT_EQ(server.start(), 0);
    int fd = connectTo(server.config.port);
    ASSERT_GE(fd, 0);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(readAll(fd), "");  // closed by the server, nothing sent
    auto waited = std::chrono::steady_clock::now() - started;
    ::close(fd);
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(5));
    server.stop();
    EXPECT_EQ(server.config.expiredCount, 1u);
    EXPECT_NE(server.log().find("] Http socket expired\n"), std::string::npos);
}

TEST(ServerCore, RefusedRequestsCloseWithoutAnswer) {
    TestServer server;
    ASSERT_EQ(server.start(), 0);
    std::uint16_t port = server.config.port;
    EXPECT_EQ(roundTrip(port, "DELETE /x HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(roundTrip(port, "GET /x\r\n\r\n"), "");
    EXPECT_EQ(roundTrip(port, "GET /" + std::string(600, 'a') + " HTTP/1.1\r\n\r\n"), "");
    // A header that fills the whole buffer without a blank line.
    EXPECT_EQ(roundTrip(port, "GET /x HTTP/1.1\r\nX-Long: " + std::string(140000, 'b')), "");
    // A header so long that no room is left to answer behind it.
    EXPECT_EQ(roundTrip(port, "GET /x HTTP/1.1\r\nX-Long: " + std::string(130500, 'b') + "\r\n\r\n"), "");
    // The server is still serving.
    EXPECT_EQ(get(port, "/missing"), NOT_FOUND_REPLY);
    std::string log = server.log();
    EXPECT_NE(log.find("] Unsupported method\n"), std::string::npos);
    EXPECT_NE(log.find("Error parsing request\n"), std::string::npos);
}

TEST(ServerCore, PerAddressLimitAndForwardedAddress) {
    TestServer server;
    server.config.maxClientsPerIp = 1;
    server.config.urlHandlers = statsOnly;
    ASSERT_EQ(server.start(), 0);
    int holder = connectTo(server.config.port);
    ASSERT_GE(holder, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(get(server.config.port, "/stats"), FORBIDDEN_REPLY);
    EXPECT_NE(server.log().find("] Too many connections from this IP\n"), std::string::npos);

    // A forwarded address counts as another client, with its missing octets as 0.
    std::string reply = get(server.config.port, "/stats", "X-Forwarded-For: 10.1.2\r\n");
    EXPECT_NE(reply.find("<ClientIP>10.1.2.0</ClientIP>"), std::string::npos) << reply;
    ::close(holder);
}

int hookCalls = 0;
int countingHook(HandlerRequest*) {
    ++hookCalls;
    return 0;
}

TEST(ServerCore, OnlyLoopbackHostNamesAreServed) {
    TestServer server;
    TempDir root;
    writeFile(root / "study.txt", "patient data");
    setRoot(server.config.documentRoot, root.path);
    UrlHandler handlers[] = {{"cmd", hookHandler, nullptr, 0}, {nullptr, nullptr, nullptr, 0}};
    server.config.urlHandlers = handlers;
    urlHook.store(countingHook);
    hookCalls = 0;
    ASSERT_EQ(server.start(), 0);
    std::uint16_t port = server.config.port;
    auto withHost = [port](const std::string& method, const std::string& target,
                           const std::string& hostLine) {
        return roundTrip(port,
                         method + " " + target + " HTTP/1.1\r\n" + hostLine + "Content-Length: 0\r\n\r\n");
    };

    // A page of another site that resolves to this machine reads nothing and cannot post the exit.
    for (const char* host : {"rebind.example", "rebind.example:8000", "localhost.rebind.example",
                             "127.0.0.1.nip.io", "localhostx", "127.0.0.10", "[::1].example", "[::2]",
                             "localhost:80x", "localhost:", "localhost:8000:1", "", "127.0.0.1 :80"}) {
        std::string hostLine = std::string("Host: ") + host + "\r\n";
        EXPECT_EQ(withHost("GET", "/study.txt", hostLine), FORBIDDEN_REPLY) << host;
        EXPECT_EQ(withHost("POST", "/cmd/exit?uniqueId=x", hostLine), FORBIDDEN_REPLY) << host;
    }
    EXPECT_EQ(hookCalls, 0);
    EXPECT_NE(server.log().find("] Host not allowed\n"), std::string::npos);

    // The loopback names, in any letter case, with or without a port; and no Host at all.
    for (const char* hostLine :
         {"Host: localhost\r\n", "Host: LocalHost:8000\r\n", "Host: 127.0.0.1:80\r\n", "Host: [::1]\r\n",
          "Host: [::1]:8099\r\n", "host:  localhost:8000 \r\n", ""}) {
        EXPECT_EQ(bodyOf(withHost("GET", "/study.txt", hostLine)), "patient data") << hostLine;
    }
    EXPECT_EQ(bodyOf(withHost("POST", "/cmd/exit?uniqueId=x", "Host: localhost:8000\r\n")), "OK");
    EXPECT_EQ(hookCalls, 1);
    urlHook.store(nullptr);
}

int idleCalls = 0;
void countIdle(ServerConfig*) { ++idleCalls; }

TEST(ServerCore, IdleCallbackWhileNothingHappens) {
    TestServer server;
    server.config.onIdle = countIdle;
    idleCalls = 0;
    ASSERT_EQ(server.start(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    server.stop();
    EXPECT_GE(idleCalls, 1);
}

TEST(ServerCore, StopEndsOpenConnections) {
    TestServer server;
    ASSERT_EQ(server.start(), 0);
    int fd = connectTo(server.config.port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendText(fd, "GET /half"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(readAll(fd), "");
    ::close(fd);
    EXPECT_EQ(server.config.clientCount, 0);
}

}  // namespace
