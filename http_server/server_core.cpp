// The server record's life: start, the event loop over the connection slots, stop. The loop
// calls down into receiving, sending and the slots' life cycle; nothing calls back up into it.

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "net.h"
#include "server_internal.h"

namespace {

constexpr int MAX_WATCHED_PER_SET = 64;

// Guards the listening socket between stopServer, which wakes the loop through it, and the
// loop's end, which closes it; without it the wake could reach a reused descriptor.
std::mutex listenerLock;

std::atomic_ref<std::int32_t> quitFlag(ServerConfig* server) {
    return std::atomic_ref<std::int32_t>(server->quit);
}
std::atomic_ref<std::int32_t> runningFlag(ServerConfig* server) {
    return std::atomic_ref<std::int32_t>(server->running);
}

void acceptConnection(ServerConfig* server, SocketHandle listener, std::int64_t now) {
    ConnectionSlot* freeSlot = nullptr;
    for (int i = 0; i < server->maxClients; ++i) {
        if (server->slots[i].socket == 0) {
            freeSlot = &server->slots[i];
            break;
        }
    }
    std::uint32_t peer = 0;
    SocketHandle socket = netAccept(listener, &peer);
    if (socket <= 0) return;
    if (!freeSlot) {
        serverPrintf("[%d] connection denied\n", static_cast<int>(socket));
        sendForbidden(server, socket);
        netCloseConnection(socket);
        return;
    }
    if (server->socketRcvBufKb) netSetReceiveBuffer(socket, server->socketRcvBufKb * 1024);
    openSlot(server, freeSlot, socket, peer, now);
}

// One sending or receiving step for a slot the wait reported ready.
int serveSlot(ServerConfig* server, ConnectionSlot* slot, const NetWaitEntry& entry) {
    if (entry.writable && (slot->flags & FLAG_SENDING)) {
        if (slot->flags & (FLAG_BUFFER | FLAG_STREAM)) return bufferStep(server, slot);
        if (slot->pending <= 0) return 1;
        if (slot->flags & FLAG_FILE) return fileStep(server, slot);
        serverPrintf("Invalid content source\n");
        return 1;
    }
    if (entry.readable && (slot->flags & FLAG_RECEIVING)) return receiveStep(server, slot);
    return 1;
}

bool requestOverdue(const ServerConfig* server, const ConnectionSlot* slot, std::int64_t now) {
    return server->requestTimeout > 0 && (slot->flags & FLAG_RECEIVING) &&
           now > slot->connectedAt + server->requestTimeout;
}

void finishLoop(ServerConfig* server) {
    {
        std::lock_guard<std::mutex> guard(listenerLock);
        netClose(server->listenSocket);
        std::atomic_ref<SocketHandle>(server->listenSocket).store(0);
        netClose(server->listenSocket6);
        std::atomic_ref<SocketHandle>(server->listenSocket6).store(0);
    }
    // Connections still open release what they hold, as if they had ended.
    for (int i = 0; i < server->maxClients; ++i) {
        ConnectionSlot* slot = &server->slots[i];
        if (slot->socket == 0) continue;
        slot->flags |= FLAG_CLOSE;
        closeConnection(server, slot);
    }
    serverPrintf("Cleaning up...\n");
    for (int i = 0; i < server->maxClients; ++i) {
        std::free(server->slots[i].ioBuffer);
        server->slots[i].ioBuffer = nullptr;
    }
    if (server->urlHandlers) {
        for (UrlHandler* entry = server->urlHandlers; entry->prefix; ++entry)
            if (entry->handler && entry->event) entry->event(HANDLER_EVENT_END, entry, server);
    }
    std::free(server->slots);
    server->slots = nullptr;
    server->clientCount = 0;
    quitFlag(server).store(0);
    runningFlag(server).store(0);
}

}  // namespace

int startServer(ServerConfig* server) {
    if (runningFlag(server).load()) return -1;
    if (!serverLog) serverLog = stderr;
    if (server->maxClients <= 0) {
        serverPrintf("Maximum clients not set\n");
        return -2;
    }
    server->slots = static_cast<ConnectionSlot*>(std::calloc(server->maxClients, sizeof(ConnectionSlot)));
    if (!server->slots) return -3;
    if (server->urlHandlers) {
        for (UrlHandler* entry = server->urlHandlers; entry->prefix; ++entry)
            if (entry->event && entry->event(HANDLER_EVENT_START, entry, server) != 0)
                entry->handler = nullptr;
    }
    SocketHandle listener = 0;
    std::uint16_t boundPort = server->port;
    if (netListen(server->bindAddress, server->port, server->maxClients - 1, &listener, &boundPort) != 0) {
        server->listenSocket = 0;
        std::free(server->slots);
        server->slots = nullptr;
        return -3;
    }
    server->listenSocket6 = 0;
    if (server->flags & SERVER_IPV6_LOOPBACK) {
        SocketHandle listener6 = 0;
        int result = netListenLoopback6(boundPort, server->maxClients - 1, &listener6);
        if (result == 0) {
            server->listenSocket6 = listener6;
        } else if (result != NET_NO_IPV6) {
            // Another program answers on [::1] at this port, where "localhost" leads first.
            netClose(listener);
            server->listenSocket = 0;
            std::free(server->slots);
            server->slots = nullptr;
            return -3;
        }
    }
    server->listenSocket = listener;
    server->port = boundPort;
    server->startTime = nowSeconds();
    if (server->expireTimeout == 0) server->expireTimeout = 120;
    quitFlag(server).store(0);
    runningFlag(server).store(1);
    return 0;
}

int runServer(ServerConfig* server) {
    if (!server->slots || !runningFlag(server).load()) return 0;
    const int watchLimit = 2 + 2 * MAX_WATCHED_PER_SET;
    NetWaitEntry entries[watchLimit];
    int slotOfEntry[watchLimit];
    while (!quitFlag(server).load()) {
        int count = 0;
        entries[count++] = NetWaitEntry{server->listenSocket, true, false, false, false};
        if (server->listenSocket6 > 0)
            entries[count++] = NetWaitEntry{server->listenSocket6, true, false, false, false};
        const int listeners = count;
        int readCount = listeners;
        int writeCount = 0;
        std::int64_t now = nowSeconds();
        std::uint32_t tick = netTickMs();
        for (int i = 0; i < server->maxClients; ++i) {
            ConnectionSlot* slot = &server->slots[i];
            if (slot->socket == 0) continue;
            if (!netSocketAlive(slot->socket)) {
                // "vaild" is the line as it has always been written; log readers match it.
                serverPrintf("[%d] Socket no longer vaild.\n", static_cast<int>(slot->socket));
                slot->flags = FLAG_CLOSE;
                closeConnection(server, slot);
                continue;
            }
            if (now > slot->expiresAt) {
                serverPrintf("[%d] Http socket expired\n", static_cast<int>(slot->socket));
                ++server->expiredCount;
                slot->flags = FLAG_CLOSE;
                closeConnection(server, slot);
                continue;
            }
            // A byte now and then renews expiresAt; this bound is the connection's own, so that
            // clients trickling their requests cannot hold every slot.
            if (requestOverdue(server, slot, now)) {
                serverPrintf("[%d] Http request not received in time\n", static_cast<int>(slot->socket));
                ++server->expiredCount;
                slot->flags = FLAG_CLOSE;
                closeConnection(server, slot);
                continue;
            }
            if (slot->resumeTick) {
                if (static_cast<std::int32_t>(slot->resumeTick - tick) > 0) continue;
                slot->resumeTick = 0;
            }
            bool read = (slot->flags & FLAG_RECEIVING) && readCount < MAX_WATCHED_PER_SET;
            bool write = (slot->flags & FLAG_SENDING) && writeCount < MAX_WATCHED_PER_SET;
            if (!read && !write) continue;
            readCount += read;
            writeCount += write;
            slotOfEntry[count] = i;
            entries[count++] = NetWaitEntry{slot->socket, read, write, false, false};
        }
        int ready = netWait(entries, count, 1000);
        if (quitFlag(server).load()) break;
        if (ready < 0) {
            netSleepMs(1000);
            continue;
        }
        if (ready == 0) {
            if (server->onIdle) server->onIdle(server);
            continue;
        }
        now = nowSeconds();
        for (int k = listeners; k < count; ++k) {
            ConnectionSlot* slot = &server->slots[slotOfEntry[k]];
            if (slot->socket != entries[k].socket) continue;
            if (!entries[k].readable && !entries[k].writable) continue;
            if (serveSlot(server, slot, entries[k]) == 0) {
                slot->expiresAt = now + server->expireTimeout;
            } else if (slot->socket != 0) {
                slot->flags |= FLAG_CLOSE;
                closeConnection(server, slot);
            }
        }
        for (int k = 0; k < listeners; ++k)
            if (entries[k].readable) acceptConnection(server, entries[k].socket, now);
    }
    finishLoop(server);
    return 0;
}

int stopServer(ServerConfig* server) {
    {
        std::lock_guard<std::mutex> guard(listenerLock);
        if (quitFlag(server).load() || !runningFlag(server).load()) return -1;
        quitFlag(server).store(1);
        netInterrupt(std::atomic_ref<SocketHandle>(server->listenSocket).load());
        netInterrupt(std::atomic_ref<SocketHandle>(server->listenSocket6).load());
    }
    for (int i = 0; i < 30 && runningFlag(server).load(); ++i) netSleepMs(100);
    return 0;
}
