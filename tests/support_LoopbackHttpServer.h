#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <atomic>
#include <mutex>
#include <thread>

// A small HTTP server of the tests' own on 127.0.0.N, port 7000 + N: the
// address and port the version check derives from its host name. It records
// every request head it receives and answers with canned bytes.
class LoopbackHttpServer
{
public:
    explicit LoopbackHttpServer(int lastAddressByte);
    ~LoopbackHttpServer();

    bool IsListening() const { return listener >= 0; }
    QByteArray Host() const;
    int Port() const;
    // "http://127.0.0.N:port" followed by path.
    QByteArray Url(const QByteArray& path) const;

    // The answer to a request for path, or to any request without its own.
    // The pieces are written one after another with a pause between them so
    // the client receives them separately. The connection is closed after the
    // answer only when it says "Connection: close". With stall the connection
    // is left open after the last piece, never finishing the reply.
    struct Answer
    {
        QList<QByteArray> pieces;
        bool stall = false;
    };
    void SetAnswer(const Answer& answer);
    void SetAnswer(const QByteArray& path, const Answer& answer);

    struct Request
    {
        QByteArray requestLine;
        QList<QByteArray> headerLines;
        int connection = 0;
        QByteArray Header(const QByteArray& name) const;
        QByteArray Path() const;
    };
    QList<Request> Requests() const;
    int Connections() const;
    bool WaitForRequests(int count, int timeoutMs) const;

    // Status line, Content-Length and the extra header lines (each ending in "\r\n").
    static QByteArray Reply(int status, const QByteArray& body, const QByteArray& headers = {});

private:
    enum class After
    {
        Close,
        Continue,
        Stall
    };
    void Serve();
    After Respond(int socket, const QByteArray& head, int connection);

    int lastByte;
    int listener = -1;
    std::atomic<bool> stopping{false};
    mutable std::mutex lock;
    Answer defaultAnswer;
    QMap<QByteArray, Answer> answers;
    QList<Request> requests;
    int connections = 0;
    std::thread worker;
};

// The bytes as pieces of one byte each: a server that drip-feeds its reply.
QList<QByteArray> OneBytePieces(const QByteArray& bytes);

// A gzip member holding data, as a server sends it with "Content-Encoding: gzip".
QByteArray GzipBody(const QByteArray& data);
