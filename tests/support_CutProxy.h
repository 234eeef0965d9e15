#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A loopback TCP relay between a till and the test server that can break the
// link at a chosen statement, as a network that fails at the worst moment.
class CutProxy
{
public:
    explicit CutProxy(int serverPort);
    ~CutProxy();

    int Port() const { return port; }
    // The server's connection string through the relay.
    QString Connection() const;

    // The next client message holding text: `before` runs first, on the
    // relay's thread; with cut the message goes on, the server's reply is
    // dropped and both links close.
    void Arm(const QByteArray& text, bool cut, std::function<void()> before = {});
    bool Fired() const { return fired; }

private:
    struct Link
    {
        int client;
        int server;
        bool dropReply;
    };
    void Serve();
    void Accept();
    bool Relay(Link& link, bool fromClient);

    int listener = -1;
    int port = 0;
    const int serverPort;
    std::atomic<bool> stopping{false};
    std::atomic<bool> fired{false};
    std::mutex lock;
    QByteArray trigger;
    bool cut = false;
    std::function<void()> before;
    std::vector<Link> links;
    std::thread worker;
};
