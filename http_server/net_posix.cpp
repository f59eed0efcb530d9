// BSD sockets. The readiness wait uses poll(), so descriptors above FD_SETSIZE are safe.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

#include <cerrno>
#include <chrono>
#include <thread>

#include "net.h"
#include "net_system.h"

namespace {

#ifdef MSG_NOSIGNAL
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#else
constexpr int SEND_FLAGS = 0;
#endif

// Handle 0 means "none" to the server, so a socket that lands on descriptor 0 (standard input
// closed) is moved elsewhere. Every socket is close-on-exec: the launcher starts child processes.
int prepareDescriptor(int fd) {
    if (fd == 0) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close(fd);
        if (moved < 0) return -1;
        fd = moved;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    int status = fcntl(fd, F_GETFL, 0);
    if (status >= 0) fcntl(fd, F_SETFL, status | O_NONBLOCK);
#ifdef SO_NOSIGPIPE
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
    return fd;
}

}  // namespace

SocketHandle netOpenListener(bool ipv6) {
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    fd = prepareDescriptor(fd);
    if (fd < 0) return -1;
    // Lets a stopped server take its port again while old connections linger in TIME_WAIT; a
    // port held by another listener still fails to bind.
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    return fd;
}

bool netFailedForNoAddress() {
    return errno == EAFNOSUPPORT || errno == EADDRNOTAVAIL || errno == EPROTONOSUPPORT;
}

SocketHandle netAccept(SocketHandle listener, std::uint32_t* peerAddress) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
#ifdef __linux__
    // Non-blocking and close-on-exec from the start: three system calls fewer per connection.
    int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&address), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd == 0) fd = prepareDescriptor(fd);
#else
    int fd = accept(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&address), &length);
    if (fd >= 0) fd = prepareDescriptor(fd);
#endif
    if (fd < 0) return -1;
    *peerAddress = peerAddressOf(address);
    return fd;
}

void netSetReceiveBuffer(SocketHandle socket, int bytes) {
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int netReceive(SocketHandle socket, char* buffer, int length) {
    if (length <= 0) return 0;
    for (;;) {
        ssize_t received = recv(static_cast<int>(socket), buffer, static_cast<size_t>(length), 0);
        if (received >= 0) return static_cast<int>(received);
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? NET_WOULD_BLOCK : -1;
    }
}

int netSend(SocketHandle socket, const char* data, int length) {
    if (length <= 0) return 0;
    for (;;) {
        ssize_t sent = send(static_cast<int>(socket), data, static_cast<size_t>(length), SEND_FLAGS);
        if (sent >= 0) return static_cast<int>(sent);
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

int netSendFile(SocketHandle socket, int file, int length) {
#ifdef __linux__
    if (length <= 0) return -1;
    // sendfile has no MSG_NOSIGNAL: a client gone away would raise SIGPIPE and end a host that
    // does not ignore it. The server thread keeps the signal blocked, and one raised all the same
    // is taken off the thread again, so that nothing is left pending for later.
    static thread_local bool pipeSignalBlocked = false;
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    if (!pipeSignalBlocked) {
        if (pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr) != 0) return -1;
        pipeSignalBlocked = true;
    }
    for (;;) {
        ssize_t sent = sendfile(static_cast<int>(socket), file, nullptr, static_cast<size_t>(length));
        if (sent >= 0) return static_cast<int>(sent);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return NET_WOULD_BLOCK;
        if (errno == EPIPE) {
            timespec noWait{0, 0};
            while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
        return -1;
    }
#else
    (void)socket;
    (void)file;
    (void)length;
    return -1;
#endif
}

void netClose(SocketHandle socket) {
    if (socket > 0) close(static_cast<int>(socket));
}

void netShutdownSend(SocketHandle socket) {
    if (socket > 0) shutdown(static_cast<int>(socket), SHUT_WR);
}

void netInterrupt(SocketHandle listener) {
    if (listener > 0) shutdown(static_cast<int>(listener), SHUT_RDWR);
}

bool netSocketAlive(SocketHandle socket) {
    int error = 0;
    socklen_t length = sizeof error;
    return getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &length) == 0;
}

int netWait(NetWaitEntry* entries, int count, int timeoutMs) {
    constexpr int MAX_ENTRIES = 160;
    if (count > MAX_ENTRIES) count = MAX_ENTRIES;
    pollfd fds[MAX_ENTRIES];
    for (int i = 0; i < count; ++i) {
        fds[i].fd = static_cast<int>(entries[i].socket);
        fds[i].events =
            static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    int result = poll(fds, static_cast<nfds_t>(count), timeoutMs);
    if (result < 0) return errno == EINTR ? 0 : -1;
    int ready = 0;
    for (int i = 0; i < count; ++i) {
        short events = fds[i].revents;
        // A closed descriptor in the set is what makes select() fail; report it the same way.
        if (events & POLLNVAL) return -1;
        // Errors and hang-ups wake a waiting reader or writer, whose next call sees the cause.
        bool problem = (events & (POLLERR | POLLHUP)) != 0;
        entries[i].readable = entries[i].wantRead && ((events & POLLIN) || problem);
        entries[i].writable = entries[i].wantWrite && ((events & POLLOUT) || problem);
        if (entries[i].readable || entries[i].writable) ++ready;
    }
    return ready;
}

std::uint32_t netTickMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void netSleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
