#pragma once
// Runs a real Lumiserv on a loopback port chosen by the system and talks to it over sockets.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "lumiserv.h"

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed at the end of the test.
struct TempDir {
    fs::path path;
    TempDir() {
        std::random_device random;
        path = fs::temp_directory_path() /
               ("lumiserv-test-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path operator/(const std::string& name) const { return path / name; }
};

inline void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void setRoot(char (&field)[256], const fs::path& path) {
    std::snprintf(field, sizeof field, "%s", path.string().c_str());
}

// Owns a started server and its loop thread; the config is set up by the test before start().
struct TestServer {
    ServerConfig config{};
    std::thread loop;
    std::FILE* diagnostics = nullptr;
    std::FILE* previousLog = serverLog;

    TestServer() {
        config.maxClients = 32;
        config.bindAddress = htonl(INADDR_LOOPBACK);
        config.expireTimeout = 15;
        diagnostics = std::tmpfile();
        serverLog = diagnostics;
    }
    ~TestServer() {
        stop();
        if (serverLog == diagnostics) serverLog = previousLog;
        if (diagnostics) std::fclose(diagnostics);
    }
    int start() {
        int result = startServer(&config);
        if (result == 0) loop = std::thread([this] { runServer(&config); });
        return result;
    }
    int stop() {
        int result = -1;
        if (loop.joinable()) {
            result = stopServer(&config);
            loop.join();
        }
        return result;
    }
    // Everything written to the diagnostic stream so far.
    std::string log() {
        std::fflush(diagnostics);
        std::string text;
        std::rewind(diagnostics);
        char chunk[4096];
        std::size_t count;
        while ((count = std::fread(chunk, 1, sizeof chunk, diagnostics)) > 0) text.append(chunk, count);
        std::fseek(diagnostics, 0, SEEK_END);
        return text;
    }
};

inline int connectTo(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

inline bool sendText(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads until the connection ends (or 10 s pass without data); `resetOut`, when given, tells
// whether it ended by a reset rather than the server's orderly close.
inline std::string readAll(int fd, bool* resetOut = nullptr) {
    std::string text;
    char chunk[65536];
    for (;;) {
        ssize_t count = ::recv(fd, chunk, sizeof chunk, 0);
        if (count < 0 && resetOut) *resetOut = errno == ECONNRESET;
        if (count <= 0) break;
        text.append(chunk, static_cast<std::size_t>(count));
    }
    return text;
}

inline std::string roundTrip(std::uint16_t port, const std::string& request) {
    int fd = connectTo(port);
    if (fd < 0) return "<connect failed>";
    sendText(fd, request);
    std::string reply = readAll(fd);
    ::close(fd);
    return reply;
}

inline std::string get(std::uint16_t port, const std::string& target, const std::string& extra = "") {
    return roundTrip(port, "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n");
}

inline std::string bodyOf(const std::string& reply) {
    std::size_t at = reply.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : reply.substr(at + 4);
}

inline std::string headerOf(const std::string& reply) {
    std::size_t at = reply.find("\r\n\r\n");
    return at == std::string::npos ? reply : reply.substr(0, at + 4);
}

// Runs a shell command and returns its standard output.
inline std::string runCommand(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[4096];
        std::size_t count;
        while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, count);
        ::pclose(pipe);
    }
    return output;
}

inline const char* NOT_FOUND_REPLY =
    "HTTP/1.1 404 Not Found\r\nServer: Lumiserv\r\nContent-length: 125\r\n"
    "Content-Type: text/html\r\n\r\n"
    "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
    "<p>The requested URL has no content.</p></body></html>";

inline const char* FORBIDDEN_REPLY =
    "HTTP/1.1 403 Forbidden\r\nServer: Lumiserv\r\nContent-length: 85\r\n"
    "Content-Type: text/html\r\n\r\n"
    "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1></body></html>";
