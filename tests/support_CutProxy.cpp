// The tests' relay that breaks a server link at a chosen statement.
#include "support_CutProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool WriteAll(int socket, const char* data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::send(socket, data, size, MSG_NOSIGNAL);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}
} // namespace

CutProxy::CutProxy(int serverPort) : serverPort(serverPort)
{
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        qFatal("the relay cannot listen");
    port = ntohs(address.sin_port);
    worker = std::thread([this] { Serve(); });
}

CutProxy::~CutProxy()
{
    stopping = true;
    worker.join();
    for (const Link& link : links) {
        ::close(link.client);
        ::close(link.server);
    }
    ::close(listener);
}

QString CutProxy::Connection() const
{
    return QStringLiteral("host=127.0.0.1 port=%1 dbname=postgres user=postgres sslmode=disable")
        .arg(port);
}

void CutProxy::Arm(const QByteArray& text, bool cutLink, std::function<void()> beforeIt)
{
    std::lock_guard<std::mutex> held(lock);
    trigger = text;
    cut = cutLink;
    before = std::move(beforeIt);
    fired = false;
}

void CutProxy::Serve()
{
    while (!stopping) {
        std::vector<pollfd> watched{{listener, POLLIN, 0}};
        for (const Link& link : links)
            watched.insert(watched.end(), {{link.client, POLLIN, 0}, {link.server, POLLIN, 0}});
        if (poll(watched.data(), watched.size(), 50) <= 0)
            continue;
        std::vector<Link> kept;
        for (size_t i = 0; i < links.size(); ++i) {
            Link& link = links[i];
            const bool open = (!watched[1 + 2 * i].revents || Relay(link, true)) &&
                              (!watched[2 + 2 * i].revents || Relay(link, false));
            if (open) {
                kept.push_back(link);
            } else {
                ::close(link.client);
                ::close(link.server);
            }
        }
        links = kept;
        if (watched[0].revents)
            Accept();
    }
}

void CutProxy::Accept()
{
    const int client = accept(listener, nullptr, nullptr);
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(serverPort);
    if (client >= 0 &&
        ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        links.push_back({client, server, false});
        return;
    }
    ::close(client);
    ::close(server);
}

// False once the link is to close.
bool CutProxy::Relay(Link& link, bool fromClient)
{
    char buffer[65536];
    const ssize_t size = ::recv(fromClient ? link.client : link.server, buffer, sizeof buffer, 0);
    if (size <= 0)
        return false;
    if (!fromClient)
        return !link.dropReply && WriteAll(link.client, buffer, size);
    std::unique_lock<std::mutex> held(lock);
    if (!trigger.isEmpty() && QByteArray::fromRawData(buffer, int(size)).contains(trigger)) {
        trigger.clear();
        link.dropReply = cut;
        const std::function<void()> first = std::move(before);
        held.unlock();
        if (first)
            first();
        fired = true;
    }
    return WriteAll(link.server, buffer, size);
}
