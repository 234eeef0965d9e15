#include "support_LoopbackHttpServer.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtEndian>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
const int kPieceGapMs = 150;

quint32 Crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray LittleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}
} // namespace

QList<QByteArray> OneBytePieces(const QByteArray& bytes)
{
    QList<QByteArray> pieces;
    for (const char byte : bytes)
        pieces << QByteArray(1, byte);
    return pieces;
}

QByteArray GzipBody(const QByteArray& data)
{
    // qCompress gives a 4-byte length, a 2-byte zlib header, the raw deflate
    // stream and a 4-byte Adler-32; gzip wants the raw stream between its own
    // header and a CRC-32 plus length trailer.
    const QByteArray zlib = qCompress(data, 9);
    const QByteArray deflate = zlib.mid(6, zlib.size() - 6 - 4);
    const QByteArray header("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    return header + deflate + LittleEndian32(Crc32(data)) +
           LittleEndian32(static_cast<quint32>(data.size()));
}

LoopbackHttpServer::LoopbackHttpServer(int lastAddressByte) : lastByte(lastAddressByte)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(Port()));
    inet_pton(AF_INET, Host().constData(), &address.sin_addr);
    if (bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(socket, 16) != 0) {
        ::close(socket);
        return;
    }
    listener = socket;
    worker = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    if (listener >= 0)
        ::close(listener);
}

QByteArray LoopbackHttpServer::Host() const
{
    return "127.0.0." + QByteArray::number(lastByte);
}

int LoopbackHttpServer::Port() const
{
    return 7000 + lastByte;
}

QByteArray LoopbackHttpServer::Url(const QByteArray& path) const
{
    return "http://" + Host() + ":" + QByteArray::number(Port()) + path;
}

void LoopbackHttpServer::SetAnswer(const Answer& answer)
{
    std::lock_guard<std::mutex> guard(lock);
    defaultAnswer = answer;
}

void LoopbackHttpServer::SetAnswer(const QByteArray& path, const Answer& answer)
{
    std::lock_guard<std::mutex> guard(lock);
    answers.insert(path, answer);
}

QList<LoopbackHttpServer::Request> LoopbackHttpServer::Requests() const
{
    std::lock_guard<std::mutex> guard(lock);
    return requests;
}

int LoopbackHttpServer::Connections() const
{
    std::lock_guard<std::mutex> guard(lock);
    return connections;
}

bool LoopbackHttpServer::WaitForRequests(int count, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (Requests().size() < count) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QThread::msleep(5);
    }
    return true;
}

QByteArray LoopbackHttpServer::Reply(int status, const QByteArray& body, const QByteArray& headers)
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " Status\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + headers +
           "\r\n" + body;
}

QByteArray LoopbackHttpServer::Request::Header(const QByteArray& name) const
{
    for (const QByteArray& line : headerLines) {
        if (line.toLower().startsWith(name.toLower() + ":"))
            return line.mid(name.size() + 1).trimmed();
    }
    return QByteArray();
}

QByteArray LoopbackHttpServer::Request::Path() const
{
    const QList<QByteArray> parts = requestLine.split(' ');
    return parts.size() == 3 ? parts[1] : QByteArray();
}

void LoopbackHttpServer::Serve()
{
    struct Client
    {
        int socket;
        int connection;
        QByteArray pending;
        bool stalled;
    };
    std::vector<Client> clients;
    while (!stopping) {
        std::vector<pollfd> watched{{listener, POLLIN, 0}};
        for (const Client& client : clients)
            watched.push_back({client.socket, static_cast<short>(client.stalled ? 0 : POLLIN), 0});
        if (poll(watched.data(), watched.size(), 20) <= 0)
            continue;
        for (size_t i = clients.size(); i-- > 0;) {
            Client& client = clients[i];
            if (!(watched[i + 1].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t got = recv(client.socket, buffer, sizeof buffer, 0);
            bool open = got > 0;
            if (open)
                client.pending.append(buffer, static_cast<int>(got));
            for (int end;
                 open && !client.stalled && (end = client.pending.indexOf("\r\n\r\n")) >= 0;) {
                const QByteArray head = client.pending.left(end);
                client.pending.remove(0, end + 4);
                const After after = Respond(client.socket, head, client.connection);
                open = after != After::Close;
                client.stalled = after == After::Stall;
            }
            if (!open) {
                ::close(client.socket);
                clients.erase(clients.begin() + static_cast<long>(i));
            }
        }
        if (watched[0].revents & POLLIN) {
            const int socket = accept(listener, nullptr, nullptr);
            if (socket >= 0) {
                const timeval sendLimit{5, 0};
                setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
                std::lock_guard<std::mutex> guard(lock);
                clients.push_back({socket, ++connections, QByteArray(), false});
            }
        }
    }
    for (const Client& client : clients)
        ::close(client.socket);
}

LoopbackHttpServer::After LoopbackHttpServer::Respond(int socket, const QByteArray& head,
                                                      int connection)
{
    Request request;
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    request.requestLine = lines.takeFirst();
    request.headerLines = lines;
    request.connection = connection;
    Answer answer;
    {
        std::lock_guard<std::mutex> guard(lock);
        requests.append(request);
        answer = answers.value(request.Path(), defaultAnswer);
    }
    for (int i = 0; i < answer.pieces.size(); ++i) {
        if (i > 0)
            QThread::msleep(kPieceGapMs);
        const QByteArray& piece = answer.pieces[i];
        if (send(socket, piece.constData(), static_cast<size_t>(piece.size()), MSG_NOSIGNAL) !=
            piece.size())
            return After::Close;
    }
    if (answer.stall)
        return After::Stall;
    return answer.pieces.value(0).contains("Connection: close") ? After::Close : After::Continue;
}
