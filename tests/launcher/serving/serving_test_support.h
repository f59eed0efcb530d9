#pragma once
// Small helpers for the serving tests: a scratch folder, a plain HTTP/1.0 exchange over the
// loopback address, and a front end that records the commands delivered to it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/front_end.h"

struct ScratchFolder {
    ScratchFolder() {
        path = std::filesystem::temp_directory_path() /
               ("serving_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

inline void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

inline std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct HttpReply {
    bool connected = false;
    int status = 0;
    std::string head;
    std::string body;
};

// One request, to 127.0.0.1 or [::1]; the server closes the connection after its reply.
inline HttpReply httpExchange(int port, const std::string& method, const std::string& target,
                              bool overIpv6 = false) {
    HttpReply reply;
    int fd = ::socket(overIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return reply;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(static_cast<uint16_t>(port));
    address6.sin6_addr = in6addr_loopback;
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const sockaddr* target6 = reinterpret_cast<const sockaddr*>(&address6);
    const sockaddr* target4 = reinterpret_cast<const sockaddr*>(&address);
    if (overIpv6 ? ::connect(fd, target6, sizeof address6) != 0
                 : ::connect(fd, target4, sizeof address) != 0) {
        ::close(fd);
        return reply;
    }
    reply.connected = true;
    std::string request = method + " " + target + " HTTP/1.0\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buffer[4096];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) all.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    size_t split = all.find("\r\n\r\n");
    reply.head = all.substr(0, split);
    reply.body = split == std::string::npos ? "" : all.substr(split + 4);
    if (all.rfind("HTTP/1.", 0) == 0 && all.size() > 12) reply.status = std::stoi(all.substr(9, 3));
    return reply;
}

// Records every command delivered to the front end, with the moment it arrived.
struct CommandRecorder {
    static CommandRecorder& instance() {
        static CommandRecorder recorder;
        return recorder;
    }
    static void deliver(int commandId) {
        CommandRecorder& self = instance();
        std::lock_guard<std::mutex> guard(self.lock);
        self.commands.push_back({commandId, std::chrono::steady_clock::now()});
        self.arrived.notify_all();
    }
    void install() {
        {
            std::lock_guard<std::mutex> guard(lock);
            commands.clear();
        }
        FrontEnd frontEnd{};
        frontEnd.deliverCommand = deliver;
        installFrontEnd(frontEnd);
    }
    // Waits up to `limit` for at least `count` commands; returns what arrived.
    std::vector<std::pair<int, std::chrono::steady_clock::time_point>> waitFor(
        size_t count, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> guard(lock);
        arrived.wait_for(guard, limit, [&] { return commands.size() >= count; });
        return commands;
    }

    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::pair<int, std::chrono::steady_clock::time_point>> commands;
};
