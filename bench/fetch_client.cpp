#include "fetch_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr std::size_t RECEIVE_BLOCK = 256 * 1024;
constexpr std::size_t MAX_HEAD = 16 * 1024;

bool startsWithNoCase(const char* text, std::size_t length, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    if (length < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool sendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

// One request on a fresh connection. Empty when the answer was good; otherwise what was wrong.
std::string fetchOne(const FetchPlan& plan, const std::string& path, std::vector<char>& buffer,
                     long long* bodyBytes) {
    Socket socket;
    if (socket.get() < 0) return std::string("socket: ") + std::strerror(errno);
    timeval limit{plan.timeoutMs / 1000, (plan.timeoutMs % 1000) * 1000};
    setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int one = 1;
    setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(plan.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    while (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINTR) return std::string("connect: ") + std::strerror(errno);
    }
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(plan.port) +
                          "\r\nConnection: close\r\n\r\n";
    if (!sendAll(socket.get(), request)) return std::string("send: ") + std::strerror(errno);

    std::string headText;
    ResponseHead head;
    long long body = 0;
    for (;;) {
        ssize_t count = ::recv(socket.get(), buffer.data(), buffer.size(), 0);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::string("receive: ") + std::strerror(errno);
        if (count == 0) break;
        if (head.complete) {
            body += count;
            continue;
        }
        std::size_t before = headText.size();
        std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(count), MAX_HEAD + 4 - before);
        headText.append(buffer.data(), take);
        head = parseResponseHead(headText.data(), headText.size());
        if (head.complete) {
            body += count - static_cast<long long>(head.headLength - before);
        } else if (headText.size() > MAX_HEAD) {
            return "answer head too long";
        }
    }
    if (!head.complete) return "connection closed before the answer's head was complete";
    if (!head.valid) return "not an HTTP answer: " + headText.substr(0, 40);
    if (head.status != 200) return path + " answered with status " + std::to_string(head.status);
    if (head.contentLength >= 0 && body != head.contentLength)
        return path + ": body of " + std::to_string(body) + " bytes, announced " +
               std::to_string(head.contentLength);
    if (plan.expectBytes >= 0 && body != plan.expectBytes)
        return path + ": body of " + std::to_string(body) + " bytes, expected " +
               std::to_string(plan.expectBytes);
    *bodyBytes = body;
    return std::string();
}

}  // namespace

ResponseHead parseResponseHead(const char* data, std::size_t length) {
    ResponseHead head;
    const char* end = nullptr;
    for (std::size_t i = 0; i + 3 < length; ++i) {
        if (std::memcmp(data + i, "\r\n\r\n", 4) == 0) {
            end = data + i;
            break;
        }
    }
    if (!end) return head;
    head.complete = true;
    head.headLength = static_cast<std::size_t>(end - data) + 4;
    std::size_t headBytes = static_cast<std::size_t>(end - data);
    if (!startsWithNoCase(data, headBytes, "HTTP/1.") || headBytes < 12 || data[8] != ' ') return head;
    int status = 0;
    for (std::size_t i = 9; i < 12; ++i) {
        if (data[i] < '0' || data[i] > '9') return head;
        status = status * 10 + (data[i] - '0');
    }
    head.status = status;
    head.valid = true;
    const char* line = data;
    while (line < end) {
        const char* lineEnd =
            static_cast<const char*>(std::memchr(line, '\r', static_cast<std::size_t>(end - line)));
        if (!lineEnd) lineEnd = end;
        std::size_t lineLength = static_cast<std::size_t>(lineEnd - line);
        if (startsWithNoCase(line, lineLength, "content-length:")) {
            const char* value = line + 15;
            while (value < lineEnd && *value == ' ') ++value;
            long long number = 0;
            bool digits = false;
            while (value < lineEnd && *value >= '0' && *value <= '9' && number < (1LL << 50)) {
                number = number * 10 + (*value++ - '0');
                digits = true;
            }
            if (digits) head.contentLength = number;
        }
        line = lineEnd + 2;
    }
    return head;
}

FetchResult runFetchPlan(const FetchPlan& plan) {
    FetchResult result;
    if (plan.paths.empty() || plan.requests <= 0 || plan.clients <= 0) {
        result.firstError = "nothing to fetch";
        return result;
    }
    std::atomic<long long> next{0};
    std::atomic<long long> ok{0};
    std::atomic<long long> failed{0};
    std::atomic<long long> bytes{0};
    std::mutex errorLock;

    auto client = [&] {
        std::vector<char> buffer(RECEIVE_BLOCK);
        for (;;) {
            long long index = next.fetch_add(1);
            if (index >= plan.requests) return;
            const std::string& path = plan.paths[static_cast<std::size_t>(index) % plan.paths.size()];
            long long body = 0;
            std::string error = fetchOne(plan, path, buffer, &body);
            if (error.empty()) {
                ok.fetch_add(1);
                bytes.fetch_add(body);
            } else {
                failed.fetch_add(1);
                std::lock_guard<std::mutex> guard(errorLock);
                if (result.firstError.empty()) result.firstError = error;
            }
        }
    };

    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < plan.clients; ++i) threads.emplace_back(client);
    for (std::thread& thread : threads) thread.join();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.ok = ok.load();
    result.failed = failed.load();
    result.bodyBytes = bytes.load();
    return result;
}
